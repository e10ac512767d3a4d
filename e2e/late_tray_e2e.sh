#!/usr/bin/env bash
# A tray host that starts after Corvane (as panels often do at login) still gets its item.
# Runs on an X server and a session bus of its own, so it cannot disturb other tests.
#
#   e2e/late_tray_e2e.sh <corvane binary>
set -uo pipefail
# The whole program on a desktop: some of what Qt's plugins, GStreamer and Mesa keep until exit
# is reported from modules already unloaded, which no suppression can name.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
binary=${1:?usage: late_tray_e2e.sh <corvane binary>}
fail() { echo "E2E FAILED: $*" >&2; exit 1; }
for tool in Xvfb trayer dbus-run-session xwininfo; do
  command -v "$tool" >/dev/null || fail "missing $tool"
done

work=$(mktemp -d /tmp/corvane-tray.XXXXXX)
pids=()
cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

n=150
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"


dbus-run-session -- bash -c '
  "$1" >"$2/corvane.log" 2>&1 &
  corvane=$!
  sleep 3
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false >/dev/null 2>&1 &
  tray=$!
  ok=1
  for _ in $(seq 1 50); do
    if xwininfo -root -tree 2>/dev/null | grep -A6 "\"panel\": (\"panel\" \"trayer\")" | grep -q "\"corvane\""; then ok=0; break; fi
    sleep 0.2
  done
  xwininfo -root -tree >"$2/tree.txt" 2>&1
  kill -TERM $corvane; wait $corvane; status=$?
  kill $tray 2>/dev/null
  [ $ok -eq 0 ] || { echo "the late tray host did not get the item"; cat "$2/tree.txt" "$2/corvane.log"; exit 1; }
  [ $status -eq 0 ] || { echo "corvane exit status $status"; cat "$2/corvane.log"; exit 1; }
' _ "$binary" "$work" || fail "see above"
echo "E2E PASSED"
