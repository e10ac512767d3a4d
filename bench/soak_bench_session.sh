#!/usr/bin/env bash
# The part of soak_bench.sh that runs inside the virtual desktop.
set -uo pipefail
binary=$1
minutes=$2
save_every=${CORVANE_SOAK_SAVE_EVERY:-5}   # minutes
warmup=${CORVANE_SOAK_WARMUP:-140}   # seconds: a full 130 s buffer before the first reading
work=$(mktemp -d /tmp/corvane-soak.XXXXXX)
pids=()
tone=
server=
cleanup() {
  for pid in "${pids[@]}" $tone $server; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

start_tone() {
  ffmpeg -nostdin -loglevel quiet -re -f lavfi \
    -i "aevalsrc=0.15*sin(2*PI*220*t)+0.1*sin(2*PI*277*t)+0.1*sin(2*PI*330*t)+0.05*(random(0)-0.5):s=48000" \
    -ac 2 -f pulse default &
  tone=$!
}
# Kills the session's audio server and starts a fresh one on the same socket, as an update or a
# crash of the desktop's audio server does.
restart_audio_server() {
  kill "$tone" 2>/dev/null
  # This desktop's server only (other desktops may run on the same machine).
  local old
  old=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
  kill "$old"
  while kill -0 "$old" 2>/dev/null; do sleep 0.1; done
  setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=corvane_test_sink rate=48000 channels=2" >/dev/null 2>&1 &
  server=$!
  until pactl info >/dev/null 2>&1; do sleep 0.1; done
  pactl set-default-sink corvane_test_sink
  start_tone
}

SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -f lavfi -i "testsrc2=size=640x360:rate=30" -an \
  -noborder -left 100 -top 100 &
pids+=($!)
start_tone

export HOME="$work/home"
mkdir -p "$HOME/.config/corvane"
cat >"$HOME/.config/corvane/config.toml" <<TOML
fps = 30
resolution = "native"
output_dir = "$work/clips"
record_audio = true
play_sound = false
show_menubar = false
TOML
"$binary" >"$work/corvane.log" 2>&1 &
corvane=$!
pids+=($corvane)
# Left for days, the recorder lives in the tray: its window is closed.
here=$(cd "$(dirname "$0")" && pwd)
for _ in $(seq 1 30); do python3 "$here/close_window.py" Corvane 2>/dev/null && break; sleep 1; done

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
# One save through the command line; prints "ok" when the clip has a 30 s video and an audio track.
save_and_check() {
  local path duration audio
  path=$("$binary" --save 30 2>"$work/save.err") || { echo "failed: $(cat "$work/save.err")"; return; }
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$path")
  audio=$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$path")
  volume=$(ffmpeg -nostdin -i "$path" -af volumedetect -vn -f null - 2>&1 | awk '/mean_volume/ { print $5 }')
  echo "ok: ${duration} s, audio ${audio:-none} at ${volume:-?} dB"
}

sleep "$warmup"
kill -0 "$corvane" 2>/dev/null || { echo "Corvane did not start:"; cat "$work/corvane.log"; exit 1; }
first=$(rss_kb "$corvane")
echo "== soak: ${minutes} min after a ${warmup} s warm-up; first reading $((first / 1024)) MB"
echo "minute  resident  ratio  threads  files  cpu%   event"
samples="$work/samples"
: >"$samples"
saves=0 good=0
last=$(cpu_ticks "$corvane")
for ((m = 1; m <= minutes; m++)); do
  sleep 60
  kill -0 "$corvane" 2>/dev/null || { echo "Corvane exited at minute $m"; tail -20 "$work/corvane.log"; exit 1; }
  event=""
  if ((m == minutes / 2)); then
    restart_audio_server
    event="audio server restarted"
  elif ((m % save_every == 0)); then
    result=$(save_and_check)
    saves=$((saves + 1))
    [[ $result == ok:* && $result != *"audio none"* ]] && good=$((good + 1))
    event="save $result"
  fi
  now=$(cpu_ticks "$corvane")
  rss=$(rss_kb "$corvane")
  echo "$m $rss" >>"$samples"
  awk -v m="$m" -v r="$rss" -v f="$first" -v t="$(ls /proc/$corvane/task | wc -l)" \
      -v d="$(ls /proc/$corvane/fd | wc -l)" -v c="$(((now - last)))" -v k="$ticks" -v e="$event" \
      'BEGIN { printf "%6d  %5d MB  x%.2f  %7d  %5d  %4.1f   %s\n", m, r / 1024, r / f, t, d, 100 * c / k / 60, e }'
  last=$now
done

# Least-squares slope of resident memory over the run, per hour, as a share of the first reading.
awk -v f="$first" '{ n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2 }
  END { if (n < 2) exit; s = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        printf "memory trend: %+.1f MB per hour (%+.1f %% of the first reading)\n", s * 60 / 1024, 100 * s * 60 / f }' "$samples"
echo "saves with a clip and sound: $good of $saves"
if grep -q "System audio is back" "$work/corvane.log"; then
  echo "audio after the server restart: back ($(grep -c 'System audio reconnect failed' "$work/corvane.log") failed attempts first)"
else
  echo "audio after the server restart: NOT back"
fi
kill -TERM "$corvane"; wait "$corvane" 2>/dev/null
