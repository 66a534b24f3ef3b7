#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test: the normal build,
# the AddressSanitizer + UndefinedBehaviorSanitizer build, and, when clang
# is present, each fuzz target briefly over its saved inputs.
# Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)

echo "== normal build"
tools/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build"
tools/build.sh build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXEL_SANITIZE=ON -DVEXEL_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

echo "== thread sanitizer: worker pools and the file cache"
tools/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXEL_TSAN=ON -DVEXEL_BENCH=OFF --target vexel_tests_codec
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build-tsan/tests/vexel_tests_codec --gtest_filter='CompressionPipeline*:FileCache*:DecompressionPipeline*:Decompression*'

if command -v clang++ >/dev/null; then
  echo "== fuzz targets"
  tools/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DVEXEL_FUZZ=ON -DVEXEL_TESTS=OFF -DVEXEL_BENCH=OFF
  seconds=${VEXEL_FUZZ_SECONDS:-20}
  for fuzzer in build-fuzz/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    name=${name#fuzz_}
    scratch=$(mktemp -d)
    # New inputs go to the scratch folder; the saved corpus is only read.
    "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=0 \
      "$scratch" "fuzz/corpus/$name" 2>&1 | tail -n 3
    rm -rf "$scratch"
  done
fi
echo "== all tests passed"
