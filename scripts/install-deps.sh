#!/usr/bin/env bash
# Installs what building and testing Ostmere needs, from Debian's packages.
# Extra package names may be given; scripts/screenshot.sh adds xvfb and xauth.
set -euo pipefail
packages=(g++ cmake make pkg-config libgtest-dev libgmock-dev libpugixml-dev qt6-base-dev
          qt6-svg-dev openssl rsync time python3 clang-format git libsodium-dev libssl-dev libzstd-dev
          zstd dpkg-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
