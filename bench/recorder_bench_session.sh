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

# Moving content over the whole screen, the same for both runs: started after Corvane's window
# has appeared, so that (with no window manager) the pattern is on top.
scene=
show_scene() {
  [ -n "$scene" ] && kill "$scene" 2>/dev/null
  SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -f lavfi -i "testsrc2=size=640x360:rate=30" -an \
    -x "${size%x*}" -y "${size#*x}" -left 0 -top 0 -noborder &
  scene=$!
  pids+=($scene)
}
# A chord over a little noise, closer to what a desktop plays than a pure tone (which is the AAC
# coder's costliest case: about 3 % of a core against 0.7 % for this, measured with the CLI).
ffmpeg -nostdin -loglevel quiet -re -f lavfi \
  -i "aevalsrc=0.15*sin(2*PI*220*t)+0.1*sin(2*PI*277*t)+0.1*sin(2*PI*330*t)+0.05*(random(0)-0.5):s=48000" \
  -ac 2 -f pulse default &
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

echo "== CPU while recording ${size}@${fps} at ${kbps} kbit/s with audio (${window} s after ${warmup} s warm-up, alternated twice)"
count() { find "$work/clips" -name 'Clip_*.mp4' 2>/dev/null | wc -l; }
newest() { ls -t "$work"/clips/Clip_*.mp4 | head -1; }
save_latency() {  # key, clips expected after
  local before=$(count) start end
  start=$(date +%s.%N)
  xdotool key "$1"
  while [ "$(count)" -le "$before" ]; do sleep 0.01; done
  end=$(date +%s.%N)
  awk -v e="$end" -v s="$start" 'BEGIN { printf "%.3f", e - s }'
}
# Frames per second of video actually kept in a file: did the recorder hold the rate?
held_fps() {
  ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets:format=duration \
    -of default=nw=1:nk=1 "$1" | paste -sd' ' | awk '{ printf "%.1f", $1 / $2 }'
}
thread_ticks() {  # pid, thread name: CPU ticks of that thread
  for t in /proc/"$1"/task/*; do
    [ "$(cat "$t/comm")" = "$2" ] && awk '{ print $14 + $15 }' "$t/stat"
  done | awk '{ s += $1 } END { print s + 0 }'
}

run_corvane() {
  "$binary" >"$work/corvane.log" 2>&1 &
  corvane=$!
  sleep 3
  show_scene
  sleep "$warmup"
  local a b
  a=$(thread_ticks "$corvane" ane.audio-queue)
  corvane_cpu=$(measure "$corvane")
  b=$(thread_ticks "$corvane" ane.audio-queue)
  audio_cpu=$(awk -v a="$a" -v b="$b" -v t="$ticks" -v w="$window" 'BEGIN { printf "%.1f", 100 * (b - a) / t / w }')
  latency=$(save_latency super+shift+1)
  echo "corvane:   ${corvane_cpu} % of one core (audio lane ${audio_cpu} %), held $(held_fps "$(newest)") fps; 30 s save ${latency} s"
  if [ "$long" = 1 ] && [ -z "${long_done:-}" ]; then
    sleep 110
    echo "130 s clip: $(save_latency super+shift+2) s"
    long_done=1
  fi
  grep -c "non monotonically increasing dts" "$work/corvane.log" | sed 's/^/  dts warnings in the log: /'
  kill -TERM "$corvane"; wait "$corvane" 2>/dev/null
}

# The preset Corvane's software encoder picks for this pixel rate, so both runs do the same work.
# The picture format is named too: from x11grab's BGR0 the command line would otherwise pick
# 4:4:4 (High 4:4:4 Predictive, which many players and hardware decoders refuse), a different
# encode from Corvane's 4:2:0.
preset=$(awk -v s="$size" -v f="$fps" 'BEGIN { split(s, d, "x"); print (d[1] * d[2] * f <= 1280 * 720 * 30) ? "veryfast" : "ultrafast" }')
run_reference() {
  local out=/dev/shm/corvane-bench-ref
  mkdir -p "$out"
  # Deep input queues: with the default of 8, the grabber blocks while the command line waits for
  # the audio input, and the MP4 output then repeats frames to keep the rate (measured: 482 of 605
  # frames repeats), which makes the reference look far cheaper than a real capture.
  ffmpeg -nostdin -loglevel error -progress "$out/progress" \
    -thread_queue_size 1024 -f x11grab -framerate "$fps" -video_size "$size" -draw_mouse 1 -i "$DISPLAY" \
    -thread_queue_size 1024 -f pulse -sample_rate 48000 -channels 2 -i default \
    -c:v libx264 -pix_fmt yuv420p -preset "$preset" -tune zerolatency -b:v "${kbps}k" -maxrate "$((kbps * 3 / 2))k" -bufsize "$((kbps * 3 / 2))k" \
    -g "$fps" -bf 0 -x264-params scenecut=0 -c:a aac -b:a 192k \
    -f segment -segment_time 10 -segment_wrap 14 -reset_timestamps 1 "$out/seg%03d.mp4" &
  reference=$!
  sleep "$warmup"
  reference_cpu=$(measure "$reference")
  kill -INT "$reference"; wait "$reference" 2>/dev/null
  local repeats
  repeats=$(awk -F= '/^frame=/ { f = $2 } /^dup_frames=/ { d = $2 } END { printf "%d of %d", d, f }' "$out/progress")
  echo "reference: ${reference_cpu} % of one core, held $(held_fps "$out/seg001.mp4") fps with ${repeats} frames repeated (ffmpeg x11grab + pulse + libx264 $preset 4:2:0 + aac, segment muxer on tmpfs)"
  rm -rf "$out"
}

total_c=0 total_r=0
for round in 1 2; do
  run_corvane
  run_reference
  total_c=$(awk -v a="$total_c" -v b="$corvane_cpu" 'BEGIN { print a + b }')
  total_r=$(awk -v a="$total_r" -v b="$reference_cpu" 'BEGIN { print a + b }')
done
echo "ratio corvane / reference: $(awk -v c="$total_c" -v r="$total_r" 'BEGIN { printf "%.2f", c / r }')"
