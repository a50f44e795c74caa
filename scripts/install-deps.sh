#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that building, running and testing need,
# only those that are missing; uses sudo when not run as root.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev qt6-svg-dev libgl1-mesa-dev libmpv-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev
  ffmpeg xvfb xauth libgl1-mesa-dri)
if [ "${1:-}" = "--test" ]; then packages+=(desktop-file-utils file dpkg-dev); fi
if [ "${1:-}" = "--fuzz" ]; then packages+=(clang libclang-rt-14-dev); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
