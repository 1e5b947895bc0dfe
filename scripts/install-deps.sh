#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need, when any is missing.
# Runs apt as root, or through sudo for a user.
set -euo pipefail
packages=(cmake ninja-build make g++ clang g++-mingw-w64-x86-64 wine wine64 xvfb xauth dpkg-dev
  libclang-rt-14-dev googletest libfreeimage-dev libopenjp2-7-dev libopenjp2-tools libzip-dev x11-utils xdotool
  imagemagick zip fonts-wine libtiff-dev libdeflate-dev libpng-dev zlib1g-dev gdal-bin python3-gdal python3-numpy
  libcli11-dev nlohmann-json3-dev libpugixml-dev libgeographiclib-dev slurm-wlm munge parallel)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
