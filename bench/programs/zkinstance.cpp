// What an instance costs while nothing happens, what it holds, how long Init takes, and the
// host's calls through the exports while the worker polls at full speed:
//
//   zkinstance [--library PATH] [--seconds S] [--skip-many]
//
// ZK_BENCH_LONG=1 measures idle CPU over 30 s instead of 3.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "programs/bench_session.h"

namespace {

using zkbench::Clock;

// CPU seconds of each thread of this process.
std::map<int, double> ThreadCpu() {
    std::map<int, double> out;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        // After the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
        std::istringstream fields(text.substr(close + 2));
        std::string f;
        double utime = 0, stime = 0;
        for (int i = 1; i <= 13 && fields >> f; ++i) {
            if (i == 12) utime = std::atof(f.c_str());
            if (i == 13) stime = std::atof(f.c_str());
        }
        out[std::atoi(entry.path().filename().c_str())] = (utime + stime) / tick;
    }
    return out;
}

std::set<int> Threads() {
    std::set<int> out;
    for (const auto& [id, cpu] : ThreadCpu()) out.insert(id);
    return out;
}

double RssMiB() {
    std::ifstream in("/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// CPU of the threads in `threads` over `seconds`, in percent of one core.
double IdleCpuPercent(const std::set<int>& threads, double seconds) {
    auto sum = [&] {
        double s = 0;
        for (const auto& [id, cpu] : ThreadCpu())
            if (threads.count(id)) s += cpu;
        return s;
    };
    const double before = sum();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return 100.0 * (sum() - before) / wall;
}

std::set<int> Minus(const std::set<int>& a, const std::set<int>& b) {
    std::set<int> out;
    for (int x : a)
        if (!b.count(x)) out.insert(x);
    return out;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "zkinstance: %s\n", what.c_str());
    std::exit(1);
}

// Waits until the modem is initialised.
void WaitReady(zktool::DriverApi& api, void* driver) {
    const auto end = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        ZkHostValue v{};
        v.type = 2;
        api.GetInput(driver, 60294, &v);
        if (v.value[0]) return;
        if (Clock::now() > end) Fail("the modem never became ready");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The floor under the idle cost: `count` bare threads that do nothing but wake every 10 ms (the
// pause of IDLE_TIME 10), measured like the driver's threads.
double BareWakeCpuPercent(int count, double seconds) {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    std::set<int> ids;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&] {
            std::unique_lock guard(lock);
            ids.insert(static_cast<int>(::gettid()));
            while (!stop) wake.wait_for(guard, std::chrono::milliseconds(10));
        });
    for (;;) {
        std::lock_guard guard(lock);
        if (ids.size() == static_cast<std::size_t>(count)) break;
    }
    const double percent = IdleCpuPercent(ids, seconds);
    {
        std::lock_guard guard(lock);
        stop = true;
    }
    wake.notify_all();
    for (auto& t : threads) t.join();
    return percent;
}

void IdleCost(zktool::DriverApi& api, double seconds, bool many) {
    std::printf("\n## Idle cost (%.0f s each)\n\n| case | driver threads | CPU, %% of one core |\n|---|---|---|\n", seconds);
    std::printf("| floor: a bare thread waking every 10 ms | 1 | %.3f |\n", BareWakeCpuPercent(1, seconds));
    {
        zkbench::LineSetup setup;
        setup.stations = 1;
        setup.qqItems = 1;  // nothing is polled without the host asking
        zkbench::BenchSession s(api, setup);
        const std::set<int> before = Threads();
        std::string error;
        if (!s.Init(error)) Fail(error);
        const std::set<int> mine = Minus(Threads(), before);
        WaitReady(api, s.driver());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::printf("| port open, not connected | %zu | %.3f |\n", mine.size(), IdleCpuPercent(mine, seconds));
        if (!s.Connect(error)) Fail(error);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::printf("| connected, no traffic | %zu | %.3f |\n", Minus(Threads(), before).size(),
                    IdleCpuPercent(Minus(Threads(), before), seconds));
        std::fflush(stdout);
    }
    if (!many) return;
    std::vector<std::unique_ptr<zkbench::BenchSession>> sessions;
    const std::set<int> before = Threads();
    for (int i = 0; i < 32; ++i) {
        zkbench::LineSetup setup;
        setup.qqItems = 1;
        setup.driverName = "ZKB" + std::to_string(i);
        sessions.push_back(std::make_unique<zkbench::BenchSession>(api, setup));
    }
    const std::set<int> sims = Minus(Threads(), before);
    for (auto& s : sessions) {
        std::string error;
        if (!s->Init(error)) Fail(error);
    }
    const std::set<int> drivers = Minus(Minus(Threads(), before), sims);
    for (auto& s : sessions) WaitReady(api, s->driver());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("| 32 instances, port open, not connected | %zu (%.1f each) | %.3f together |\n", drivers.size(),
                static_cast<double>(drivers.size()) / 32.0, IdleCpuPercent(drivers, seconds));
    std::printf("| floor: 32 bare threads waking every 10 ms | 32 | %.3f together |\n", BareWakeCpuPercent(32, seconds));
    std::fflush(stdout);
}

void MemoryAndInit(zktool::DriverApi& api) {
    std::printf("\n## Memory and Init (100 stations, 50 QQ items each)\n\n| case | Init ms | resident MiB |\n|---|---|---|\n");
    const std::filesystem::path exeDir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    for (bool history : {false, true}) {
        zkbench::LineSetup setup;
        setup.stations = 100;
        setup.qqItems = 50;
        setup.driverName = "ZKBMEM";
        std::vector<std::filesystem::path> files;
        if (history) {
            const std::string zeros(500000, '\0');
            for (int n = 1; n <= 100; ++n) {
                files.push_back(exeDir / ("ZKBMEM" + std::to_string(n) + ".hdb"));
                std::ofstream(files.back(), std::ios::binary) << zeros;
            }
        }
        {
            zkbench::BenchSession s(api, setup);
            const double rss0 = RssMiB();
            const auto t0 = Clock::now();
            std::string error;
            if (!s.Init(error)) Fail(error);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            std::printf("| %s history buffers | %.1f | %.1f |\n", history ? "with" : "without", ms, RssMiB() - rss0);
            std::fflush(stdout);
        }
        std::error_code ec;
        for (const auto& f : files) std::filesystem::remove(f, ec);
    }
}

// Nanoseconds of each call of `call`, less what the clock itself takes.
template <class F>
std::vector<double> TimeCalls(std::size_t count, F call, const std::function<void(std::size_t)>& between) {
    std::vector<double> clock;
    for (int i = 0; i < 10000; ++i) {
        const auto a = Clock::now();
        const auto b = Clock::now();
        clock.push_back(std::chrono::duration<double, std::nano>(b - a).count());
    }
    const double overhead = zkbench::Percentile(clock, 0.5);
    std::vector<double> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 1000 == 0) between(i);
        const auto a = Clock::now();
        call(i);
        const auto b = Clock::now();
        out.push_back(std::chrono::duration<double, std::nano>(b - a).count() - overhead);
    }
    return out;
}

