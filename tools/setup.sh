#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# Safe to run again; does nothing on a machine that has everything.
set -euo pipefail

packages=(
  gcc g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3
  # the viewer and the dialog windows, and their tests under a virtual display
  libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core xvfb xauth xdotool imagemagick
  # the thumbnailer, the package and the desktop files, and their tests
  libpng-dev dpkg-dev man-db shared-mime-info desktop-file-utils parallel
  # the check of the Debian packages
  lintian
  # the pipes to and from ffmpeg, tested both ways
  ffmpeg
  # the Python package and its tests: installed offline into a virtual environment
  python3-numpy python3-pil python3-pytest python3-venv python3-setuptools python3-wheel
  # the in-memory decoding benchmark beside TurboJPEG (bench/turbo_compare.sh)
  libturbojpeg0-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q </dev/null
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
