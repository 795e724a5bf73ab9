#!/usr/bin/env bash
# Installs the Debian packages Parlune builds, runs and tests with, when missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qtbase5-dev libqcustomplot-dev
  libpulse-dev libsndfile1-dev libsamplerate0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  espeak-ng sox pulseaudio pulseaudio-utils aubio-tools fonts-roboto
  pipewire pipewire-bin pipewire-pulse wireplumber dbus
  xvfb xauth x11-apps imagemagick xdotool
  dpkg-dev file desktop-file-utils appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
