#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp) with clang into build/fuzz and runs each one
# for a bounded time, starting from its seed corpus in fuzz/corpus/<target>/. A crash, a leak,
# a sanitizer report or a time-out stops the script with a non-zero status; the input that
# caused it is left in build/fuzz/artifacts/.
#   ZK_FUZZ_SECONDS        seconds per target (default 60)
#   ZK_FUZZ_TOTAL_SECONDS  upper bound for all targets together (default 100)
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=clang++-14
command -v "$cxx" >/dev/null 2>&1 || cxx=clang++
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
  -DZK_FUZZ=ON -DZK_TESTS=OFF -DZK_TOOLS=OFF -DZK_BENCH=OFF >/dev/null
ninja -C "$build" fuzzers

targets=()
for source in fuzz/*_fuzz.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
per=${ZK_FUZZ_SECONDS:-60}
total=${ZK_FUZZ_TOTAL_SECONDS:-100}
if [ $((per * ${#targets[@]})) -gt "$total" ]; then
  per=$((total / ${#targets[@]}))
fi

mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds+=("fuzz/corpus/$target")
  echo "==> $target: ${per}s"
  if ! "$build/fuzz/$target" -max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$work" "${seeds[@]}" 2>"$build/$target.log"; then
    tail -n 60 "$build/$target.log" >&2
    echo "FUZZER $target FAILED: see $build/$target.log and $build/artifacts/" >&2
    exit 1
  fi
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" "$build/$target.log" || true
done
echo "==> fuzzers ran clean"
