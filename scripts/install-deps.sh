#!/usr/bin/env bash
# Installs the Debian packages Torvane needs to build, run and test.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins
  libgtest-dev libgmock-dev libbenchmark-dev
  libblkid-dev libudev-dev
  clang libclang-rt-14-dev
  zstd xvfb xauth python3
  dosfstools mtools
  adwaita-icon-theme
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
