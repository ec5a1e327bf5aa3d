// The driver's own time in every request/answer cycle on a line paced at its speed: from an
// answer's last byte to the next request's first byte, less SILENCE_WAIT (the pause the
// parameter file asks for), with the cycles per second against what the line allows.
//
//   zkline [--library PATH] [--before PATH] [--seconds S] [--quick]
//
// --before adds the same runs against a second build of the library (an older commit).
// ZK_BENCH_LONG=1 measures 20 s per run instead of 4.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "programs/bench_session.h"

namespace {

using zkbench::Clock;

struct Event {
    Clock::time_point at;
    bool toDriver;
    std::size_t bytes;
};

struct Result {
    std::size_t cycles = 0, unanswered = 0;
    double seconds = 0, medianMs = 0, p99Ms = 0, maxMs = 0;
    double requestBytes = 0, answerBytes = 0, cpuPercent = 0;
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Result Run(zktool::DriverApi& api, const zkbench::LineSetup& setup, double seconds) {
    std::mutex lock;
    std::vector<Event> events;
    bool recording = false;
    events.reserve(1 << 16);
    zkbench::BenchSession session(api, setup, [&](bool toDriver, std::string_view bytes) {
        const auto now = Clock::now();
        std::lock_guard guard(lock);
        if (recording) events.push_back({now, toDriver, bytes.size()});
    });
    std::string error;
    if (!session.Init(error) || !session.Connect(error)) {
        std::fprintf(stderr, "zkline: %s\n", error.c_str());
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the report and its acknowledgement
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    {
        std::lock_guard guard(lock);
        recording = true;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    {
        std::lock_guard guard(lock);
        recording = false;
    }
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    session.Stop();

    // A request starts with the first bytes from the driver after bytes to it; a request that
    // follows a request had no answer.
    Result r;
    std::vector<double> gaps;
    bool answered = false, requesting = false;
    Clock::time_point lastAnswerByte{}, firstRequest{}, lastRequest{};
    std::size_t requestBytes = 0, answerBytes = 0, requests = 0;
    for (const Event& e : events) {
        if (e.toDriver) {
            answered = true;
            requesting = false;
            lastAnswerByte = e.at;
            answerBytes += e.bytes;
            continue;
        }
        requestBytes += e.bytes;
        if (requesting) continue;  // the rest of the same request
        requesting = true;
        ++requests;
        if (requests == 1) firstRequest = e.at;
        lastRequest = e.at;
        if (answered) {
            gaps.push_back(std::chrono::duration<double, std::milli>(e.at - lastAnswerByte).count() - setup.silenceWait);
            ++r.cycles;
        } else if (requests > 1) {
            ++r.unanswered;
        }
        answered = false;
    }
    r.seconds = std::chrono::duration<double>(lastRequest - firstRequest).count();
    if (requests > 1) {
        r.requestBytes = static_cast<double>(requestBytes) / static_cast<double>(requests);
        r.answerBytes = static_cast<double>(answerBytes) / static_cast<double>(requests);
    }
    r.medianMs = zkbench::Percentile(gaps, 0.5);
    r.p99Ms = zkbench::Percentile(gaps, 0.99);
    r.maxMs = gaps.empty() ? 0 : gaps.back();
    r.cpuPercent = 100.0 * cpu / wall;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = zkbench::LibraryPath(nullptr), before;
    const char* longForm = std::getenv("ZK_BENCH_LONG");
    double seconds = longForm && *longForm && std::strcmp(longForm, "0") != 0 ? 20.0 : 4.0;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--library" && i + 1 < argc) library = argv[++i];
        else if (a == "--before" && i + 1 < argc) before = argv[++i];
        else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (a == "--quick") quick = true;
        else {
            std::fprintf(stderr, "usage: zkline [--library PATH] [--before PATH] [--seconds S] [--quick]\n");
            return 2;
        }
    }
    struct Build {
        std::string label, path;
    };
    std::vector<Build> builds{{"after", library}};
    if (!before.empty()) builds.insert(builds.begin(), Build{"before", before});

    std::printf("| build | IDLE_TIME | Bd | stations | cycles | overhead median ms | p99 ms | max ms | cycles/s | "
                "line limit/s | of limit | request B | answer B | CPU %% |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Build& b : builds) {
        zktool::DriverApi api;
        std::string error;
        if (!api.Load(b.path, error)) {
            std::fprintf(stderr, "zkline: %s\n", error.c_str());
            return 1;
        }
        for (int idle : {10, 0})
            for (int baud : {9600, 115200})
                for (int stations : {1, 10}) {
                    if (quick && (baud != 9600 || stations != 1)) continue;
                    zkbench::LineSetup setup;
                    setup.idleTime = idle;
                    setup.baud = baud;
                    setup.stations = stations;
                    const Result r = Run(api, setup, seconds);
                    // What the simulated line allows: the answer at 10 bits a byte and the pause
                    // after it (zksim answers at once; the request reaches it at once, as the
                    // terminal does not pace the driver's side).
                    const double wire = r.answerBytes * 10.0 / baud + setup.silenceWait / 1000.0;
                    const double perSecond = r.seconds > 0 ? static_cast<double>(r.cycles) / r.seconds : 0;
                    std::printf("| %s | %d | %d | %d | %zu | %.2f | %.2f | %.2f | %.2f | %.2f | %.0f %% | %.1f | %.1f | %.1f |\n",
                                b.label.c_str(), idle, baud, stations, r.cycles, r.medianMs, r.p99Ms, r.maxMs, perSecond,
                                1.0 / wire, 100.0 * perSecond * wire, r.requestBytes, r.answerBytes, r.cpuPercent);
                    std::fflush(stdout);
                }
    }
    return 0;
}
