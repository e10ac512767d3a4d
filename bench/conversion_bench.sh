#!/usr/bin/env bash
# Cost of the BGR0 -> YUV420P colour conversion that precedes the encoder, by swscale path, through
# the FFmpeg command line (the same library the encoder links): CPU seconds (user + sys) to convert
# the same frames from a file in shared memory with the command line's default filter (bicubic,
# the reference), the fast-bilinear path the encoder used before, and the point path it uses now
# for same-size frames. Alternated twice; prints each run and the ratio to the reference.
#   bench/conversion_bench.sh [WxH=1920x1080] [frames=480]
set -euo pipefail
size=${1:-1920x1080}
frames=${2:-480}
raw=$(mktemp /dev/shm/conversion_bench.XXXXXX)
trap 'rm -f "$raw"' EXIT
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=$size:rate=30" -frames:v 60 -pix_fmt bgr0 \
  -f rawvideo -y "$raw"

cpuSeconds() {
  local out
  out=$( { /usr/bin/time -f "%U %S" ffmpeg -loglevel error -stream_loop $((frames / 60 - 1)) \
    -f rawvideo -pix_fmt bgr0 -s "$size" -i "$raw" -sws_flags "$1" -pix_fmt yuv420p -f null - ; } 2>&1)
  awk 'END { print $1 + $2 }' <<<"$out"
}

declare -A total
for round in 1 2; do
  for flags in bicubic fast_bilinear neighbor; do
    s=$(cpuSeconds "$flags")
    total[$flags]=$(awk -v a="${total[$flags]:-0}" -v b="$s" 'BEGIN { print a + b }')
    printf "round %d  %-14s %6.2f s CPU for %d frames\n" "$round" "$flags" "$s" "$frames"
  done
done
for flags in fast_bilinear neighbor; do
  awk -v f="$flags" -v a="${total[$flags]}" -v r="${total[bicubic]}" \
    'BEGIN { printf "%-14s %.2fx the command line default (bicubic)\n", f, a / r }'
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
