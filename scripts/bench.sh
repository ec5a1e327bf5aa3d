#!/usr/bin/env bash
# Builds the benchmarks in release mode, runs them and writes the report (the machine, then
# every figure) to build/bench/report.md, or to the file named by ZK_BENCH_REPORT.
#
#   scripts/bench.sh                      # the short form: a few seconds per measurement
#   ZK_BENCH_LONG=1 scripts/bench.sh      # the long form: 20 s per line run, 30 s idle
#   ZK_BENCH_BEFORE=/path/libzkdrv.so scripts/bench.sh   # the line runs also for an older build
#
# Extra arguments go to zkbench (e.g. --benchmark_filter=GetInput). The figures are noisy
# on a shared machine: run it on a quiet one for the record.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZK_BENCH=ON >/dev/null
nice -n 5 ninja -C build/bench -j2 zkbench zkline zkinstance
report=${ZK_BENCH_REPORT:-build/bench/report.md}
before=()
if [[ -n ${ZK_BENCH_BEFORE:-} ]]; then before=(--before "$ZK_BENCH_BEFORE"); fi
{
  echo "# zkdrv benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
  echo
  echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores," \
       "$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo), $(uname -sr);" \
       "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)."
  echo
  echo "## Request/answer cycles on a paced line (zkline)"
  echo
  build/bench/bench/zkline "${before[@]}"
  build/bench/bench/zkinstance
  echo
  echo "## Host calls, frames (zkbench)"
  echo
  echo '```'
  build/bench/bench/zkbench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" 2>&1
  echo '```'
} | tee "$report"
echo "report: $report" >&2
