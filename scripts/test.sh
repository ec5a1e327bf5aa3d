#!/usr/bin/env bash
# Installs what is missing, builds every variant and runs every test:
#   0. the include layers of src/ (scripts/check-layers.sh),
#   1. the normal build and all tests,
#   2. the address and undefined-behaviour sanitizers,
#   3. the thread sanitizer,
#   4. the Windows builds (32- and 64-bit DLL and zkhost.exe), their exports and imports, and
#      the Windows scenarios under Wine on a virtual screen (scripts/wine-test.sh; the 32-bit
#      pair only where this machine executes 32-bit programs, ZK_WINE32=no skips it),
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
build/release/bench/zkline --quick --seconds 1 >/dev/null

step "address and undefined-behaviour sanitizers"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=address
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

step "thread sanitizer"
build build/tsan -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=thread
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs"

step "Windows: cross builds, exports and imports, the scenarios under Wine"
scripts/wine-test.sh

if [ -x scripts/fuzz.sh ]; then
  step "fuzzers"
  scripts/fuzz.sh
fi

step "all tests passed"
