#!/usr/bin/env bash
# Vexel side by side with the codecs users compare it with, in one run:
# whole processes (file in, file out) timed with hyperfine on the bench
# photographs (six at 1920 x 1080, five at 3840 x 2160, see bench/photos.py)
# against libjpeg-turbo's "cjpeg -quality 75" and "djpeg -bmp", and on the
# 60-frame 1280 x 720 pan against ffmpeg's MJPEG on one thread.
#
# Prints a table: for pictures the median over pictures of (Vexel's time /
# the peer's time on the same picture), the median times in brackets and the
# largest peak resident set; for the clip frames per second.
#
# Usage: bench/compare.sh [build folder]   (default: build)
# Installs hyperfine, libjpeg-turbo-progs and ffmpeg when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
# A wildcard run shows its frames when a display is there: time it without one.
unset DISPLAY WAYLAND_DISPLAY
build=$(realpath "${1:-build}")
vexel="$build/vexel"
[ -x "$vexel" ] || { echo "build vexel first: $vexel is missing" >&2; exit 1; }
runs=${VEXEL_COMPARE_RUNS:-5}

missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
command -v cjpeg >/dev/null || missing+=(libjpeg-turbo-progs)
command -v ffmpeg >/dev/null || missing+=(ffmpeg)
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}" </dev/null >&2
fi

