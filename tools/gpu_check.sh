#!/usr/bin/env bash
# The GPU library's device check.
#
#   tools/gpu_check.sh prepare   here: packs photographs at 1920 x 1080 and
#                                3840 x 2160 (bench/photos.py fetches them)
#                                into gpu/check-data/*.vx, which the device
#                                run carries (it is ignored by git)
#   tools/gpu_check.sh           on a machine with an NVIDIA card (no package
#                                archive there): builds only the library and
#                                its driver, draws every frame's gradient
#                                blocks through the library and through the
#                                processor's renderer, compares them (within 1,
#                                no block undrawn) and times both, then runs
#                                compute-sanitizer once over one frame
#
# A device run takes about two minutes; everything it prints also goes to
# $OUT/gpu_check.txt when $OUT is set.
set -euo pipefail
cd "$(dirname "$0")/.."
data=gpu/check-data

if [ "${1:-}" = prepare ]; then
    [ -x build/vexel ] || tools/build.sh build -DCMAKE_BUILD_TYPE=Release
    folders=$(python3 bench/photos.py)
    photos=$(echo "$folders" | head -n 1)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    python3 - "$work" <<'PY'
import os, sys
sys.path.insert(0, "bench")
import photos
photos.ensure_pil()
from PIL import Image
source = photos.fetch()
for name in ("Storm", "Dune"):
    picture = photos.fit(Image.open(os.path.join(source, name + ".jpg")).convert("RGB"), 3840, 2160)
    picture.save(os.path.join(sys.argv[1], name + "_2160p.bmp"))
PY
    for name in Storm Dune; do cp "$photos/$name.bmp" "$work/${name}_1080p.bmp"; done
    vexel=$(realpath build/vexel)
    mkdir -p "$data"
    rm -f "$data"/*.vx
    (cd "$work" && for f in *.bmp; do env -u DISPLAY -u WAYLAND_DISPLAY "$vexel" -c "$f"; done)
    mv "$work"/*.vx "$data"/
    ls -l "$data"
    exit 0
fi

log=${OUT:-/tmp}/gpu_check.txt
exec > >(tee "$log") 2>&1
nvidia-smi -L || true
nvcc --version | tail -n 1
cmake -S . -B build-gpu -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXEL_GPU=ON -DVEXEL_DISPLAY=OFF \
    -DVEXEL_TESTS=OFF -DVEXEL_BENCH=OFF >/dev/null
cmake --build build-gpu --target pixSpray_module vexel_gpu_check
nm -D --defined-only build-gpu/libpixSpray_module.so | grep ' T pixSpray_'
status=0
build-gpu/gpu/vexel_gpu_check build-gpu/libpixSpray_module.so "$data"/*.vx || status=1
if command -v compute-sanitizer >/dev/null; then
    first=$(ls "$data"/*_1080p.vx | head -n 1)
    compute-sanitizer --tool memcheck --error-exitcode 3 \
        build-gpu/gpu/vexel_gpu_check build-gpu/libpixSpray_module.so "$first" | tail -n 8 ||
        echo "compute-sanitizer: exit $? (a refused device reads 'Device not supported')"
else
    echo "compute-sanitizer is not installed here"
fi
exit $status
