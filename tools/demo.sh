#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds vexel and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
tools/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
status=0
./build/vexel || status=$?
echo "vexel exited with $status (3: usage shown)"
