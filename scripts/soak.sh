#!/usr/bin/env bash
# The long forms of the reliability runs, against the release build (build/release):
#   1. the soak: ten stations behind zksim, faults injected, every value checked
#      (ZK_SOAK_CYCLES, 10000 by default; ZK_SOAK_FAULT_PERCENT, 1 by default);
#   2. the instance lives: 100 lives of each kind (ZK_LIFECYCLE_ROUNDS).
# The figures are printed as lines starting with "[ soak ]" and "[ lifecycle ]" and kept in
# build/release/soak-report.txt. Any failure stops the script with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
if [ ! -x "$build/tests/zk_reliability_tests" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" -j2 zk_reliability_tests zkdrv

report="$build/soak-report.txt"
: >"$report"
run() {  # run FILTER: runs the tests, keeps the figures
  (cd "$build/tests" && ./zk_reliability_tests --gtest_filter="$1") | tee -a "$report.log" |
    grep -E '^\[ (soak|lifecycle) \]|FAILED|PASSED' | tee -a "$report"
}

export ZK_SOAK_CYCLES=${ZK_SOAK_CYCLES:-10000}
export ZK_SOAK_FAULT_PERCENT=${ZK_SOAK_FAULT_PERCENT:-1}
export ZK_LIFECYCLE_ROUNDS=${ZK_LIFECYCLE_ROUNDS:-100}
echo "==> soak: $ZK_SOAK_CYCLES cycles, $ZK_SOAK_FAULT_PERCENT % faults"
run 'Soak.*'
echo "==> instance lives: $ZK_LIFECYCLE_ROUNDS of each kind"
run 'Lives/Lifecycle.*'
echo "==> figures in $report"
