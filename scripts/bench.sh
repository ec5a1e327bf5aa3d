#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them; extra arguments go to the benchmark
# program (e.g. --benchmark_filter=Queue).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZK_BENCH=ON -DZK_TESTS=OFF >/dev/null
ninja -C build/bench zkbench
exec build/bench/bench/zkbench "$@"
