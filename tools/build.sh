#!/usr/bin/env bash
# Configures and builds one tree:
#   tools/build.sh DIR [cmake options...] [--target NAME]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
options=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--target" ]; then
    targets+=(--target "$2")
    shift 2
  else
    options+=("$1")
    shift
  fi
done
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "${options[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
