#!/usr/bin/env bash
# End to end: `corvane --save SECONDS` against the real running program. Starts `corvane` on the
# desktop session it is run in (HOME in a temporary folder, a session bus of its own so that
# programs of tests running beside it cannot answer), waits until it has buffered enough, asks
# for 8 s from the command line and checks that the printed path is a finished clip of about 8 s;
# then ends the program and checks that the command fails with the reason and status 1.
#
#   e2e/save_command_e2e.sh <corvane binary>
#
# Runs inside scripts/with-test-session.sh (ctest does so). Fails, never skips, when the
# session is missing.
set -uo pipefail

binary=${1:?usage: save_command_e2e.sh <corvane binary>}
fail() { echo "E2E FAILED: $*" >&2; exit 1; }
step() { echo "--- $*"; }

[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run inside scripts/with-test-session.sh"
for tool in dbus-daemon gdbus ffprobe; do
  command -v "$tool" >/dev/null || fail "missing $tool"
done

work=$(mktemp -d /tmp/corvane-save-e2e.XXXXXX)
export HOME="$work/home"
mkdir -p "$HOME"
pids=()
cleanup() {
  [ -n "${corvane_pid:-}" ] && kill -9 "$corvane_pid" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$work/bus.txt" || fail "no bus"
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus.txt")
pids+=($(sed -n 2p "$work/bus.txt"))

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
# The running program's leak check belongs to the recorder end to end; here only --save is tested
# (itself still checked), and a library's leak at the program's exit must not fail it.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$binary" >"$work/corvane.log" 2>&1 &
corvane_pid=$!
wait_for 30 buffered_at_least 10 || { cat "$work/corvane.log"; fail "no 10 s in the buffer"; }

step "corvane --save 8"
"$binary" --save 8 >"$work/save.out" 2>"$work/save.err"
status=$?
cat "$work/save.out" "$work/save.err"
[ "$status" -eq 0 ] || fail "--save exited with $status"
[ -s "$work/save.err" ] && fail "--save wrote to standard error"
[ "$(wc -l <"$work/save.out")" -eq 1 ] || fail "--save printed more than the path"
clip=$(cat "$work/save.out")
case "$clip" in "$HOME"/Videos/Corvane/Clip_*.mp4) ;; *) fail "unexpected path $clip" ;; esac
[ -s "$clip" ] || fail "no clip at $clip"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip")
echo "clip length ${duration} s"
awk -v d="$duration" 'BEGIN { exit !(d >= 7 && d <= 12) }' || fail "clip length $duration is not about 8 s"

step "end corvane; --save now fails with the reason"
kill -TERM "$corvane_pid"
wait "$corvane_pid"
status=$?
corvane_pid=
[ "$status" -eq 0 ] || { tail -40 "$work/corvane.log"; fail "corvane exited with $status"; }
"$binary" --save 8 >"$work/save.out" 2>"$work/save.err"
status=$?
[ "$status" -eq 1 ] || fail "--save without a running Corvane exited with $status"
[ "$(cat "$work/save.err")" = "Corvane is not running in this session" ] ||
  fail "unexpected reason: $(cat "$work/save.err")"
[ -s "$work/save.out" ] && fail "--save printed a path without a running Corvane"
echo "E2E PASSED"
