#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, benchmarking and fuzzing need.
# Does nothing when they are all present. crawl-tiles-data is real game tile art for the benchmarks.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev qt6-image-formats-plugins
  libpng-dev zlib1g-dev libzstd-dev libdeflate-dev
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libx11-dev xvfb xauth xdotool x11-utils imagemagick
  desktop-file-utils tiled
  groff-base man-db bash-completion zsh fish dpkg-dev lintian
  crawl-tiles-data
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
