#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds vexel, makes the sample picture,
# compresses it into a .vx file and expands it back into a bitmap.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
tools/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
python3 tools/make_sample.py "$demo/sample.bmp"
(cd "$demo" && ../vexel -c sample.bmp && ../vexel -uc sample.vx)
ls -l "$demo"
echo "sample.bmp ($(stat -c %s "$demo/sample.bmp") bytes) -> sample.vx ($(stat -c %s "$demo/sample.vx") bytes)" \
     "-> sample_000000.bmp"
