#!/usr/bin/env bash
# Installs what is missing, builds every variant and runs every test:
#   0. the include layers of src/ (scripts/check-layers.sh),
#   1. the normal build and all tests,
#   2. the address and undefined-behaviour sanitizers,
#   3. the thread sanitizer,
#   4. the 32-bit Windows cross build and its export table,
#   5. the fuzzers for a bounded time.
# Any failure stops the script with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh test

jobs=$(nproc)
step() { printf '\n==> %s\n' "$*"; }

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir"
}

step "include layers"
scripts/check-layers.sh

step "build and test"
build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK_BENCH=ON
ctest --test-dir build/release --output-on-failure -j "$jobs"

step "benchmarks (a short run: they build and run; scripts/bench.sh measures)"
build/release/bench/zkbench --benchmark_min_time=0.01 >/dev/null

step "address and undefined-behaviour sanitizers"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=address
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

step "thread sanitizer"
build build/tsan -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=thread
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs"

step "32-bit Windows cross build"
build build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release -DZK_TESTS=OFF -DZK_TOOLS=OFF
scripts/check-windows-exports.sh build/win32/zkdrv.dll

if [ -x scripts/fuzz.sh ]; then
  step "fuzzers"
  scripts/fuzz.sh
fi

step "all tests passed"
