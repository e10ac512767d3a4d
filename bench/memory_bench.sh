#!/usr/bin/env bash
# Resident memory of the running recorder across many saves: 200 clips asked over D-Bus
# (SaveClip) with a full replay buffer, once with the main window shown and once after it was
# closed, printing resident memory and threads at the plateau before the first save, after
# every 50 saves and 60 s after the last, each as a ratio to the plateau.
# Goal: every figure within 10 % of the plateau, with no upward trend.
#
#   bench/memory_bench.sh [corvane binary] [saves] ["window-shown window-closed"]
# Builds an optimised binary in build-bench/ when none is given (a sanitizer build measures the
# sanitizer's own allocator), then runs on a private 1280x720 virtual desktop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-}
saves=${2:-200}
modes=${3:-window-shown window-closed}
if [ -z "$binary" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target corvane -j2 >/dev/null
  binary="$root/build-bench/src/app/corvane"
fi
export CORVANE_SESSION_SCREEN=1280x720x24 CORVANE_SESSION_NO_NOTIFY=1
exec "$root/scripts/with-test-session.sh" "$root/bench/memory_bench_session.sh" "$binary" "$saves" "$modes"
