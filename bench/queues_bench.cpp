// The request queues under a host that asks for thousands of channels every cycle.
#include <benchmark/benchmark.h>

#include <string>

#include "protocol/queues.h"

namespace {

std::string Address(std::uint32_t i) {
    return {static_cast<char>(i & 0xFF), static_cast<char>((i >> 8) & 0xFF), static_cast<char>(i >> 16)};
}

// Appending reads of distinct addresses to a long queue: the duplicate check must not walk it.
void BM_AppendDistinctReads(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        zk::RequestQueue q;
        for (std::uint32_t i = 0; i < n; ++i)
            zk::AppendRequest(q, static_cast<std::uint8_t>(1 + i % 100), zk::ReqChannelRead, 0, Address(i), nullptr);
        benchmark::DoNotOptimize(q.Count);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendDistinctReads)->Arg(1000)->Arg(10000);

// The "is this item being read" question against a queue of n reads.
void BM_IsAddressQueued(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    zk::RequestQueue q;
    for (std::uint32_t i = 0; i < n; ++i) zk::AppendRequest(q, 1, zk::ReqChannelRead, 0, Address(i), nullptr);
    std::uint32_t i = 0;
    for (auto _ : state) {
        const std::string a = Address(i++ % (2 * n));
        benchmark::DoNotOptimize(
            zk::IsAddressQueued(q, 1, reinterpret_cast<const std::uint8_t*>(a.data())));
    }
}
BENCHMARK(BM_IsAddressQueued)->Arg(1000)->Arg(10000);

}  // namespace
