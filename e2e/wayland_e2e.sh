#!/usr/bin/env bash
# End to end on a Wayland desktop: starts `corvane` (HOME in a temporary folder) in the session
# it is run in, waits until it has buffered enough from the ScreenCast portal, asks for 8 s with
# `corvane --save 8`, checks that the printed path is a decodable clip of about 8 s, then ends
# the program with SIGTERM and checks that it is gone within 2.5 s.
#
#   e2e/wayland_e2e.sh <corvane binary>
#
# Runs inside scripts/with-wayland-session.sh (ctest does so), whose session bus carries the
# portal: unlike the X11 end to end, no bus of its own. Fails, never skips, when the session is
# missing.
source "$(dirname "$0")/lib.sh"
binary=${1:?usage: wayland_e2e.sh <corvane binary>}
[ -n "${WAYLAND_DISPLAY:-}" ] || fail "no WAYLAND_DISPLAY: run inside scripts/with-wayland-session.sh"
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no session bus"
e2e_setup wayland-e2e gdbus ffprobe
unset DISPLAY  # the portal path, not XWayland

step "start corvane"
"$binary" >"$work/corvane.log" 2>&1 &
corvane_pid=$!
wait_for 40 buffered_at_least 10 || { cat "$work/corvane.log"; fail "no 10 s in the buffer"; }
grep -q "screen capture ScreenCast portal" "$work/corvane.log" &&
  grep -q "Screen-sharing portal stream started on " "$work/corvane.log" ||
  { cat "$work/corvane.log"; fail "the portal back end was not chosen"; }
# The wlroots portal has no GlobalShortcuts: the summary says so and names the save command.
grep -q "global shortcuts none (the desktop has no shortcut portal; bind keys to \`corvane --save N\`" \
  "$work/corvane.log" || { cat "$work/corvane.log"; fail "no fallback for global shortcuts"; }

step "corvane --save 8"
"$binary" --save 8 >"$work/save.out" 2>"$work/save.err"
status=$?
cat "$work/save.out" "$work/save.err"
[ "$status" -eq 0 ] || { tail -40 "$work/corvane.log"; fail "--save exited with $status"; }
clip=$(tail -1 "$work/save.out")
case "$clip" in "$HOME"/Videos/Corvane/Clip_*.mp4) ;; *) fail "unexpected path $clip" ;; esac
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip")
echo "clip length ${duration} s"
awk -v d="$duration" 'BEGIN { exit !(d >= 7 && d <= 12) }' || fail "clip length $duration is not about 8 s"
frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$clip")
echo "decoded frames ${frames}"
[ "${frames:-0}" -ge 100 ] || fail "only ${frames:-0} frames decode"

step "SIGTERM: gone within 2.5 s"
stop_corvane
[ "$status" -eq 0 ] || { tail -40 "$work/corvane.log"; fail "corvane exited with $status"; }
awk -v t="$took" 'BEGIN { exit !(t <= 2.5) }' || fail "quitting took $took s"
echo "E2E PASSED"
