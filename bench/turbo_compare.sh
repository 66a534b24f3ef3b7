#!/usr/bin/env bash
# Vexel's decoding beside libjpeg-turbo's TurboJPEG, in memory, in one
# process (bench/turbo_compare_bench.cpp): the bench photographs (six at
# 1920 x 1080, five at 3840 x 2160, see bench/photos.py) packed by
# "vexel -c" (four streams) and "vexel -c -t=1" (one stream) and by
# "cjpeg -quality 75", each decoded into an RGB buffer, then unpacked by
# "vexel -uc" for the benchmark's check of its own decoding.
#
# Prints Google Benchmark's table (medians of five repetitions), then per
# photograph and size Vexel's and TurboJPEG's median times and their ratio,
# and the median over photographs of that ratio at each size: for decoding,
# then for encoding (the photograph's RGB through libvexel's memory writer,
# four streams and one, beside tjCompress2 at quality 75, 4:2:0, one thread).
#
# Usage: bench/turbo_compare.sh [build folder] [benchmark flags...]
#   (default build; e.g. --benchmark_filter=1920x1080 --benchmark_repetitions=9)
# Needs vexel and vexel_turbo_bench built (libturbojpeg0-dev, see
# tools/setup.sh); installs libjpeg-turbo-progs when cjpeg is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
# Unpacking shows its frames when a display is there: work without one.
unset DISPLAY WAYLAND_DISPLAY
build=$(realpath "${1:-build}")
[ $# -gt 0 ] && shift
vexel="$build/vexel"
bench="$build/bench/vexel_turbo_bench"
[ -x "$vexel" ] || { echo "build vexel first: $vexel is missing" >&2; exit 1; }
[ -x "$bench" ] || { echo "build vexel_turbo_bench first (it needs libturbojpeg0-dev): $bench is missing" >&2; exit 1; }
if ! command -v cjpeg >/dev/null; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q libjpeg-turbo-progs </dev/null >&2
fi

folders=$(python3 bench/photos.py)
work=$(mktemp -d /tmp/vexel-turbo-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT

for set in 1920x1080:"$(echo "$folders" | sed -n 1p)" 3840x2160:"$(echo "$folders" | sed -n 2p)"; do
    size=${set%%:*}
    source=${set#*:}
    out="$work/$size"
    mkdir -p "$out"
    for picture in "$source"/*.bmp; do
        name=$(basename "$picture" .bmp)
        scratch="$work/scratch"
        rm -rf "$scratch"
        mkdir -p "$scratch"
        ln -s "$picture" "$scratch/p.bmp"
        for streams in default 1; do
            suffix=.vx
            option=()
            [ "$streams" = 1 ] && { suffix=.t1.vx; option=(-t=1); }
            (
                cd "$scratch"
                rm -f p.vx p_000000.bmp
                "$vexel" -c "${option[@]}" p.bmp >/dev/null
                "$vexel" -uc p.vx >/dev/null
                [ -f p_000000.bmp ] || { echo "vexel -uc wrote no p_000000.bmp for $name" >&2; exit 1; }
                mv p.vx "$out/$name$suffix"
                mv p_000000.bmp "$out/$name$suffix.bmp"
            )
        done
        cjpeg -quality 75 -outfile "$out/$name.jpg" "$picture"
        ln -s "$picture" "$out/$name.bmp"
    done
done
rm -rf "$work/scratch"

"$bench" "$work" "$@"