folders=$(python3 bench/photos.py)
photos=$(echo "$folders" | sed -n 1p)
photos4k=$(echo "$folders" | sed -n 2p)
pan=$(echo "$folders" | tail -n 1)
work=$(mktemp -d /tmp/vexel-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT
results="$work/results.txt"

# measure LABEL FOLDER PREPARE COMMAND: the median of $runs runs of COMMAND in
# FOLDER (PREPARE before each one, untimed) and its peak resident set, as a
# line "LABEL seconds KiB" in the results.
measure() {
    local label=$1 folder=$2 prepare=$3 command=$4
    (
        cd "$folder"
        hyperfine --style none --warmup 1 --runs "$runs" --prepare "$prepare" \
            --export-json "$work/run.json" "$command" >/dev/null
        bash -c "$prepare"
        /usr/bin/time -o "$work/peak.txt" -f "%M" bash -c "exec $command" >/dev/null 2>&1
    )
    python3 -c 'import json,sys; print(sys.argv[1], json.load(open(sys.argv[2]))["results"][0]["median"], open(sys.argv[3]).read().strip())' \
        "$label" "$work/run.json" "$work/peak.txt" >>"$results"
}

for set in 1080:"$photos" 2160:"$photos4k"; do
    size=${set%%:*}
    source=${set#*:}
    for picture in "$source"/*.bmp; do
        name=$(basename "$picture" .bmp)
        dir="$work/$size-$name"
        mkdir -p "$dir/pack" "$dir/unpack" "$dir/jpeg"
        ln -s "$picture" "$dir/pack/p.bmp"
        ln -s "$picture" "$dir/jpeg/p.bmp"
        (cd "$dir/pack" && "$vexel" -c p.bmp >/dev/null && mv p.vx ../unpack/p.vx)
        cjpeg -quality 75 -outfile "$dir/jpeg/p.jpg" "$picture"
        measure "$size c1 $name" "$dir/pack" "rm -f p.vx" "$vexel -c -t=1 p.bmp"
        measure "$size c4 $name" "$dir/pack" "rm -f p.vx" "$vexel -c p.bmp"
        measure "$size cjpeg $name" "$dir/jpeg" "rm -f q.jpg" "cjpeg -quality 75 -outfile q.jpg p.bmp"
        measure "$size uc1 $name" "$dir/unpack" "rm -f p_000000.bmp" "$vexel -uc -t=1 p.vx"
        measure "$size uc4 $name" "$dir/unpack" "rm -f p_000000.bmp" "$vexel -uc p.vx"
        measure "$size djpeg $name" "$dir/jpeg" "rm -f q.bmp" "djpeg -bmp -outfile q.bmp p.jpg"
        rm -rf "$dir"
    done
done

# The clip: 60 frames of 1280 x 720 at 30 frames a second.
clip="$work/clip"
mkdir -p "$clip/frames" "$clip/one" "$clip/four" "$clip/mjpeg"
for f in "$pan"/pan*.bmp; do ln -s "$f" "$clip/frames/$(basename "$f")"; done
for dir in one four; do for f in "$clip"/frames/*.bmp; do ln -s "$f" "$clip/$dir/"; done; done
measure "clip c1 pan" "$clip/one" "rm -f pan.vx" "$vexel -c -a=30 -t=1 'pan*.bmp'"
measure "clip c4 pan" "$clip/four" "rm -f pan.vx" "$vexel -c -a=30 'pan*.bmp'"
measure "clip mjpeg-pack pan" "$clip/mjpeg" "rm -f clip.avi" \
    "ffmpeg -loglevel error -threads 1 -framerate 30 -i $clip/frames/pan%04d.bmp -c:v mjpeg -q:v 5 clip.avi"
for dir in one four; do rm -f "$clip/$dir"/*.bmp; done
measure "clip uc1 pan" "$clip/one" "rm -f pan_0*.bmp" "$vexel -uc -t=1 pan.vx"
measure "clip uc4 pan" "$clip/four" "rm -f pan_0*.bmp" "$vexel -uc pan.vx"
mkdir -p "$clip/mjpeg/out"
measure "clip mjpeg-unpack pan" "$clip/mjpeg" "rm -f out/*.bmp" \
    "ffmpeg -loglevel error -threads 1 -i clip.avi out/%04d.bmp"

python3 - "$results" <<'PY'
import collections, statistics, sys
seconds, peaks = collections.defaultdict(dict), collections.defaultdict(int)
for line in open(sys.argv[1]):
    size, work, name, t, kib = line.split()
    seconds[(size, work)][name] = float(t)
    peaks[(size, work)] = max(peaks[(size, work)], int(kib))

def ratio(size, work, peer):
    mine, theirs = seconds[(size, work)], seconds[(size, peer)]
    return statistics.median(mine[n] / theirs[n] for n in mine)

def ms(size, work):
    return statistics.median(seconds[(size, work)].values()) * 1000

def mib(size, work):
    return peaks[(size, work)] / 1024

print("%-40s %-30s %-30s %s" % ("work", "Vexel, 1 stream", "Vexel, default (4 streams)", "peer"))
for size, label in (("1080", "1920 x 1080"), ("2160", "3840 x 2160")):
    for work, peer, verb in (("c", "cjpeg", "-c"), ("uc", "djpeg", "-uc")):
        one, four = work + "1", work + "4"
        print("%-40s %-30s %-30s %s" % (
            "vexel %s %s" % (verb, label),
            "%.2f x (%.0f ms, %.0f MiB)" % (ratio(size, one, peer), ms(size, one), mib(size, one)),
            "%.2f x (%.0f ms, %.0f MiB)" % (ratio(size, four, peer), ms(size, four), mib(size, four)),
            "%s %.0f ms (%.0f MiB)" % (peer, ms(size, peer), mib(size, peer))))
for work, peer, label in (("c", "mjpeg-pack", "pack"), ("uc", "mjpeg-unpack", "unpack to bitmaps")):
    fps = lambda w: 60 / seconds[("clip", w)]["pan"]
    print("%-40s %-30s %-30s %s" % (
        "60 frames 1280 x 720, %s" % label,
        "%.0f fps (%.0f MiB)" % (fps(work + "1"), mib("clip", work + "1")),
        "%.0f fps (%.0f MiB)" % (fps(work + "4"), mib("clip", work + "4")),
        "MJPEG (ffmpeg, 1 thread) %.0f fps" % fps(peer)))
PY
