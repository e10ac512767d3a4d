#!/usr/bin/env bash
# End to end: the real `corvane` on the desktop session it is started in (Xvfb, tray host,
# session D-Bus with a notification server, PulseAudio null sink), with HOME in a temporary
# folder. Plays a tone, saves a clip through the real global shortcut, checks the MP4 (H.264 +
# AAC, length, audible) and the notification on the bus, adds a profile live through the
# configuration file and SIGHUP, saves with it, and ends the program with SIGTERM.
#
#   e2e/recorder_e2e.sh <corvane binary> [artefact folder]
#
# Runs inside scripts/with-test-session.sh (ctest does so). Fails, never skips, when the
# session is missing.
source "$(dirname "$0")/lib.sh"
binary=${1:?usage: recorder_e2e.sh <corvane binary> [artefact folder]}
artefacts=${2:-$(pwd)/e2e-artefacts}
mkdir -p "$artefacts"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run inside scripts/with-test-session.sh"
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no session bus"
pactl info >/dev/null 2>&1 || fail "no PulseAudio server"
e2e_setup e2e xdotool ffprobe ffmpeg dbus-monitor
clips="$HOME/Videos/Corvane"
log="$work/corvane.log"

dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
  >"$work/notify.log" 2>&1 &
pids+=($!)

step "tone into the null sink"
ffmpeg -nostdin -loglevel error -re -f lavfi -i "sine=frequency=440:sample_rate=48000" -ac 2 \
  -t 120 -f pulse default &
pids+=($!)

step "start corvane"
"$binary" >"$log" 2>&1 &
corvane_pid=$!
clips_at_least() { [ "$(find "$clips" -maxdepth 1 -name 'Clip_*.mp4' 2>/dev/null | wc -l)" -ge "$1" ]; }

wait_for 20 grep -q "capture stream started" "$log" || { cat "$log"; fail "capture did not start"; }
grep -q "Hotkey registered: \[Super+Shift+1\] -> Action ID 1" "$log" || fail "Super+Shift+1 was not registered"
# Start-up is quiet: the hardware encoders are probed once, in one line, without FFmpeg's errors,
# and nothing names another platform's keys.
[ "$(grep -c "Hardware video encoders: " "$log")" = 1 ] ||
  fail "the hardware encoders were not reported in exactly one line"
! grep -q -e "libcuda" -e "MFX" -e "Cmd" -e "RegisterEventHotKey" "$log" ||
  fail "start-up printed foreign or noisy lines: $(grep -e libcuda -e MFX -e Cmd -e RegisterEventHotKey "$log")"
grep -q "Back ends: screen capture X11, system audio PulseAudio, global shortcuts X11 key grabs" "$log" ||
  fail "the X11 back ends were not chosen"
sleep 12

step "save through the global shortcut (Super+Shift+1)"
xdotool key super+shift+1
wait_for 15 clips_at_least 1 || { cat "$log"; fail "no clip appeared"; }
clip=$(find "$clips" -maxdepth 1 -name 'Clip_*.mp4' | head -1)
sleep 0.5
streams=$(ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 "$clip")
echo "$streams" | grep -q "^h264,video$" || fail "no H.264 video stream in $clip: $streams"
echo "$streams" | grep -q "^aac,audio$" || fail "no AAC audio stream in $clip: $streams"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip")
awk -v d="$duration" 'BEGIN { exit !(d >= 9 && d <= 16) }' || fail "clip length $duration is not about 12 s"
mean=$(ffmpeg -nostdin -i "$clip" -af volumedetect -vn -f null - 2>&1 | sed -n 's/.*mean_volume: \(-\?[0-9.]*\) dB/\1/p')
awk -v m="$mean" 'BEGIN { exit !(m > -45) }' || fail "the clip's audio is silent (mean volume $mean dB)"
seconds=$(basename "$clip" | sed -n 's/.*_\([0-9]*\)s\.mp4$/\1/p')

step "notification on the bus"
wait_for 5 grep -q "Corvane - Clip saved (${seconds}s)" "$work/notify.log" ||
  { cat "$work/notify.log"; fail "no \"Corvane - Clip saved (${seconds}s)\" notification"; }

step "add a 45 s profile on Ctrl+Alt+9, reload with SIGHUP, save with it"
config="$HOME/.config/corvane/config.toml"
[ -f "$config" ] || fail "configuration file was not created"
printf '\n[[records]]\nduration = 45\nhotkey = "Ctrl+Alt+9"\n' >>"$config"
kill -HUP "$corvane_pid"
wait_for 5 grep -q "Hotkey registered: \[Ctrl+Alt+9\]" "$log" || { cat "$log"; fail "the new shortcut was not registered"; }
xdotool key ctrl+alt+9
wait_for 15 clips_at_least 2 || { cat "$log"; fail "Ctrl+Alt+9 saved no clip"; }
grep -q "Hotkey triggered for 45s clip" "$log" || fail "the 45 s profile did not fire"
# New shortcuts change nothing about capture: the reload must not restart it (and empty the buffer).
starts=$(grep -c "capture stream started" "$log")
[ "$starts" -eq 1 ] || fail "capture was started $starts times; the reload restarted it"

step "SIGTERM ends the program cleanly"
stop_corvane
cp "$log" "$artefacts/corvane.log"
[ "$status" -eq 0 ] || fail "exit status $status"
# The bound catches a hang, not a slow machine: sanitizer builds pass a slowdown factor.
awk -v t="$took" -v f="${CORVANE_SLOWDOWN:-1}" 'BEGIN { exit !(t < 2.5 * f) }' || fail "quitting took $took s"
echo "E2E PASSED"
