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
set -uo pipefail

binary=${1:?usage: wayland_e2e.sh <corvane binary>}
fail() { echo "E2E FAILED: $*" >&2; exit 1; }
step() { echo "--- $*"; }

[ -n "${WAYLAND_DISPLAY:-}" ] || fail "no WAYLAND_DISPLAY: run inside scripts/with-wayland-session.sh"
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no session bus"
for tool in gdbus ffprobe; do
  command -v "$tool" >/dev/null || fail "missing $tool"
done

work=$(mktemp -d /tmp/corvane-wayland-e2e.XXXXXX)
export HOME="$work/home"
mkdir -p "$HOME"
unset DISPLAY  # the portal path, not XWayland
cleanup() {
  [ -n "${corvane_pid:-}" ] && kill -9 "$corvane_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # seconds, command...
  local limit=$1; shift
  local end=$((SECONDS + limit))
  while [ $SECONDS -lt $end ]; do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}
buffered_at_least() {
  local seconds
  seconds=$(gdbus call --session --dest org.corvane.Corvane --object-path /org/corvane/Corvane \
    --method org.corvane.Corvane.GetStatus 2>/dev/null | sed -n "s/.*'buffered_seconds': <\([0-9.]*\)>.*/\1/p")
  [ -n "$seconds" ] && awk -v s="$seconds" -v n="$1" 'BEGIN { exit !(s >= n) }'
}

step "start corvane"
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$binary" >"$work/corvane.log" 2>&1 &
corvane_pid=$!
wait_for 40 buffered_at_least 10 || { cat "$work/corvane.log"; fail "no 10 s in the buffer"; }
grep -q "screen capture ScreenCast portal" "$work/corvane.log" ||
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
[ -s "$clip" ] || fail "no clip at $clip"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip")
echo "clip length ${duration} s"
awk -v d="$duration" 'BEGIN { exit !(d >= 7 && d <= 12) }' || fail "clip length $duration is not about 8 s"
frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$clip")
echo "decoded frames ${frames}"
[ "${frames:-0}" -ge 100 ] || fail "only ${frames:-0} frames decode"

step "SIGTERM: gone within 2.5 s"
kill -TERM "$corvane_pid"
gone() { ! kill -0 "$corvane_pid" 2>/dev/null; }
start=$(date +%s%N)
wait_for 5 gone
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
echo "quit took ${elapsed_ms} ms"
wait "$corvane_pid"
status=$?
corvane_pid=
[ "$status" -eq 0 ] || { tail -40 "$work/corvane.log"; fail "corvane exited with $status"; }
[ "$elapsed_ms" -le 2500 ] || fail "quit took ${elapsed_ms} ms"
echo "E2E PASSED"
