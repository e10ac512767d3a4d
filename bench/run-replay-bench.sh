#!/bin/sh
# Builds the replay benchmark optimised (in build-bench/) and runs it. Figures vary with machine
# load; every figure is printed next to a reference run of the FFmpeg command line on the same data.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target replay_bench -j2
"$root/build-bench/bench/replay_bench" "$@" 2>/dev/null
