#!/usr/bin/env bash
# A long unattended run of the recorder, the way a user leaves it for days (window closed): a
# moving picture and sound on a private 1280x720 virtual desktop, a full replay buffer, a 30 s
# save every five minutes through `corvane --save`, and one audio-server restart half-way. Every minute it prints
# resident memory (as a ratio to the first full-buffer reading), threads, open files and CPU;
# at the end the memory trend per hour, whether every save produced a playable clip with sound,
# and whether audio came back after the restart.
#
#   bench/soak_bench.sh [corvane binary] [minutes]      (default 30 minutes; 1440 for a day)
# Builds an optimised binary in build-bench/ when none is given.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-}
minutes=${2:-30}
if [ -z "$binary" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target corvane -j2 >/dev/null
  binary="$root/build-bench/src/app/corvane"
fi
export CORVANE_SESSION_SCREEN=1280x720x24 CORVANE_SESSION_NO_NOTIFY=1
exec "$root/scripts/with-test-session.sh" "$root/bench/soak_bench_session.sh" "$binary" "$minutes"
