// The host's calls through the exports on a running instance (port open, modem ready, no
// call): 1 against 100 stations of 50 QQ items each. Percentiles while the worker polls at
// full speed: zkinstance.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

#include "programs/bench_session.h"

namespace {

struct Running {
    zktool::DriverApi api;
    std::unique_ptr<zkbench::BenchSession> session;
};

// One instance per station count, started at first use and kept for the whole run.
Running& Instance(int stations) {
    static std::map<int, std::unique_ptr<Running>> running;
    auto& r = running[stations];
    if (!r) {
        r = std::make_unique<Running>();
        std::string error;
        if (!r->api.Load(zkbench::LibraryPath(nullptr), error)) throw std::runtime_error(error);
        zkbench::LineSetup setup;
        setup.stations = stations;
        setup.qqItems = 50;
        r->session = std::make_unique<zkbench::BenchSession>(r->api, setup);
        if (!r->session->Init(error)) throw std::runtime_error(error);
    }
    return *r;
}

// Tiers of the channel lookup: 0 a QQ item of the last station, 1 a system channel, 2 a
// station's own channel (the last station), 3 a driver-wide channel.
void BM_GetInput(benchmark::State& state) {
    const int stations = static_cast<int>(state.range(1));
    Running& r = Instance(stations);
    std::uint32_t channel = 0;
    std::int32_t type = 2;
    switch (state.range(0)) {
        case 0: channel = zkbench::QqChannel(stations, 50), type = 8; break;
        case 1: channel = 60294; break;
        case 2: channel = static_cast<std::uint32_t>((stations - 1) * 500 + 1); break;
        default: channel = 490, type = 10; break;
    }
    ZkHostValue v{};
    for (auto _ : state) {
        v.type = type;
        r.api.GetInput(r.session->driver(), channel, &v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_GetInput)->ArgsProduct({{0, 1, 2, 3}, {1, 100}})->ArgNames({"tier", "stations"});

void BM_InputRequestQq(benchmark::State& state) {
    const int stations = static_cast<int>(state.range(0));
    Running& r = Instance(stations);
    int i = 0;
    for (auto _ : state) {
        r.api.InputRequest(r.session->driver(), zkbench::QqChannel(i / 50 % stations + 1, i % 50 + 1));
        ++i;
    }
}
BENCHMARK(BM_InputRequestQq)->Arg(1)->Arg(100)->ArgName("stations");

void BM_OutputRequestQqWrite(benchmark::State& state) {
    const int stations = static_cast<int>(state.range(0));
    Running& r = Instance(stations);
    int i = 0;
    for (auto _ : state) {
        r.api.OutputRequest(r.session->driver(), zkbench::QqChannel(i / 50 % stations + 1, i % 50 + 1), 8,
                            static_cast<std::uint64_t>(i));
        if (++i % 1000 == 0) {
            state.PauseTiming();
            r.api.OutputRequest(r.session->driver(), 65531, 2, 1);  // the queues emptied
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_OutputRequestQqWrite)->Arg(1)->Arg(100)->ArgName("stations");

}  // namespace
