#!/usr/bin/env bash
# Installs what is missing, builds the library and the tools, and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK_TESTS=OFF >/dev/null
ninja -C build/release zkdrv zkhost
build/release/tools/zkhost --library build/release/libzkdrv.so examples/minimal.par || true
