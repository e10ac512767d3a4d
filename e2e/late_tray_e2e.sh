#!/usr/bin/env bash
# A tray host that starts after Corvane (as panels often do at login) still gets its item.
# Runs on an X server and a session bus of its own, so it cannot disturb other tests.
#
#   e2e/late_tray_e2e.sh <corvane binary>
source "$(dirname "$0")/lib.sh"
binary=${1:?usage: late_tray_e2e.sh <corvane binary>}
e2e_setup tray Xvfb trayer dbus-run-session xwininfo

n=150
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$n" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
wait_for 5 test -e "/tmp/.X11-unix/X$n" || fail "Xvfb did not start"

dbus-run-session -- bash -c '
  source "$3"
  trap '"'"'kill "${pids[@]}" 2>/dev/null'"'"' EXIT
  "$1" >"$2/corvane.log" 2>&1 &
  corvane_pid=$!
  sleep 3
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false >/dev/null 2>&1 &
  pids+=($!)
  embedded() { xwininfo -root -tree 2>/dev/null | grep -A6 "\"panel\": (\"panel\" \"trayer\")" | grep -q "\"corvane\""; }
  wait_for 10 embedded; ok=$?
  xwininfo -root -tree >"$2/tree.txt" 2>&1
  stop_corvane
  [ $ok -eq 0 ] || { cat "$2/tree.txt" "$2/corvane.log"; fail "the late tray host did not get the item"; }
  [ $status -eq 0 ] || { cat "$2/corvane.log"; fail "corvane exit status $status"; }
' _ "$binary" "$work" "$(dirname "$0")/lib.sh" || fail "see above"
echo "E2E PASSED"
