#!/bin/sh
# Builds a replay benchmark optimised (in build-bench/) and runs it. Figures vary with machine
# load; every figure is printed next to a reference run of the FFmpeg command line on the same data.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF >/dev/null
# The first argument may name the benchmark: replay_bench (live encoder, the default) or save_bench.
bench=replay_bench
case "${1:-}" in replay_bench|save_bench) bench=$1; shift ;; esac
cmake --build "$root/build-bench" --target "$bench" -j2
"$root/build-bench/bench/$bench" "$@" 2>/dev/null
