#!/usr/bin/env bash
# Runs Corvane on the private desktop that scripts/with-test-session.sh made (Xvfb, tray host,
# session D-Bus, PulseAudio null sink), with something to record: a tone playing into the sink
# and a window with moving content. Prints how to save a clip from another terminal. Ctrl+C (or
# SIGTERM) ends Corvane and everything started here.
#
#   scripts/with-test-session.sh e2e/virtual_desktop.sh <corvane binary> [corvane args...]
set -uo pipefail
binary=${1:?usage: virtual_desktop.sh <corvane binary> [args...]}
shift
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; }
trap cleanup EXIT

ffmpeg -nostdin -loglevel quiet -re -f lavfi -i "sine=frequency=440:sample_rate=48000" -ac 2 \
  -f pulse default &
pids+=($!)
# Moving content: a test pattern with a running clock in a window, and an analogue clock.
if command -v ffplay >/dev/null; then
  SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -f lavfi -i "testsrc2=size=960x540:rate=30" \
    -an -noborder -left 40 -top 60 -window_title "Moving content" &
  pids+=($!)
fi
if command -v xclock >/dev/null; then
  xclock -update 1 -geometry 300x300+1100+300 &
  pids+=($!)
fi

clips="${HOME}/Videos/Corvane"
cat <<TEXT
Virtual desktop ready on DISPLAY=$DISPLAY. To save the last 30 seconds from another terminal:
  DISPLAY=$DISPLAY xdotool key super+shift+1
or over D-Bus:
  DBUS_SESSION_BUS_ADDRESS='$DBUS_SESSION_BUS_ADDRESS' gdbus call --session --dest org.corvane.Corvane --object-path /org/corvane/Corvane --method org.corvane.Corvane.SaveClip 30
Clips are written to the clips folder of the configuration (by default $clips).
Press Ctrl+C to stop.
TEXT

"$binary" "$@" &
corvane=$!
trap 'kill -TERM $corvane 2>/dev/null' INT TERM
wait $corvane
status=$?
# A signal interrupts the first wait; wait again for Corvane's own exit status.
if kill -0 $corvane 2>/dev/null; then wait $corvane; status=$?; fi
exit $status
