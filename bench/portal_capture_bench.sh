#!/usr/bin/env bash
# CPU of the recorder per captured second at 1280x720 30 fps with system audio, capturing through
# the ScreenCast portal and PipeWire on the headless Wayland test desktop, against X11 capture of
# the same moving picture (ffplay's test pattern) on the X11 test desktop. Alternated twice;
# prints each run, the frames per second kept in a saved clip, and the ratio portal / X11.
# The Wayland desktop's own animated client is stopped, so both scenes are the test pattern alone.
#
#   bench/portal_capture_bench.sh [corvane binary]
# Builds an optimised binary in build-bench/ when none is given.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-}
if [ -z "$binary" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target corvane -j2 >/dev/null
  binary="$root/build-bench/src/app/corvane"
fi
export CORVANE_SESSION_SCREEN=1280x720x24 CORVANE_SESSION_NO_NOTIFY=1
declare -A total
for round in 1 2; do
  for platform in x11 wayland; do
    if [ "$platform" = x11 ]; then
      line=$("$root/scripts/with-test-session.sh" "$root/bench/portal_capture_bench_session.sh" x11 "$binary" | tail -1)
    else
      line=$("$root/scripts/with-wayland-session.sh" "$root/bench/portal_capture_bench_session.sh" wayland "$binary" | tail -1)
    fi
    echo "round $round  $line"
    cpu=$(awk '{ print $2 }' <<<"$line")
    total[$platform]=$(awk -v a="${total[$platform]:-0}" -v b="$cpu" 'BEGIN { print a + b }')
  done
done
echo "ratio portal / X11: $(awk -v w="${total[wayland]}" -v x="${total[x11]}" 'BEGIN { printf "%.2f", w / x }')"