void HostCallsWhilePolling(zktool::DriverApi& api, std::size_t count) {
    zkbench::LineSetup setup;
    setup.stations = 100;
    setup.qqItems = 50;
    setup.idleTime = 0;
    setup.silenceWait = 0;
    setup.pace = false;
    zkbench::BenchSession s(api, setup);
    std::string error;
    if (!s.Init(error) || !s.Connect(error)) Fail(error);
    void* d = s.driver();
    // Between the timed calls the host keeps the read queue full (as a host asks every cycle).
    int nextStation = 1;
    auto keepBusy = [&](std::size_t) {
        for (int i = 1; i <= 50; ++i) api.InputRequest(d, zkbench::QqChannel(nextStation, i));
        nextStation = nextStation % 100 + 1;
    };
    const std::uint64_t requestsBefore = s.sim().Status().requests;
    const auto start = Clock::now();
    struct Tier {
        const char* name;
        std::uint32_t channel;
        std::int32_t type;
    };
    const Tier tiers[] = {
        {"GetInput QQ item, first station", zkbench::QqChannel(1, 1), 8},
        {"GetInput QQ item, last station", zkbench::QqChannel(100, 50), 8},
        {"GetInput system channel", 60294, 2},
        {"GetInput station channel (last station)", 99 * 500 + 1, 2},
        {"GetInput driver-wide channel", 490, 10},
    };
    std::printf("\n## Host calls while the worker polls at full speed (100 stations x 50 QQ, IDLE_TIME 0, "
                "SILENCE_WAIT 0, line not paced)\n\n| call | calls | median ns | p99 ns | p99.99 ns | max ns |\n"
                "|---|---|---|---|---|---|\n");
    auto row = [&](const char* name, std::vector<double> v) {
        const double p50 = zkbench::Percentile(v, 0.5), p99 = zkbench::Percentile(v, 0.99),
                     p9999 = zkbench::Percentile(v, 0.9999);
        std::printf("| %s | %zu | %.0f | %.0f | %.0f | %.0f |\n", name, v.size(), p50, p99, p9999, v.back());
        std::fflush(stdout);
    };
    for (const Tier& t : tiers) {
        ZkHostValue v{};
        row(t.name, TimeCalls(count, [&](std::size_t) {
                v.type = t.type;
                api.GetInput(d, t.channel, &v);
            }, keepBusy));
    }
    row("InputRequest QQ item", TimeCalls(count / 10, [&](std::size_t i) {
            api.InputRequest(d, zkbench::QqChannel(static_cast<int>(i / 50 % 100) + 1, static_cast<int>(i % 50) + 1));
        }, keepBusy));
    row("OutputRequest QQ write", TimeCalls(count / 10, [&](std::size_t i) {
            api.OutputRequest(d, zkbench::QqChannel(static_cast<int>(i / 50 % 100) + 1, static_cast<int>(i % 50) + 1), 8,
                              i);
        }, [&](std::size_t i) {
            api.OutputRequest(d, 65531, 2, 1);  // the queues emptied, so that writes do not pile up
            keepBusy(i);
        }));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("\nRequests on the line meanwhile: %.0f per second.\n",
                static_cast<double>(s.sim().Status().requests - requestsBefore) / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = zkbench::LibraryPath(nullptr);
    const char* longForm = std::getenv("ZK_BENCH_LONG");
    const bool isLong = longForm && *longForm && std::strcmp(longForm, "0") != 0;
    double seconds = isLong ? 30.0 : 3.0;
    std::size_t calls = isLong ? 2000000 : 200000;
    bool many = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--library" && i + 1 < argc) library = argv[++i];
        else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (a == "--skip-many") many = false;
        else {
            std::fprintf(stderr, "usage: zkinstance [--library PATH] [--seconds S] [--skip-many]\n");
            return 2;
        }
    }
    zktool::DriverApi api;
    std::string error;
    if (!api.Load(library, error)) Fail(error);
    MemoryAndInit(api);
    HostCallsWhilePolling(api, calls);
    IdleCost(api, seconds, many);
    return 0;
}
