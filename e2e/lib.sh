# Shared by the end-to-end scripts: sourced, not run.
#   e2e_setup <name> <tools...>   fails unless every tool is there; makes $work (removed on exit)
#                                 and a fresh HOME in it
#   wait_for <seconds> <command...>   polls the command every 0.2 s until it succeeds
#   buffered_at_least <seconds>   the running Corvane's buffer, asked over the session bus
#   stop_corvane                  SIGTERM, then the program's exit status in $status and the
#                                 seconds it took to go in $took
# Scripts append their own background processes to `pids` and set `corvane_pid`.
set -uo pipefail
# The whole program on a desktop: some of what Qt's plugins, GStreamer and Mesa keep until exit
# is reported from modules already unloaded, which no suppression can name. Leaks in Corvane's own
# code are checked by the suites' binaries.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fail() { echo "E2E FAILED: $*" >&2; exit 1; }
step() { echo "--- $*"; }
pids=()
corvane_pid=
e2e_cleanup() {
  [ -n "$corvane_pid" ] && kill -9 "$corvane_pid" 2>/dev/null
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  rm -rf "$work"
}
e2e_setup() {
  local name=$1 tool; shift
  for tool in "$@"; do command -v "$tool" >/dev/null || fail "missing $tool"; done
  work=$(mktemp -d "/tmp/corvane-$name.XXXXXX")
  trap e2e_cleanup EXIT
  export HOME="$work/home"
  mkdir -p "$HOME"
}
wait_for() {
  local end=$((SECONDS + $1)); shift
  while [ $SECONDS -lt $end ]; do "$@" && return 0; sleep 0.2; done
  return 1
}
buffered_at_least() {
  local seconds
  seconds=$(gdbus call --session --dest org.corvane.Corvane --object-path /org/corvane/Corvane \
    --method org.corvane.Corvane.GetStatus 2>/dev/null | sed -n "s/.*'buffered_seconds': <\([0-9.]*\)>.*/\1/p")
  [ -n "$seconds" ] && awk -v s="$seconds" -v n="$1" 'BEGIN { exit !(s >= n) }'
}
stop_corvane() {  # a program that hangs is ended by the test's time limit
  local start
  start=$(date +%s%N)
  kill -TERM "$corvane_pid"
  wait "$corvane_pid"
  status=$?
  took=$(awk -v e="$(date +%s%N)" -v s="$start" 'BEGIN { printf "%.2f", (e - s) / 1e9 }')
  corvane_pid=
  echo "exit status $status after $took s"
}
