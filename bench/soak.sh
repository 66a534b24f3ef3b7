#!/usr/bin/env bash
# A long run: packs 100, 1 000 and 10 000 frames of 640 x 480 into one grouped
# file ("vexel -c -a=25": keyframes and kept blocks) and unpacks each again
# ("vexel -uc"), reporting the time and the peak resident memory of every run
# and checking that every frame comes back whole. About 100 distinct frames
# (a panorama panned 4 pixels a frame) are repeated through hard links, the
# unpacked bitmaps are checked and deleted as they appear, and the free disk is
# checked first. Not part of the tests: it takes minutes.
# Usage: bench/soak.sh [build folder] [largest frame count]
#        (defaults: build-release, 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
unset DISPLAY WAYLAND_DISPLAY # unpacking shows its frames when a display is there
build=$(realpath "${1:-build-release}")
largest=${2:-10000}
vexel="$build/vexel"
[ -x "$vexel" ] || { echo "build vexel first: $vexel is missing" >&2; exit 1; }
work=$(mktemp -d /tmp/vexel-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The inputs are 100 files of 900 KiB; the grouped file of the largest run
# stays below 60 KiB a frame; a few unpacked frames are on disk at a time.
need_kib=$((100 * 900 + largest * 60 + 64 * 1024))
free_kib=$(df -Pk "$work" | awk 'NR == 2 {print $4}')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "soak: $((need_kib / 1024)) MiB free needed in $work, $((free_kib / 1024)) MiB there" >&2
  exit 1
fi

python3 - "$work/distinct" <<'PY'
import math, os, struct, sys
folder = sys.argv[1]
os.makedirs(folder)
W, H, FRAMES, STEP = 640, 480, 100, 4
PW = W + STEP * FRAMES
rows = []
for y in range(H):
    row = bytearray()
    for x in range(PW):
        if y > H * 2 // 3:
            n = ((x * 73856093) ^ (y * 19349663)) & 0xFF
            row += bytes((50 + n % 40, 90 + n % 30, 60 + n % 20))
        elif (x // 53 + y // 41) % 7 == 0:
            row += bytes((200, 40 + x % 53, 30))
        else:
            row += bytes((90 + y // 4, 140 + int(30 * math.sin(x / 70.0)), 210 - y // 6))
    rows.append(bytes(row))
stride = (W * 3 + 3) // 4 * 4
for f in range(FRAMES):
    data = b"".join(r[3 * STEP * f: 3 * (STEP * f + W)] + bytes(stride - 3 * W) for r in reversed(rows))
    with open("%s/d%03d.bmp" % (folder, f), "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54))
        out.write(struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0))
        out.write(data)
PY

# Checks, then deletes, every unpacked bitmap in $1 but the newest (which may
# still be being written); with "all", the newest too. Counts them in $1/.checked.
# Every 97th frame is also compared with its source: its mean difference must
# stay that of a lossy but faithful picture.
check_frames() {
  python3 - "$1" "${2:-}" "$work/distinct" <<'PY'
import os, struct, sys
folder, everything, sources = sys.argv[1], sys.argv[2] == "all", sys.argv[3]
names = sorted(n for n in os.listdir(folder) if n.startswith("frame_") and n.endswith(".bmp"))
if not everything:
    names = names[:-1]
size = 54 + 640 * 3 * 480
count_file = os.path.join(folder, ".checked")
checked = int(open(count_file).read()) if os.path.exists(count_file) else 0
for n in names:
    path = os.path.join(folder, n)
    with open(path, "rb") as f:
        head = f.read(54)
        f.seek(0, 2)
        length = f.tell()
    if length != size or head[:2] != b"BM" or struct.unpack("<ii", head[18:26]) != (640, 480):
        sys.exit("soak: %s is not a whole 640 x 480 bitmap (%d bytes)" % (n, length))
    index = int(n[len("frame_"):-len(".bmp")])
    if index % 97 == 0:
        got = open(path, "rb").read()[54::7]
        want = open("%s/d%03d.bmp" % (sources, index % 100), "rb").read()[54::7]
        difference = sum(abs(a - b) for a, b in zip(got, want)) / len(want)
        if difference > 6:
            sys.exit("soak: %s differs from its source by %.1f on average" % (n, difference))
    os.remove(path)
    checked += 1
open(count_file, "w").write(str(checked))
PY
}

# run N: packs frames 0..N-1 and unpacks them; prints one line of figures.
run() {
  local n=$1 folder="$work/run$1"
  mkdir "$folder"
  for ((i = 0; i < n; i++)); do
    ln "$work/distinct/d$(printf %03d $((i % 100))).bmp" "$folder/frame$(printf %05d "$i").bmp"
  done
  (cd "$folder" && /usr/bin/time -o time.txt -f "%e %M" "$vexel" -c -a=25 "frame*.bmp" >/dev/null 2>log.txt) ||
    { echo "soak: packing $n frames failed: $(cat "$folder/log.txt")" >&2; exit 1; }
  read -r pack_s pack_kib <"$folder/time.txt"
  rm -f "$folder"/frame0*.bmp
  local vx_bytes
  vx_bytes=$(stat -c %s "$folder/frame.vx")

  (cd "$folder" && exec /usr/bin/time -o time.txt -f "%e %M" "$vexel" -uc frame.vx >/dev/null 2>log.txt) &
  local unpacking=$!
  while kill -0 "$unpacking" 2>/dev/null; do
    check_frames "$folder"
    sleep 0.5
  done
  wait "$unpacking" || { echo "soak: unpacking $n frames failed: $(cat "$folder/log.txt")" >&2; exit 1; }
  check_frames "$folder" all
  read -r unpack_s unpack_kib <"$folder/time.txt"
  local checked
  checked=$(cat "$folder/.checked")
  [ "$checked" -eq "$n" ] || { echo "soak: $checked of $n frames came back" >&2; exit 1; }
  printf "%6d frames  pack %7.1f s %6d KiB peak  file %6.1f KiB/frame  unpack %7.1f s %6d KiB peak  %d frames whole\n" \
    "$n" "$pack_s" "$pack_kib" "$(awk "BEGIN{print $vx_bytes / $n / 1024}")" "$unpack_s" "$unpack_kib" "$checked"
  echo "$n $pack_kib $unpack_kib" >>"$work/peaks.txt"
  rm -rf "$folder"
}

echo "soak: $(nproc) processors, $vexel"
for n in 100 1000 "$largest"; do run "$n"; done
# Flat: the largest run's peaks within 10 % (and 4 MiB) of the smallest's.
awk 'NR == 1 {p = $2; u = $3} END {
  flat = $2 <= p * 1.1 + 4096 && $3 <= u * 1.1 + 4096
  printf "peak memory %s: packing %d -> %d KiB, unpacking %d -> %d KiB\n", flat ? "flat" : "GROWS", p, $2, u, $3
  exit !flat }' "$work/peaks.txt"
