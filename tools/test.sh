#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test:
#   * a Release (-O3) build with g++ and every optional part that is found,
#     with all its tests (the window tests under a virtual display);
#   * an AddressSanitizer + UndefinedBehaviorSanitizer build with asserts on;
#   * a clang build without the optional parts (no display, no GPU library)
#     and without the test hooks, as a packaged release is built: the tests
#     that need an injected fault or stop point are skipped there, and one
#     test checks that the environment cannot reach them;
#   * a ThreadSanitizer build of the worker pools, the file cache, the frame
#     loop and the viewer's pacing;
#   * the Debian packages of a release build, which lintian must pass
#     without an error or a warning;
#   * each fuzz target over its saved inputs for a fixed number of runs from
#     a fixed seed (clang, libFuzzer): the same inputs every time, so a
#     failure here is the change's own. Exploration without a seed is
#     bench/fuzz_campaign.sh's business.
# Warnings are errors in all of them. Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)
started=$(date +%s)
section() { echo "== $1 ($(($(date +%s) - started)) s)"; }

section "layers point one way"
if grep -rn '#include "display\|#include "ui\|#include "app\|#include "lib/\|#include "pipeline/' codec base platform; then
  echo "the codec, the foundation or the platform layer includes a layer above it" >&2
  exit 1
fi
# The codec takes bytes and pixels: it opens no file, makes no temporary
# name, loads no library and shows no message.
if grep -rnE '\b(open|rename|dlopen|getpid)\(|"platform/files\.h"|"base/(dialogs|sistemniesoobzheniya)\.h"' codec; then
  echo "the codec opens files, loads libraries or shows messages" >&2
  exit 1
fi
if grep -rn '#include "display\|#include "ui\|#include "app\|#include "lib/' pipeline; then
  echo "the pipeline layer includes a layer above it" >&2
  exit 1
fi
# The probe and the thumbnailer stand on libvexel's public header alone.
if grep -n '#include "' app/probe.cpp app/probe.h app/probe_main.cpp app/thumbnail.cpp app/thumbnail.h \
     app/thumbnailer_main.cpp app/png_writer.cpp app/png_writer.h | grep -v '"app/\(probe\|thumbnail\|png_writer\)\.h"'; then
  echo "the probe or the thumbnailer includes more of the project than libvexel's header" >&2
  exit 1
fi
# So does the gdk-pixbuf loader (with its own knobs for the fuzz target).
if grep -n '#include "' pixbuf/loader.cpp pixbuf/loader.h fuzz/pixbuf/*.cpp | grep -v '"pixbuf/loader\.h"'; then
  echo "the gdk-pixbuf loader includes more of the project than libvexel's header" >&2
  exit 1
fi

section "release build"
tools/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVEXEL_WERROR=ON
ctest --test-dir build-release --output-on-failure -j "$jobs"

section "sanitizer build, asserts on"
tools/build.sh build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g" \
  -DVEXEL_SANITIZE=ON -DVEXEL_WERROR=ON -DVEXEL_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

section "clang build without the optional parts and without the test hooks"
tools/build.sh build-clang -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVEXEL_WERROR=ON \
  -DVEXEL_DISPLAY=OFF -DVEXEL_GPU=OFF -DVEXEL_PIXBUF=OFF -DVEXEL_BENCH=OFF -DVEXEL_TEST_HOOKS=OFF
ctest --test-dir build-clang --output-on-failure -j "$jobs"

section "thread sanitizer: worker pools, the file cache, the frame loop, the viewer's pacing and libvexel's handles"
tools/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXEL_TSAN=ON -DVEXEL_WERROR=ON -DVEXEL_BENCH=OFF \
  -DVEXEL_DISPLAY=OFF -DVEXEL_GPU=OFF --target vexel_tests_pipeline --target vexel_tests_app --target vexel_tests_lib
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
build-tsan/tests/vexel_tests_pipeline --gtest_filter='CompressionPipeline*:FileCache*:DecompressionPipeline*:Decompression*'
build-tsan/tests/vexel_tests_app --gtest_filter='Pacing*:FrameLoop*'
build-tsan/tests/vexel_tests_lib
unset TSAN_OPTIONS

section "Debian packages, checked by lintian"
# Built as a release is packaged: optimised, hardened, without the tests and
# their hooks, for /usr; lintian must find no error and no warning.
tools/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DVEXEL_WERROR=ON \
  -DVEXEL_TESTS=OFF -DVEXEL_BENCH=OFF
rm -f build-package/*.deb
(cd build-package && cpack -G DEB >/dev/null)
lintian --fail-on error,warning build-package/*.deb

section "fuzz targets"
tools/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVEXEL_FUZZ=ON -DVEXEL_WERROR=ON -DVEXEL_TESTS=OFF -DVEXEL_BENCH=OFF
runs=${VEXEL_FUZZ_RUNS:-25000}
for fuzzer in build-fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  name=${name#fuzz_}
  scratch=$(mktemp -d)
  # New inputs go to the scratch folder; the saved corpus is only read.
  "$fuzzer" -seed=1 -runs="$runs" -rss_limit_mb=4096 -print_final_stats=0 \
    "$scratch" "fuzz/corpus/$name" 2>&1 | tail -n 3
  rm -rf "$scratch"
done
section "all tests passed"
