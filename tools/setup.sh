#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Kiv need.
# Idempotent: only what is missing is installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  libgtest-dev libgmock-dev libmurmurhash-dev libssl-dev
  python3 lua5.4
  clang libclang-rt-14-dev
  libcurl4-openssl-dev openssl ca-certificates
  libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev python3-pil imagemagick
  libgtk-3-dev xvfb xdotool fonts-dejavu-core
  libcairo2-dev libpango1.0-dev python3-cairo
  libpixman-1-dev
  xclip
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
