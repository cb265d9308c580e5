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
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo > /dev/null; then
    echo "deps.sh: these packages are missing: ${missing[*]}" >&2
    echo "deps.sh: only root can install them (there is no sudo here); as root, run:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  SUDO=(sudo)
fi
echo "Installing: ${missing[*]}"
"${SUDO[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
