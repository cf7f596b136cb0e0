#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzz targets and the later panel need. Idempotent:
# when all of them are present it asks no package server at all.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev libxcb1-dev qt6-httpserver-dev qt6-websockets-dev
  libturbojpeg0-dev libqrencode-dev nlohmann-json3-dev libwebp-dev
  libglu1-mesa-dev libegl-dev libegl-mesa0 libgl1-mesa-dri
  libfreetype-dev libfontconfig-dev fonts-liberation libpng-dev
  libgtest-dev libbenchmark-dev libcli11-dev
  xvfb xauth x11-utils openbox xdotool locales imagemagick python3 gdb
  clang libclang-rt-14-dev clang-format
  chromium chromium-driver python3-selenium
  help2man desktop-file-utils appstream lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
