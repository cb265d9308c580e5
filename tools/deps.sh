#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
PACKAGES=(
  build-essential cmake pkg-config python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev zlib1g-dev libdeflate-dev libglew-dev libdevil-dev libsquish-dev libjpeg62-turbo-dev libbullet-dev angelscript-dev
  libsdl2-dev libegl-dev libgl-dev libgl1-mesa-dri libegl-mesa0 libx11-dev
  xvfb xauth xdotool zenity
  fonts-dejavu-core libfreetype-dev
  imagemagick
  acl fusefat dosfstools
  clang-14 libclang-rt-14-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
