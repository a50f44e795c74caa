#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, only those that are missing, with
# recommends off; uses sudo when not run as root. The list must be complete on a minimal Debian 12:
# tests/install/check_dependencies.sh fails when something used is not on it (or pulled in by it).
#   scripts/install-deps.sh [--test | --fuzz] [--list]     --list prints the packages instead
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev qt6-svg-dev libgl1-mesa-dev libmpv-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev
  ffmpeg xvfb xauth libgl1-mesa-dri)
list=false
for arg in "$@"; do
  case "$arg" in
    --test) packages+=(desktop-file-utils file dpkg-dev) ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --list) list=true ;;
    *) echo "usage: $0 [--test | --fuzz] [--list]" >&2; exit 2 ;;
  esac
done
if $list; then printf '%s\n' "${packages[@]}"; exit 0; fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
