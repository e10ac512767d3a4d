#!/usr/bin/env bash
# Runs a command inside a private, headless Wayland desktop: sway (headless output 1280x720,
# software rendering), a session D-Bus, PipeWire with WirePlumber and its PulseAudio server (a
# 48 kHz null sink as default output), the desktop portal with the wlroots portal back end, and a
# moving client. Everything started here is stopped when the command ends; its exit status is the
# command's.
#
#   scripts/with-wayland-session.sh <command> [args...]
#
# Who runs what: sway refuses to run as root, so when this script runs as root the whole desktop
# runs as the unprivileged user `nobody`, and so does the command. The portal answers only
# programs it can identify, and it cannot look into another user's process; on a real desktop a
# recorder runs as the same user as its compositor anyway. The command therefore sees nobody's
# HOME and runtime folder (both in the session folder) and may write only where nobody may
# (/tmp). Run as another user, everything simply runs as that user.
#
# The portal back end: Debian 12's xdg-desktop-portal-wlr refuses to cast when the compositor
# offers no DMA-BUF (no GPU here) and may crash when a PipeWire consumer disconnects abruptly. It
# is rebuilt once from Debian's source package with both fixed (the patch below) into a cache
# outside the checkout: /var/cache/corvane as root, else ~/.cache/corvane (CORVANE_CACHE_DIR
# overrides). The chosen screen is kept for later starts as if the user had ticked "remember"
# (XDPW_PERSIST_MODE=permanent), so restore tokens work.
#
# The system dialog that picks the screen is played by a script (the back end's "simple"
# chooser): it notes every time it is asked in $CORVANE_WAYLAND_CHOOSER_LOG (one line each) and
# answers with the output named in $CORVANE_WAYLAND_CHOOSER_ANSWER, HEADLESS-1 while that file
# does not exist; an empty answer is the user dismissing the dialog. Tests use it to count dialogs.
# SWAYSOCK is set, so `swaymsg` drives the desktop (workspaces, output modes).
#
# Environment: CORVANE_WAYLAND_KEEP_LOGS=DIR copies the services' logs there at the end.
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 <command> [args...]" >&2
  exit 2
fi

# --------------------------------------------------------------------------------------------
# The patched portal back end, built once per installed version and patch.

read -r -d '' backend_patch <<'PATCH'
--- a/src/screencast/screencast.c
+++ b/src/screencast/screencast.c
@@ -92,9 +92,9 @@
 		}
 	}
 
-	free(cast->target);
 	wl_list_remove(&cast->link);
 	xdpw_pwr_stream_destroy(cast);
+	free(cast->target);
 	assert(wl_list_length(&cast->buffer_list) == 0);
 	free(cast);
 }
@@ -196,9 +196,11 @@
 	wl_display_dispatch(cast->ctx->state->wl_display);
 	wl_display_roundtrip(cast->ctx->state->wl_display);
 
