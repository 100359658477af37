#!/usr/bin/env bash
# Installs what Tadpole needs to build, test and run on Debian 12; with
# --build-only, what building and packaging need, without the servers and
# desktops the tests and the demo start (PostgreSQL, nginx, Xvfb, sway).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(
  build-essential cmake pkg-config dpkg-dev
  qt6-base-dev qt6-webengine-dev libqt6svg6 libgl-dev libqt6opengl6-dev
  libqt6sql6-sqlite libqt6sql6-psql libpq-dev libsqlite3-dev libcpp-httplib-dev libboost1.81-dev
  libx11-dev libxtst-dev qt6-base-private-dev libwayland-dev wayland-protocols qt6-wayland
)
[ "${1:-}" = "--build-only" ] || packages+=(
  xvfb xauth x11-utils x11-xserver-utils openbox xdotool faketime tzdata sway
  postgresql postgresql-common
  lintian desktop-file-utils appstream nginx-light curl python3 openssl libnss3-tools
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
