#!/usr/bin/env bash
# Configures and builds Corvane into a build folder.
#   scripts/build.sh [build-dir] [extra cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$root/build}
shift || true
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build_dir" "${generator[@]}" "$@"
else
  cmake "$build_dir" "$@" >/dev/null
fi
cmake --build "$build_dir" -j"$(nproc)"
