#!/usr/bin/env bash
# Installs what building, running and testing Vemu needs on Debian 12, and
# nothing when it is all there already.
set -euo pipefail
packages=(cmake g++ make binutils qtbase5-dev libqwt-qt5-dev p7zip-full xvfb xauth
          clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
