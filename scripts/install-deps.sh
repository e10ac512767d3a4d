#!/usr/bin/env bash
# Installs every Debian package Corvane needs to build, run and test.
# Idempotent: when everything is present it changes nothing and runs no apt command.
set -euo pipefail

packages=(
  cmake g++ pkg-config ninja-build libgtest-dev libgmock-dev libbenchmark-dev
  libavcodec-dev libavformat-dev libavdevice-dev libavutil-dev libswscale-dev libswresample-dev
  libyuv-dev
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  libx11-dev libxtst-dev libxrandr-dev libxcomposite-dev libxfixes-dev libxcb1-dev libpulse-dev
  libxcb-shm0-dev libxcb-composite0-dev libxcb-xfixes0-dev libxcb-randr0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  ffmpeg xvfb x11-utils x11-xserver-utils x11-apps xdotool pulseaudio pulseaudio-utils
  trayer dunst libnotify-bin dbus imagemagick locales ccache
  # Wayland: screen capture through the desktop portal and PipeWire, and the headless test desktop
  # of scripts/with-wayland-session.sh (which also builds a patched portal back end from source).
  libpipewire-0.3-dev qt6-wayland
  sway xdg-desktop-portal xdg-desktop-portal-wlr pipewire pipewire-bin pipewire-pulse wireplumber weston
  dpkg-dev patch meson libdrm-dev libinih-dev libgbm-dev libwayland-dev wayland-protocols libsystemd-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# A comma-decimal locale, so tests can prove numbers are read and written locale-independently.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'de_DE.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
