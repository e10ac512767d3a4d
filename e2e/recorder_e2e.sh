#!/usr/bin/env bash
# End to end: the real `corvane` on the desktop session it is started in (Xvfb, tray host,
# session D-Bus with a notification server, PulseAudio null sink), with HOME in a temporary
# folder. Plays a tone, saves a clip through the real global shortcut, checks the MP4 (H.264 +
# AAC, length, audible), the notification on the bus and the tray menu (screenshot kept), adds a
# profile live through the configuration file and SIGHUP, saves with it, and ends the program
# with SIGTERM.
#
#   e2e/recorder_e2e.sh <corvane binary> [artefact folder]
#
# Runs inside scripts/with-test-session.sh (ctest does so). Fails, never skips, when the
# session is missing.
set -uo pipefail
# The whole program on a desktop: some of what Qt's plugins, GStreamer and Mesa keep until exit
# is reported from modules already unloaded, which no suppression can name.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"

binary=${1:?usage: recorder_e2e.sh <corvane binary> [artefact folder]}
artefacts=${2:-$(pwd)/e2e-artefacts}
mkdir -p "$artefacts"

fail() { echo "E2E FAILED: $*" >&2; exit 1; }
step() { echo "--- $*"; }

[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run inside scripts/with-test-session.sh"
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no session bus"
pactl info >/dev/null 2>&1 || fail "no PulseAudio server"
for tool in xdotool ffprobe ffmpeg dbus-monitor import; do
  command -v "$tool" >/dev/null || fail "missing $tool"
done

work=$(mktemp -d /tmp/corvane-e2e.XXXXXX)
export HOME="$work/home"
mkdir -p "$HOME"
clips="$HOME/Videos/Corvane"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${corvane_pid:-}" ] && kill -9 "$corvane_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
  >"$work/notify.log" 2>&1 &
pids+=($!)

step "tone into the null sink"
ffmpeg -nostdin -loglevel error -re -f lavfi -i "sine=frequency=440:sample_rate=48000" -ac 2 \
  -t 120 -f pulse default &
pids+=($!)

step "start corvane"
"$binary" >"$work/corvane.log" 2>&1 &
corvane_pid=$!

wait_for() {  # seconds, command...
  local limit=$1; shift
  local end=$((SECONDS + limit))
  while [ $SECONDS -lt $end ]; do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}
count_clips() { find "$clips" -maxdepth 1 -name 'Clip_*.mp4' 2>/dev/null | wc -l; }
clips_at_least() { [ "$(count_clips)" -ge "$1" ]; }

wait_for 20 grep -q "capture stream started" "$work/corvane.log" || {
  cat "$work/corvane.log"; fail "capture did not start"; }
grep -q "Hotkey registered: \[Super+Shift+1\] -> Action ID 1" "$work/corvane.log" ||
  fail "Super+Shift+1 was not registered"
# Start-up is quiet: the hardware encoders are probed once, in one line, without FFmpeg's errors,
# and nothing names another platform's keys.
[ "$(grep -c "Hardware video encoders: " "$work/corvane.log")" = 1 ] ||
  fail "the hardware encoders were not reported in exactly one line"
! grep -q -e "libcuda" -e "MFX" -e "Cmd" -e "RegisterEventHotKey" "$work/corvane.log" ||
  fail "start-up printed foreign or noisy lines: $(grep -e libcuda -e MFX -e Cmd -e RegisterEventHotKey "$work/corvane.log")"
grep -q "Back ends: screen capture X11, system audio PulseAudio, global shortcuts X11 key grabs" \
  "$work/corvane.log" || fail "the X11 back ends were not chosen"
sleep 12

step "open the tray menu and keep a screenshot"
tray=$(xdotool search --name '^panel$' 2>/dev/null | head -1)  # trayer's panel holds the icon
if [ -n "$tray" ]; then
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 1
  import -window root "$artefacts/tray-menu.png" || true
  xdotool key Escape
else
  echo "no trayer window found: no menu screenshot"
fi

step "save through the global shortcut (Super+Shift+1)"
pressed=$(date +%s.%N)
xdotool key super+shift+1
wait_for 15 clips_at_least 1 || { cat "$work/corvane.log"; fail "no clip appeared"; }
appeared=$(date +%s.%N)
echo "clip on disk $(awk -v a="$appeared" -v p="$pressed" 'BEGIN { printf "%.2f", a - p }') s after the key press"
clip=$(find "$clips" -maxdepth 1 -name 'Clip_*.mp4' | head -1)
sleep 0.5

streams=$(ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 "$clip")
echo "$streams"
echo "$streams" | grep -q "^h264,video$" || fail "no H.264 video stream in $clip"
echo "$streams" | grep -q "^aac,audio$" || fail "no AAC audio stream in $clip"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip")
echo "clip length ${duration} s"
awk -v d="$duration" 'BEGIN { exit !(d >= 9 && d <= 16) }' || fail "clip length $duration is not about 12 s"
mean=$(ffmpeg -nostdin -i "$clip" -af volumedetect -vn -f null - 2>&1 | sed -n 's/.*mean_volume: \(-\?[0-9.]*\) dB/\1/p')
echo "audio mean volume ${mean} dB"
awk -v m="$mean" 'BEGIN { exit !(m > -45) }' || fail "the clip's audio is silent"
seconds=$(basename "$clip" | sed -n 's/.*_\([0-9]*\)s\.mp4$/\1/p')

step "notification on the bus"
wait_for 5 grep -q "Corvane - Clip saved (${seconds}s)" "$work/notify.log" ||
  { cat "$work/notify.log"; fail "no \"Corvane - Clip saved (${seconds}s)\" notification"; }

step "add a 45 s profile on Ctrl+Alt+9, reload with SIGHUP, save with it"
config="$HOME/.config/corvane/config.toml"
[ -f "$config" ] || fail "configuration file was not created"
printf '\n[[records]]\nduration = 45\nhotkey = "Ctrl+Alt+9"\n' >>"$config"
kill -HUP "$corvane_pid"
wait_for 5 grep -q "Hotkey registered: \[Ctrl+Alt+9\]" "$work/corvane.log" ||
  { cat "$work/corvane.log"; fail "the new shortcut was not registered"; }
xdotool key ctrl+alt+9
wait_for 15 clips_at_least 2 || { cat "$work/corvane.log"; fail "Ctrl+Alt+9 saved no clip"; }
grep -q "Hotkey triggered for 45s clip" "$work/corvane.log" || fail "the 45 s profile did not fire"
# New shortcuts change nothing about capture: the reload must not restart it (and empty the buffer).
starts=$(grep -c "capture stream started" "$work/corvane.log")
[ "$starts" -eq 1 ] || fail "capture was started $starts times; the reload restarted it"

step "SIGTERM ends the program cleanly"
kill -TERM "$corvane_pid"
start=$(date +%s.%N)
wait "$corvane_pid"
status=$?
took=$(awk -v e="$(date +%s.%N)" -v s="$start" 'BEGIN { printf "%.2f", e - s }')
corvane_pid=
echo "exit status $status after $took s"
cp "$work/corvane.log" "$artefacts/corvane.log"
[ "$status" -eq 0 ] || fail "exit status $status"
# The bound catches a hang, not a slow machine: sanitizer builds pass a slowdown factor.
awk -v t="$took" -v f="${CORVANE_SLOWDOWN:-1}" 'BEGIN { exit !(t < 2.5 * f) }' || fail "quitting took $took s"
echo "E2E PASSED"
