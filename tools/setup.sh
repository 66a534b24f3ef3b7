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
  # the program's PNG and JPEG readers
  libpng-dev libturbojpeg0-dev
  # the thumbnailer, the package and the desktop files, and their tests
  dpkg-dev man-db shared-mime-info desktop-file-utils parallel
  # the check of the Debian packages
  lintian
  # the gdk-pixbuf loader, and its tests: GdkPixbuf from Python, the
  # thumbnailer of gdk-pixbuf, Eye of GNOME
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin eog python3-gi gir1.2-gdkpixbuf-2.0
  # the pipes to and from ffmpeg, tested both ways
  ffmpeg
  # the message catalogue, and the English locale its tests run under
  gettext locales
  # the Python package and its tests: installed offline into a virtual environment
  python3-numpy python3-pil python3-pytest python3-venv python3-setuptools python3-wheel
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  $sudo apt-get update -q </dev/null
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

# A fresh Debian has only the C locales; the tests of the English messages
# need en_US.UTF-8.
if ! locale -a 2>/dev/null | grep -qix 'en_US\.utf-\?8'; then
  echo "setup: generating the locale en_US.UTF-8" >&2
  $sudo sed -i 's/^# *\(en_US\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen </dev/null
fi
