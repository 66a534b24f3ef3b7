#!/usr/bin/env bash
# Times "vexel -uc" on a 60-frame 1280 x 720 sequence (a synthetic panorama
# panned 8 pixels per frame), packed with one, two and four streams per
# frame, in mode 8 (the default) and mode 9: best wall time of three runs,
# frames per second and peak memory. Then runs the frame benchmark
# (bench/decode_bench.cpp) when vexel_bench is built.
# Usage: bench/decode_bench.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
# Unpacking shows its frames when a display is there: time it without one.
unset DISPLAY WAYLAND_DISPLAY
build=$(realpath "${1:-build}")
vexel="$build/vexel"
[ -x "$vexel" ] || { echo "build vexel first: $vexel is missing" >&2; exit 1; }
work=$(mktemp -d /tmp/vexel-decode-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import math, struct, sys
folder = sys.argv[1]
W, H, FRAMES, STEP = 1280, 720, 60, 8
PW = W + STEP * FRAMES
rows = []
for y in range(H):
    row = bytearray()
    ground = y < H // 3
    for x in range(PW):
        if ground:
            n = ((x * 73856093) ^ (y * 19349663)) & 0xFF
            row += bytes(((50 + n % 40), (90 + n % 30), (60 + n % 20)))
        elif (x // 97 + y // 61) % 9 == 0:
            row += bytes((30, 30 + x % 97, 200))
        else:
            row += bytes((200 - y // 5, 150 + int(30 * math.sin(x / 90.0)), 90 + y // 8))
    rows.append(bytes(row))
stride = (W * 3 + 3) // 4 * 4
for f in range(FRAMES):
    data = b"".join(r[3 * STEP * f: 3 * (STEP * f + W)] + bytes(stride - 3 * W) for r in rows)
    with open("%s/f%02d.bmp" % (folder, f), "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54))
        out.write(struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0))
        out.write(data)
PY

# Best wall seconds of three runs of vexel "$@" in the current folder into
# $seconds, the largest peak resident set (KiB) into $peak.
best() {
    seconds=""
    peak=0
    for _ in 1 2 3; do
        rm -f ./*_0*.bmp
        /usr/bin/time -o "$work/time.txt" -f "%e %M" "$vexel" "$@" >/dev/null 2>&1 || { echo "vexel $* failed" >&2; exit 1; }
        read -r t m <"$work/time.txt"
        [ "$m" -gt "$peak" ] && peak=$m
        if [ -z "$seconds" ] || awk "BEGIN{exit !($t < $seconds)}"; then seconds=$t; fi
    done
}

# table FOLDER STEM MODES: packs STEM*.bmp in FOLDER and times unpacking it.
table() {
    local folder=$1 stem=$2 modes=$3
    (
        cd "$folder"
        printf "%-22s %10s %8s %10s %10s\n" "packed with" "seconds" "fps" "peak MiB" "file KiB"
        for mode in $modes; do
            for threads in 1 2 4; do
                rm -f "$stem.vx"
                "$vexel" -c -a=25 -m=$mode -t=$threads "$stem*.bmp" >/dev/null
                best -uc "$stem.vx"
                [ "$(ls "$stem"_0*.bmp | wc -l)" -eq 60 ] || { echo "vexel -uc did not write 60 frames" >&2; exit 1; }
                printf "%-22s %10.2f %8.1f %10.1f %10.1f\n" "-m=$mode -t=$threads" "$seconds" \
                    "$(awk "BEGIN{print 60 / $seconds}")" "$(awk "BEGIN{print $peak / 1024}")" \
                    "$(awk "BEGIN{print $(stat -c %s "$stem.vx") / 1024}")"
            done
        done
        rm -f "$stem.vx" "$stem"_0*.bmp
    )
}

echo "synthetic panorama, 60 frames of 1280 x 720"
table "$work" f "8 9"

# A photograph panned the same way (Debian's wallpapers, see bench/photos.py).
if pan=$(python3 bench/photos.py 2>/dev/null | tail -n 1) && [ -d "$pan" ]; then
    mkdir -p "$work/photo"
    cp "$pan"/pan*.bmp "$work/photo/"
    echo
    echo "photograph panned, 60 frames of 1280 x 720"
    table "$work/photo" pan "8"
fi

if [ -x "$build/bench/vexel_bench" ]; then
    "$build/bench/vexel_bench" --benchmark_filter=BM_DecodeFrame --benchmark_repetitions=3 \
        --benchmark_report_aggregates_only=true
fi
