#!/usr/bin/env bash
# Builds the Debian packages, installs them into this system as root with
# apt-get, uses the installed programs on the sample picture (pack, unpack,
# probe, thumbnail, through the desktop's own thumbnailer entry) and builds
# a C program against the installed libvexel, then purges the packages
# again. Not for CI: it changes the system.
# Usage: bench/package_check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "run as root: the package is installed into the system" >&2; exit 1; }
tools/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DVEXEL_TESTS=OFF -DVEXEL_BENCH=OFF
rm -f build-package/*.deb
(cd build-package && cpack -G DEB >/dev/null)
debs=(build-package/vexel_*_amd64.deb build-package/libvexel1_*_amd64.deb build-package/libvexel-dev_*_amd64.deb
      build-package/vexel-pixbuf-loader_*_amd64.deb)
for deb in "${debs[@]}"; do
  echo "== $deb"
  dpkg-deb -f "$deb" Package Version Depends
done
export DEBIAN_FRONTEND=noninteractive
trap 'apt-get purge -y -q vexel-pixbuf-loader vexel libvexel1 libvexel-dev >/dev/null 2>&1 || true' EXIT
apt-get install -y -q "${debs[@]/#/./}" </dev/null >/dev/null
work=$(mktemp -d)
python3 tools/make_sample.py "$work/sample.bmp"
cd "$work"
unset DISPLAY WAYLAND_DISPLAY
command -v vexel vexel-probe vexel-thumbnailer
vexel -c sample.bmp
vexel -uc sample.vx
vexel-probe --check sample.vx
# The thumbnailer as a file manager runs it: the entry's Exec line with %s %i %o filled in.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/thumbnailers/vexel.thumbnailer)
cmd=${exec_line//%s/128}
cmd=${cmd//%i/sample.vx}
cmd=${cmd//%o/thumbnail.png}
$cmd
file thumbnail.png
# The MIME database knows .vx files, also without the extension.
cp sample.vx no-extension
grep -q 'image/x-vexel' /usr/share/mime/packages/vexel.xml
[ -f /usr/share/mime/mime.cache ] && echo "mime database updated"
# The gdk-pixbuf loader: Debian's trigger has put it into gdk-pixbuf's own
# cache, and gdk-pixbuf's thumbnailer reads .vx files through it.
grep -q libpixbufloader-vexel.so /usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0/2.10.0/loaders.cache
gdk-pixbuf-thumbnailer -s 128 sample.vx pixbuf-thumbnail.png
file pixbuf-thumbnail.png
# A C program against the installed header and library, through pkg-config.
cc -std=c99 -o c_api_test "$OLDPWD/tests/lib/c_api_test.c" $(pkg-config --cflags --libs vexel)
./c_api_test 0 lib.vx sample.bmp
cmp lib.vx sample.vx && echo "libvexel writes the bytes vexel -c writes"
ls -l "$work"
rm -rf "$work"
echo "== the package installs, works and purges"
