#!/usr/bin/env bash
# Runs a command inside a private desktop session: Xvfb, a session D-Bus (plus a private bus
# standing in for the system bus), PulseAudio with a 48 kHz null sink, a tray host and a
# notification daemon. Everything started here is stopped when the command ends.
#
#   scripts/with-test-session.sh <command> [args...]
#
# The services run in sessions of their own, so Ctrl+C reaches only the command.
# CORVANE_SESSION_SCREEN (default 1920x1080x24) sets the virtual screen.
set -uo pipefail

screen_geometry=${CORVANE_SESSION_SCREEN:-1920x1080x24}
session_dir=$(mktemp -d /tmp/corvane-session.XXXXXX)
chmod 700 "$session_dir"
pids=()

cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  sleep 0.2
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  rm -rf "$session_dir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

export XDG_RUNTIME_DIR="$session_dir/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

# A free display number.
display_num=90
while [ -e "/tmp/.X11-unix/X$display_num" ] || [ -e "/tmp/.X$display_num-lock" ]; do
  display_num=$((display_num + 1))
done
setsid Xvfb ":$display_num" -screen 0 "$screen_geometry" -nolisten tcp +extension RANDR \
  +extension Composite >"$session_dir/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display_num"
for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X$display_num" ] && break
  sleep 0.05
done

# The session bus must exist before any X client starts (no autolaunch).
dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$session_dir/bus.txt"
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$session_dir/bus.txt")
pids+=($(sed -n 2p "$session_dir/bus.txt"))
dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$session_dir/sysbus.txt"
export DBUS_SYSTEM_BUS_ADDRESS=$(sed -n 1p "$session_dir/sysbus.txt")
pids+=($(sed -n 2p "$session_dir/sysbus.txt"))

setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=file:"$session_dir/pulse.log" \
  --load=module-native-protocol-unix \
  --load="module-null-sink sink_name=corvane_test_sink rate=48000 channels=2" \
  >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.05
done
pactl set-default-sink corvane_test_sink >/dev/null 2>&1 || true

if [ "${CORVANE_SESSION_NO_TRAY:-0}" != 1 ]; then
  setsid trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false >/dev/null 2>&1 &
  pids+=($!)
fi
if [ "${CORVANE_SESSION_NO_NOTIFY:-0}" != 1 ]; then
  setsid dunst >/dev/null 2>&1 &
  pids+=($!)
fi

export QT_QPA_PLATFORM=xcb
"$@"
status=$?
exit $status
