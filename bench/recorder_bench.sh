#!/usr/bin/env bash
# Whole-program figures of the running recorder, each next to a reference run in the same script:
#   1. CPU while recording the screen (1280x720@30 unless CORVANE_BENCH_MODE=1920x1080@48) with system audio, against the FFmpeg command line doing
#      the same continuous capture + encode (x11grab + pulse + libx264 + AAC into a segment muxer
#      on tmpfs). Printed as CPU % of one core and the ratio Corvane / reference.
#   2. Save latency: from the global shortcut's key press to the finished clip on disk, for a
#      30 s clip (and a 130 s one with --long, which needs 2.5 minutes of recording).
#
#   bench/recorder_bench.sh [corvane binary] [--long]
# Builds an optimised binary in build-bench/ when none is given, then runs everything on a
# private virtual desktop of that size. Figures vary with machine load; compare the ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-}
long=0
[ "${2:-}" = "--long" ] || [ "${1:-}" = "--long" ] && long=1
if [ -z "$binary" ] || [ "$binary" = "--long" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target corvane -j2 >/dev/null
  binary="$root/build-bench/src/app/corvane"
fi
mode=${CORVANE_BENCH_MODE:-1280x720@30}
export CORVANE_BENCH_SIZE=${mode%@*} CORVANE_BENCH_FPS=${mode#*@}
export CORVANE_SESSION_SCREEN=${CORVANE_BENCH_SIZE}x24 CORVANE_SESSION_NO_NOTIFY=1
exec "$root/scripts/with-test-session.sh" "$root/bench/recorder_bench_session.sh" "$binary" "$long"