-	if (cast->screencopy_frame_info[WL_SHM].format == DRM_FORMAT_INVALID ||
-			(cast->ctx->state->screencast_version >= 3 &&
-			 cast->screencopy_frame_info[DMABUF].format == DRM_FORMAT_INVALID)) {
+	if (cast->screencopy_frame_info[DMABUF].format == DRM_FORMAT_INVALID) {
+		logprint(INFO, "wlroots: no dmabuf format from wlr_screencopy, using shm only");
+		cast->avoid_dmabufs = true;
+	}
+	if (cast->screencopy_frame_info[WL_SHM].format == DRM_FORMAT_INVALID) {
 		logprint(INFO, "wlroots: unable to receive a valid format from wlr_screencopy");
 		return -1;
 	}
PATCH

if [ -n "${CORVANE_CACHE_DIR:-}" ]; then
  cache_root=$CORVANE_CACHE_DIR
elif [ "$(id -u)" -eq 0 ]; then
  cache_root=/var/cache/corvane
else
  cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/corvane
fi
backend_version=$(dpkg-query -W -f='${Version}' xdg-desktop-portal-wlr 2>/dev/null)
if [ -z "$backend_version" ]; then
  echo "xdg-desktop-portal-wlr is not installed (run scripts/install-deps.sh)" >&2
  exit 1
fi
patch_sum=$(printf '%s\n' "$backend_patch" | sha256sum | cut -c1-12)
backend_dir="$cache_root/xdg-desktop-portal-wlr-$backend_version-$patch_sum"
backend_bin="$backend_dir/xdg-desktop-portal-wlr"

# Fetches Debian's source of the installed version through a private apt folder (a copy of the
# system's sources with deb-src added; nothing under /etc changes), patches and builds it.
build_backend() {
  local work="$backend_dir.build"
  rm -rf "$work"
  mkdir -p "$work/apt/lists/partial" "$work/apt/sources" "$work/apt/cache/archives/partial"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    sed 's/^Types:.*/Types: deb deb-src/' "$f" >"$work/apt/sources/$(basename "$f")"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    sed -n 's/^deb \(.*\)/deb-src \1/p' "$f" >>"$work/apt/sources/deb-src.list"
  done
  local apt_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt/sources"
    -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache" -o APT::Sandbox::User="$(id -un)")
  (
    set -e
    cd "$work"
    apt-get "${apt_opts[@]}" -qq update
    apt-get "${apt_opts[@]}" -qq source --download-only "xdg-desktop-portal-wlr=$backend_version"
    dpkg-source -x ./*.dsc src
    cd src
    printf '%s\n' "$backend_patch" | patch -p1
    meson setup build -Dman-pages=disabled -Dsystemd=disabled
    ninja -C build
  ) >"$work/build.log" 2>&1 || {
    echo "Building the patched portal back end failed; log: $work/build.log" >&2
    tail -20 "$work/build.log" >&2
    return 1
  }
  install -m 755 "$work/src/build/xdg-desktop-portal-wlr" "$backend_bin.new"
  mv "$backend_bin.new" "$backend_bin"
  rm -rf "$work"
  echo "Built the patched portal back end into $backend_dir" >&2
}

if [ ! -x "$backend_bin" ]; then
  mkdir -p "$backend_dir"
  # One build at a time, also when several sessions start together.
  exec 9>"$backend_dir.lock"
  flock 9
  [ -x "$backend_bin" ] || build_backend || exit 1
  exec 9>&-
fi

# --------------------------------------------------------------------------------------------
# The session.

run_as=()
if [ "$(id -u)" -eq 0 ]; then
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
if [ ${#run_as[@]} -gt 0 ] && [[ "$1" == */* ]] && ! "${run_as[@]}" test -x "$1"; then
  echo "with-wayland-session: $1 cannot be run by nobody, the desktop's user; build in a" \
    "folder that every user may read (not under /root)" >&2
  exit 1
fi
session_dir=$(mktemp -d /tmp/corvane-wayland.XXXXXX)
pids=()

cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  local pid
  for _ in $(seq 1 20); do
    local alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive = 0 ] && break
    sleep 0.05
  done
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  if [ -n "${CORVANE_WAYLAND_KEEP_LOGS:-}" ]; then
    mkdir -p "$CORVANE_WAYLAND_KEEP_LOGS" && cp "$session_dir"/*.log "$CORVANE_WAYLAND_KEEP_LOGS"/ 2>/dev/null
  fi
  rm -rf "$session_dir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

fail() {
  echo "with-wayland-session: $1" >&2
  local log
  for log in "$session_dir"/*.log; do
    [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; tail -15 "$log" >&2; }
  done
  exit 1
}

# Starts a service of the session in a process session of its own (Ctrl+C reaches only the
# command), logging to $session_dir/<name>.log.
start() {
  local name=$1
  shift
  setsid "${run_as[@]}" "$@" >"$session_dir/$name.log" 2>&1 &
  pids+=($!)
  disown  # tests may end a service; that is not news for this shell
}

wait_for() {  # <description> <test command...>: up to 10 s
  local what=$1
  shift
  for _ in $(seq 1 200); do
    "$@" && return 0
    sleep 0.05
  done
  fail "$what did not come up"
}

mkdir -p "$session_dir"/{runtime,home,config,data,state,cache,dbus-services}
chmod 700 "$session_dir/runtime"
[ ${#run_as[@]} -gt 0 ] && chown -R 65534:65534 "$session_dir"

export XDG_RUNTIME_DIR="$session_dir/runtime"
export HOME="$session_dir/home"
export XDG_CONFIG_HOME="$session_dir/config" XDG_DATA_HOME="$session_dir/data"
export XDG_STATE_HOME="$session_dir/state" XDG_CACHE_HOME="$session_dir/cache"
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland XDG_SESSION_DESKTOP=sway
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
export XDPW_PERSIST_MODE=permanent
export QT_QPA_PLATFORM=wayland
unset DISPLAY XAUTHORITY WAYLAND_DISPLAY PULSE_SERVER PIPEWIRE_REMOTE SWAYSOCK

cat >"$session_dir/sway.conf" <<'EOF'
output HEADLESS-1 resolution 1280x720 position 0,0
default_border none
xwayland disable
EOF
mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr"
export CORVANE_WAYLAND_CHOOSER_LOG="$XDG_RUNTIME_DIR/chooser.log"
export CORVANE_WAYLAND_CHOOSER_ANSWER="$XDG_RUNTIME_DIR/chooser-answer"
cat >"$session_dir/chooser.sh" <<'EOF'
#!/bin/sh
echo asked >>"$CORVANE_WAYLAND_CHOOSER_LOG"
if [ -e "$CORVANE_WAYLAND_CHOOSER_ANSWER" ]; then cat "$CORVANE_WAYLAND_CHOOSER_ANSWER"; else echo HEADLESS-1; fi
EOF
chmod 755 "$session_dir/chooser.sh"
cat >"$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" <<EOF
[screencast]
max_fps=30
chooser_type=simple
chooser_cmd=$session_dir/chooser.sh
EOF
# The bus activates the patched back end (should it end, the portal asks the bus to start it
# again), never Debian's: the first service folder wins.
cat >"$session_dir/dbus-services/org.freedesktop.impl.portal.desktop.wlr.service" <<EOF
[D-BUS Service]
Name=org.freedesktop.impl.portal.desktop.wlr
Exec=$backend_bin
EOF
cat >"$session_dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <servicedir>$session_dir/dbus-services</servicedir>
  <include>/usr/share/dbus-1/session.conf</include>
</busconfig>
EOF
[ ${#run_as[@]} -gt 0 ] && chown -R 65534:65534 "$session_dir"

as_user() { "${run_as[@]}" "$@"; }
sway_socket() { ls "$XDG_RUNTIME_DIR" 2>/dev/null | grep -E '^wayland-[0-9]+$' | head -1; }
sway_is_up() { [ -n "$(sway_socket)" ] && ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock >/dev/null 2>&1; }
bus_is_up() {
  as_user dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetId >/dev/null 2>&1
}
pulse_is_up() { as_user pactl info >/dev/null 2>&1; }
has_bus_name() {
  as_user dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# The compositor first: every later service is a Wayland client or needs its environment.
start sway sway -c "$session_dir/sway.conf"
wait_for "sway" sway_is_up
export WAYLAND_DISPLAY=$(sway_socket)
SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock 2>/dev/null | head -1)
export SWAYSOCK

export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
start bus dbus-daemon --nofork --config-file="$session_dir/bus.conf" --address="$DBUS_SESSION_BUS_ADDRESS"
wait_for "the session bus" bus_is_up

start pipewire pipewire
wait_for "PipeWire" test -S "$XDG_RUNTIME_DIR/pipewire-0"
start wireplumber wireplumber
start pipewire-pulse pipewire-pulse
wait_for "PipeWire's PulseAudio server" pulse_is_up
as_user pactl load-module module-null-sink sink_name=corvane_test_sink rate=48000 channels=2 \
  >/dev/null || fail "no null sink"
as_user pactl set-default-sink corvane_test_sink || fail "cannot make the null sink the default"

start portal-wlr "$backend_bin" -l INFO
wait_for "the wlroots portal back end" has_bus_name org.freedesktop.impl.portal.desktop.wlr
start portal /usr/libexec/xdg-desktop-portal
wait_for "the desktop portal" has_bus_name org.freedesktop.portal.Desktop

# Something that changes on screen all the time.
start client weston-presentation-shm

"${run_as[@]}" "$@"
status=$?
exit $status
