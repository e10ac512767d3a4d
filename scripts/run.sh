#!/usr/bin/env bash
# Installs what is missing, builds Corvane and runs it. Without a display it runs on a private
# virtual desktop (Xvfb with a tray host, session D-Bus and PulseAudio).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF
if [ -n "${DISPLAY:-}" ]; then
  exec "$root/build/src/app/corvane" "$@"
fi
echo "No display found: starting Corvane on a virtual desktop (Ctrl+C ends it)."
exec "$root/scripts/with-test-session.sh" "$root/e2e/virtual_desktop.sh" "$root/build/src/app/corvane" "$@"
