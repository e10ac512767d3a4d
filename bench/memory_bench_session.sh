#!/usr/bin/env bash
# The part of memory_bench.sh that runs inside the virtual desktop.
set -uo pipefail
binary=$1
saves=$2
modes=${3:-window-shown window-closed}
here=$(cd "$(dirname "$0")" && pwd)
buffer_seconds=40
clip_seconds=10
work=$(mktemp -d /tmp/corvane-membench.XXXXXX)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT

# Moving content and a tone, so the buffer holds real video and audio.
SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -f lavfi -i "testsrc2=size=640x360:rate=30" -an \
  -noborder -left 100 -top 100 &
pids+=($!)
ffmpeg -nostdin -loglevel quiet -re -f lavfi -i "sine=frequency=440:sample_rate=48000" -ac 2 -f pulse default &
pids+=($!)

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
threads() { ls "/proc/$1/task" | wc -l; }
# Resident memory split: anonymous (heap, buffers), file-backed (library code and data touched)
# and shared (mostly the captured frames waiting for the encoder: one while it keeps up, up to six
# while a busy machine holds it back, given back a few seconds after).
split_mb() {
  awk '/^RssAnon:/ { a = $2 } /^RssFile:/ { f = $2 } /^RssShmem:/ { s = $2 }
       END { printf "anon %d MB, files %d MB, shared %d MB", a / 1024, f / 1024, s / 1024 }' "/proc/$1/status"
}
thread_names() { cat /proc/"$1"/task/*/comm 2>/dev/null | sort | uniq -c | awk '{ printf "%s%s x%s", sep, $2, $1; sep=", " }'; }
# The replay buffer's own bytes (video and audio), which follow what is on the screen: the window,
# when shown, is part of the captured picture and gets busier as its list fills.
buffer_kb() {
  gdbus call --session --dest org.corvane.Corvane --object-path /org/corvane/Corvane \
    --method org.corvane.Corvane.GetStatus 2>/dev/null |
    sed -n "s/.*'memory_bytes': <\(int64 \)\{0,1\}\([0-9]*\)>.*/\2/p" | awk '{ print int($1 / 1024) }'
}
save_clip() {
  gdbus call --session --timeout 60 --dest org.corvane.Corvane --object-path /org/corvane/Corvane \
    --method org.corvane.Corvane.SaveClip "$clip_seconds" >/dev/null
}
# The median of five readings a second apart: one reading may catch a save's peak.
settled_rss() {
  for _ in 1 2 3 4 5; do rss_kb "$1"; sleep 1; done | sort -n | sed -n 3p
}

run() {  # label, whether to close the main window first
  local label=$1 close=$2
  export HOME="$work/home-$label"
  mkdir -p "$HOME/.config/corvane"
  cat >"$HOME/.config/corvane/config.toml" <<TOML
fps = 30
bitrate_kbps = 6000
resolution = "native"
max_buffer_seconds = $buffer_seconds.0
output_dir = "$work/clips-$label"
record_audio = true
play_sound = false
show_menubar = true

[[records]]
duration = $clip_seconds
hotkey = "Super+Shift+1"
TOML
  "$binary" >"$work/corvane-$label.log" 2>&1 &
  local pid=$!
  pids+=("$pid")
  sleep 3
  if [ "$close" = 1 ]; then
    # The window opens once the event loop runs, which takes longer on a busy machine.
    local tries=0
    until python3 "$here/close_window.py" "Corvane" 2>/dev/null; do
      if ((++tries > 30)); then echo "could not close the main window"; kill -TERM "$pid"; return; fi
      sleep 1
    done
  fi
  # A full buffer first: its memory is the plateau every figure is compared with.
  sleep $((buffer_seconds + 5))
  local plateau
  plateau=$(settled_rss "$pid")
  local plateau_buffer
  plateau_buffer=$(buffer_kb)
  echo "== $label: plateau with a full ${buffer_seconds} s buffer: $((plateau / 1024)) MB ($(split_mb "$pid"), buffer $((plateau_buffer / 1024)) MB), $(threads "$pid") threads"
  local failed=0
  for ((i = 1; i <= saves; i++)); do
    save_clip || failed=$((failed + 1))
    # The first save also shows what a first clip costs (its row, thumbnail and poster).
    if ((i % 50 == 0 || i == 1)); then
      local now
      now=$(settled_rss "$pid")
      awk -v n="$i" -v r="$now" -v p="$plateau" -v t="$(threads "$pid")" -v s="$(split_mb "$pid")" \
        -v b="$(buffer_kb)" -v pb="$plateau_buffer" \
        'BEGIN { printf "after %3d saves: %4d MB  x%.2f of the plateau (%s, buffer %d MB), %s threads; without the buffer x%.2f\n", n, r / 1024, r / p, s, b / 1024, t, (r - b) / (p - pb) }'
    fi
  done
  sleep 60
  local after
  after=$(settled_rss "$pid")
  awk -v r="$after" -v p="$plateau" -v t="$(threads "$pid")" -v s="$(split_mb "$pid")" \
    -v b="$(buffer_kb)" -v pb="$plateau_buffer" \
    'BEGIN { printf "60 s after:       %4d MB  x%.2f of the plateau (%s, buffer %d MB), %s threads; without the buffer x%.2f\n", r / 1024, r / p, s, b / 1024, t, (r - b) / (p - pb) }'
  echo "saves failed: $failed; clips written: $(find "$work/clips-$label" -name 'Clip_*.mp4' | wc -l)"
  echo "threads: $(thread_names "$pid")"
  kill -TERM "$pid"; wait "$pid" 2>/dev/null
}

for mode in $modes; do
  run "$mode" "$([ "$mode" = window-closed ] && echo 1 || echo 0)"
done
