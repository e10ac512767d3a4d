#!/usr/bin/env bash
# The part of recorder_bench.sh that runs inside the virtual desktop.
set -uo pipefail
binary=$1
long=$2
warmup=6
window=20
size=${CORVANE_BENCH_SIZE:-1280x720}
fps=${CORVANE_BENCH_FPS:-30}
# The bit rate Corvane's automatic rule picks for this size and rate, written out so that both
# runs use the same one.
kbps=$(awk -v s="$size" -v f="$fps" 'BEGIN { split(s, d, "x");
  k = int(((d[1] * d[2] * f / 124416000) ^ 0.72 * 12000) / 500 + 0.5) * 500;
  printf "%d", k < 2500 ? 2500 : k }')
work=$(mktemp -d /tmp/corvane-bench.XXXXXX)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# CPU % of one core used by process $1 over $window seconds.
measure() {
  local a b
  a=$(cpu_ticks "$1"); sleep "$window"; b=$(cpu_ticks "$1")
  awk -v a="$a" -v b="$b" -v t="$ticks" -v w="$window" 'BEGIN { printf "%.1f", 100 * (b - a) / t / w }'
}

# Moving content and a tone, the same for both runs.
SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -f lavfi -i "testsrc2=size=320x240:rate=30" -an \
  -noborder -left 100 -top 100 &
pids+=($!)
ffmpeg -nostdin -loglevel quiet -re -f lavfi -i "sine=frequency=440:sample_rate=48000" -ac 2 -f pulse default &
pids+=($!)

export HOME="$work/home"
mkdir -p "$HOME/.config/corvane"
cat >"$HOME/.config/corvane/config.toml" <<TOML
fps = $fps
bitrate_kbps = $kbps
resolution = "native"
max_buffer_seconds = 140.0
output_dir = "$work/clips"
record_audio = true
play_sound = false
show_menubar = true

[[records]]
duration = 30
hotkey = "Super+Shift+1"

[[records]]
duration = 130
hotkey = "Super+Shift+2"
TOML

echo "== CPU while recording ${size}@${fps} at ${kbps} kbit/s with audio (${window} s after ${warmup} s warm-up)"
"$binary" >"$work/corvane.log" 2>&1 &
corvane=$!
sleep "$warmup"
corvane_cpu=$(measure "$corvane")
echo "corvane:   ${corvane_cpu} % of one core"

count() { find "$work/clips" -name 'Clip_*.mp4' 2>/dev/null | wc -l; }
save_latency() {  # key, clips expected after
  local before=$(count) start end
  start=$(date +%s.%N)
  xdotool key "$1"
  while [ "$(count)" -le "$before" ]; do sleep 0.01; done
  end=$(date +%s.%N)
  awk -v e="$end" -v s="$start" 'BEGIN { printf "%.3f", e - s }'
}
echo "== Save latency, key press to finished file"
echo "30 s clip:  $(save_latency super+shift+1) s"
if [ "$long" = 1 ]; then
  sleep 110
  echo "130 s clip: $(save_latency super+shift+2) s"
fi
kill -TERM "$corvane"; wait "$corvane" 2>/dev/null

mkdir -p /dev/shm/corvane-bench-ref
ffmpeg -nostdin -loglevel error -f x11grab -framerate "$fps" -video_size "$size" -draw_mouse 1 -i "$DISPLAY" \
  -f pulse -sample_rate 48000 -channels 2 -i default \
  -c:v libx264 -preset ultrafast -tune zerolatency -b:v "${kbps}k" -maxrate "$((kbps * 3 / 2))k" -bufsize "$((kbps * 3 / 2))k" \
  -g "$fps" -bf 0 -x264-params scenecut=0 -c:a aac -b:a 192k \
  -f segment -segment_time 10 -segment_wrap 14 -reset_timestamps 1 /dev/shm/corvane-bench-ref/seg%03d.mp4 &
reference=$!
sleep "$warmup"
reference_cpu=$(measure "$reference")
kill -INT "$reference"; wait "$reference" 2>/dev/null
rm -rf /dev/shm/corvane-bench-ref
echo "reference: ${reference_cpu} % of one core (ffmpeg x11grab + pulse + libx264 + aac, segment muxer on tmpfs)"
echo "ratio corvane / reference: $(awk -v c="$corvane_cpu" -v r="$reference_cpu" 'BEGIN { printf "%.2f", c / r }')"
