#!/usr/bin/env bash
# The part of portal_capture_bench.sh that runs inside one test desktop. Prints one line:
# "<platform> <cpu %> % of one core, held <fps> fps".
set -uo pipefail
platform=$1
binary=$2
window=20
work=$(mktemp -d /tmp/corvane-portal-bench.XXXXXX)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT

if [ "$platform" = wayland ]; then
  export SDL_VIDEODRIVER=wayland
  # The desktop's own animated client would make this scene busier than the X11 one.
  pkill -f weston-presentation-shm
fi
ffmpeg -nostdin -loglevel quiet -re -f lavfi \
  -i "aevalsrc=0.15*sin(2*PI*220*t)+0.1*sin(2*PI*277*t)+0.1*sin(2*PI*330*t)+0.05*(random(0)-0.5):s=48000" \
  -ac 2 -f pulse default &
pids+=($!)

export HOME="$work/home"
mkdir -p "$HOME/.config/corvane"
cat >"$HOME/.config/corvane/config.toml" <<TOML
fps = 30
bitrate_kbps = 6000
resolution = "native"
output_dir = "$work/clips"
record_audio = true
play_sound = false
TOML
if [ "$platform" = wayland ]; then
  (unset DISPLAY; exec "$binary") >"$work/corvane.log" 2>&1 &
else
  "$binary" >"$work/corvane.log" 2>&1 &
fi
corvane=$!
pids+=($corvane)

# The moving pattern over the whole screen, on top of Corvane's window.
sleep 3
# (Full screen on sway; on X11 without a window manager, a borderless window of the screen's size.)
if [ "$platform" = wayland ]; then geometry=(-fs); else geometry=(-x 1280 -y 720 -left 0 -top 0 -noborder); fi
SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -f lavfi -i "testsrc2=size=640x360:rate=30" -an "${geometry[@]}" &
pids+=($!)

buffered() {
  gdbus call --session --dest org.corvane.Corvane --object-path /org/corvane/Corvane \
    --method org.corvane.Corvane.GetStatus 2>/dev/null | sed -n "s/.*'buffered_seconds': <\([0-9.]*\)>.*/\1/p"
}
for _ in $(seq 1 200); do
  b=$(buffered)
  [ -n "$b" ] && awk -v b="$b" 'BEGIN { exit !(b >= 4) }' && break
  sleep 0.2
done

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
a=$(cpu_ticks "$corvane"); sleep "$window"; b=$(cpu_ticks "$corvane")
clip=$("$binary" --save 10 2>/dev/null)
held=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets:format=duration \
  -of default=nw=1:nk=1 "$clip" 2>/dev/null | paste -sd' ' | awk '{ if ($2 > 0) printf "%.1f", $1 / $2; else print "?" }')
awk -v p="$platform" -v a="$a" -v b="$b" -v t="$ticks" -v w="$window" -v h="$held" \
  'BEGIN { printf "%-8s %.1f %% of one core, held %s fps\n", p, 100 * (b - a) / t / w, h }'
[ -n "${CORVANE_BENCH_KEEP:-}" ] && cp "$clip" "$CORVANE_BENCH_KEEP-$platform.mp4"
kill -TERM "$corvane"; wait "$corvane" 2>/dev/null
