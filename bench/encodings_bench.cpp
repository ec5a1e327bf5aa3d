// The number forms the decoder converts for every value of every answer.
#include <benchmark/benchmark.h>

#include "protocol/encodings.h"

namespace {

void BM_StationRealRoundTrip(benchmark::State& state) {
    double x = -1234.5;
    for (auto _ : state) {
        const auto r = zk::FloatToStationReal(x);
        benchmark::DoNotOptimize(zk::StationRealToFloat(r));
        x += 0.25;
    }
}
BENCHMARK(BM_StationRealRoundTrip);

void BM_FormatReal(benchmark::State& state) {
    double x = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zk::FormatReal(10, 3, x));
        x += 1.125;
    }
}
BENCHMARK(BM_FormatReal);

}  // namespace
