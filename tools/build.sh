#!/usr/bin/env bash
# Configures and builds one tree: tools/build.sh DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
