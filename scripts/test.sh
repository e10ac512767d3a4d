#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test (unit, media, desktop-session and command-line) inside a private session.
# Then it builds once more with ThreadSanitizer and runs the unit, media and session suites
# again, without the widget suite (label "widgets", see tests/CMakeLists.txt).
# CORVANE_TSAN_PASS=0 skips that second pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build_dir=${CORVANE_TEST_BUILD_DIR:-$root/build-test}
"$root/scripts/build.sh" "$build_dir" -DCORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Leaks fail the run; the suppressions name third-party libraries only (see the file).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$build_dir" && "$root/scripts/with-test-session.sh" ctest --output-on-failure -j2 "$@")

# ThreadSanitizer: data races and lock-order inversions fail the run; the suppressions name
# third-party libraries only.
[ "${CORVANE_TSAN_PASS:-1}" = 0 ] && exit 0
tsan_dir=${CORVANE_TSAN_BUILD_DIR:-$root/build-tsan}
"$root/scripts/build.sh" "$tsan_dir" -DCORVANE_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan-suppressions.txt}
cd "$tsan_dir"
# Everything runs several times slower under the tool; time bounds that only catch hangs widen.
export CORVANE_SLOWDOWN=${CORVANE_SLOWDOWN:-5}
# The recorder's end to end checks clip lengths against a live clock, which several times slower
# frames no longer meet; the running-program tests still run the whole program under the tool.
"$root/scripts/with-test-session.sh" ctest --output-on-failure -j2 -L 'unit|media|session' -E '^e2e\.recorder$' "$@"
