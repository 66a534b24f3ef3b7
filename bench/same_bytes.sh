#!/usr/bin/env bash
# Two builds of vexel give the same bytes on the bench photographs: every
# photograph (1920 x 1080 and 3840 x 2160) packed with the default settings,
# with -m=9, -t=1, -os, -oq, -m=7 and -m=1, each file unpacked with smooth and with fast
# painting, and the 60-frame 1280 x 720 pan packed as a clip and unpacked.
# For a change meant only to make Vexel faster: build the old version into
# one folder and the new one into another and compare them.
# With --paths, one build runs every form of its inner loops that this
# processor has (VEXEL_SIMD=plain, sse2, avx2) and each is compared with the
# plain one.
# Usage: bench/same_bytes.sh OLD_VEXEL [NEW_VEXEL]   (default: build/vexel)
#        bench/same_bytes.sh --paths [VEXEL]
set -euo pipefail
cd "$(dirname "$0")/.."
unset DISPLAY WAYLAND_DISPLAY VEXEL_SIMD
paths=0
if [ "${1:-}" = --paths ]; then
    paths=1
    shift
    old=$(realpath "${1:-build/vexel}")
    new=$old
else
    old=$(realpath "$1")
    new=$(realpath "${2:-build/vexel}")
fi
folders=$(python3 bench/photos.py)
work=$(mktemp -d /tmp/vexel-same-bytes.XXXXXX)
trap 'rm -rf "$work"' EXIT

# hashes VEXEL FOLDER: the outputs' hashes of every case, one line each.
hashes() {
    local vexel=$1 dir=$2
    mkdir -p "$dir"
    for picture in $(echo "$folders" | sed -n 1,2p | sed 's|$|/*.bmp|'); do
        name=$(basename "$(dirname "$picture")")-$(basename "$picture" .bmp)
        for options in "" "-m=9" "-t=1" "-os" "-oq" "-m=7" "-m=1"; do
            case=$dir/$name${options//[-=]/}
            mkdir -p "$case"
            ln -s "$picture" "$case/p.bmp"
            (cd "$case" && "$vexel" -c $options p.bmp >/dev/null && rm p.bmp)
            for paint in -s -f; do
                (cd "$case" && "$vexel" -uc $paint p.vx >/dev/null && mv p_000000.bmp "p$paint.bmp")
            done
            (cd "$case" && sha256sum p.vx p-s.bmp p-f.bmp | sed "s|  |  $name$options/|")
            rm -rf "$case"
        done
    done
    local clip=$dir/clip
    mkdir -p "$clip"
    for f in "$(echo "$folders" | tail -n 1)"/pan*.bmp; do ln -s "$f" "$clip/"; done
    (cd "$clip" && "$vexel" -c -a=30 'pan*.bmp' >/dev/null && rm pan0*.bmp && "$vexel" -uc pan.vx >/dev/null &&
        sha256sum pan.vx pan_0*.bmp | sed "s|  |  clip/|")
    rm -rf "$clip"
}

if [ $paths = 1 ]; then
    VEXEL_SIMD=plain hashes "$old" "$work/plain" >"$work/plain.txt"
    failed=0
    for form in sse2 avx2; do
        if [ $form = avx2 ] && ! grep -qw avx2 /proc/cpuinfo; then
            echo "$form: this processor lacks it, not run"
            continue
        fi
        VEXEL_SIMD=$form hashes "$old" "$work/$form" >"$work/$form.txt"
        if diff "$work/plain.txt" "$work/$form.txt"; then
            echo "$form: the same bytes as plain: $(wc -l <"$work/$form.txt") outputs"
        else
            echo "$form differs from plain" >&2
            failed=1
        fi
    done
    exit $failed
fi

hashes "$old" "$work/old" >"$work/old.txt"
hashes "$new" "$work/new" >"$work/new.txt"
if diff "$work/old.txt" "$work/new.txt"; then
    echo "same bytes: $(wc -l <"$work/new.txt") outputs"
else
    echo "the builds differ" >&2
    exit 1
fi
