#!/usr/bin/env bash
# Packing a folder of pictures on every core with xargs, and with GNU
# parallel (on this machine only: -S :), as the README shows: every output
# is there and decodes.
#   parallel_test.sh BUILD-FOLDER SOURCE-FOLDER
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
export PATH="$build:$PATH"
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pictures/a" "$work/pictures/b"
python3 - "$work/pictures" "$source/tools" <<'PY'
import sys
sys.path.insert(0, sys.argv[2])
from make_sample import pixel, write_bitmap
for n in range(50):
    folder = "a" if n % 2 else "b"
    write_bitmap("%s/%s/picture %02d.bmp" % (sys.argv[1], folder, n), 64 + n, 48,
                 lambda x, y, n=n: pixel(x + n, y, 200, 48))
PY
check() {
    local count
    count=$(find "$work/pictures" -name '*.vx' | wc -l)
    [ "$count" -eq 50 ] || { echo "$1: $count of 50 outputs" >&2; exit 1; }
    find "$work/pictures" -name '*.vx' -print0 | xargs -0 vexel-probe --check >/dev/null
    find "$work/pictures" -name '*.vx' -delete
}
cd "$work"
find pictures -name '*.bmp' -print0 | xargs -0 -P "$(nproc)" -n 1 vexel -c
check "xargs -P"
find pictures -name '*.bmp' -print0 | parallel --will-cite -0 -S : vexel -c
check "parallel -S :"
echo "every picture packed and decodes, both ways"
