// A soak with value checks: ten stations behind zksim, a host that reads every kind of point
// and writes outputs and QQ items in a loop, zksim changing the values all the time and
// spoiling answers at a set rate (silence, a wrong check byte, garbage around the answer, an
// answer naming another station, a late answer, a cut frame, an inverted bit, a lost or a
// doubled byte inside the frame, the carrier lost). Every value
// the host reads is checked against the values zksim held for that point: each value carries
// its station and point in it, so a value stored under the wrong station or point, or decoded
// wrongly, is never one the point held. A wrong value delivered as good fails the test.
//
//   ZK_SOAK_CYCLES         host cycles (600 by default: about a minute)
//   ZK_SOAK_FAULT_PERCENT  spoilt answers per hundred answers (3 by default)
//   ZK_SOAK_SEED           the faults' random sequence (1 by default)
// scripts/soak.sh runs the long form.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "reliability/rig.h"

namespace {

using zkrel::Ch;

// 32-bit random numbers.
struct Rng {
    explicit Rng(std::uint32_t seed) : engine(seed) {}
    std::uint32_t operator()() { return static_cast<std::uint32_t>(engine()); }
    std::mt19937 engine;
};
using zkrel::Rig;

constexpr int kStations = 10;
constexpr std::uint8_t Address(int n) { return static_cast<std::uint8_t>(10 + n); }
constexpr std::uint32_t QqReadChannel(int n) { return static_cast<std::uint32_t>(6000 + 10 * n + 1); }
constexpr std::uint32_t QqWriteChannel(int n) { return static_cast<std::uint32_t>(6000 + 10 * n + 2); }

std::string Stations() {
    std::string text;
    for (int n = 1; n <= kStations; ++n) {
        const std::string a = std::to_string(Address(n));
        text += "[STATION] ADDRESS " + a + " RETRANSLATION " + a + "\r\nNAME \" Stanice " + std::to_string(n) +
                "\"\r\n"
                "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 4 NUM_COUNTER_IN 8 NUM_MEMORY_IN 2 NUM_MEMORY_OUT 1\r\n"
                "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
                "DEF_MEMORY_IN 1 100 WORD 2 104 REAL DEF_MEMORY_END\r\n"
                "DEF_MEMORY_OUT 1 200 REAL DEF_MEMORY_END\r\n"
                "DEF_COUNTER_IN 1 REAL 1 0 DEF_COUNTER_END\r\n"
                "PHONE 100\r\n"
                "QQ READ " + std::to_string(QqReadChannel(n)) + " 0 16 0 LONGINT\r\n"
                "QQ WRITE " + std::to_string(QqWriteChannel(n)) + " 0 20 0 LONGINT\r\n"
                "ORIGINAL_CHANNELS\r\nEND\r\n";
    }
    return text;
}

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : fallback;
}

// The points checked, per station. Every value a point takes names its station, its point and
// a version, and is exact in the station's number forms.
enum Point { QqRead, MemoryWord, MemoryReal, Analog1, Analog2, Analog3, Analog4, Counter1, kPoints };
const char* const kPointNames[] = {"QQ read", "memory input word", "memory input real", "analog input 1",
                                   "analog input 2",  "analog input 3",    "analog input 4",    "counter 1"};

double Encode(int n, Point p, std::uint32_t version) {
    switch (p) {
        case QqRead: return static_cast<double>((n << 24) | (1 << 20) | (version & 0xFFFFF));
        case MemoryWord: return n * 4096 + version % 4096;
        case MemoryReal: return -(n * 10000.0 + version % 10000);
        case Counter1: return n * 4000 + version % 4000;
        default: return n * 1000 + (p - Analog1 + 1) * 100 + version % 100;  // analog inputs
    }
}

// (Counters are read in groups of eight: a station of fewer than eight has none to read.)
// Binary inputs 1..8 hold the station's address for good; 9..16 change with the version.
bool BinaryIn(int n, int point, std::uint32_t version) {
    return point <= 8 ? ((Address(n) >> (point - 1)) & 1) != 0 : ((version >> (point - 9)) & 1) != 0;
}

struct Truth {
    std::mutex lock;
    std::map<std::pair<int, int>, std::set<double>> held;  // (station, point): every value it held
    std::array<std::uint32_t, kStations + 1> version{};
    std::map<int, std::set<std::int32_t>> qqWritten;        // per station, every value the host wrote
    std::map<int, std::set<double>> moWritten;

    bool Held(int n, Point p, double v) {
        std::lock_guard g(lock);
        return v == 0.0 || held[{n, p}].count(v) != 0;  // 0: never read yet
    }
};

// Sets every point of station n to its next version in zksim, after noting the values.
void Change(zksim::Simulator& sim, Truth& truth, int n) {
    std::uint32_t v;
    {
        std::lock_guard g(truth.lock);
        v = ++truth.version[static_cast<std::size_t>(n)];
        for (int p = 0; p < kPoints; ++p) truth.held[{n, p}].insert(Encode(n, static_cast<Point>(p), v));
    }
    const std::uint8_t a = Address(n);
    sim.SetQqLong(a, 0, 16, 0, static_cast<std::int32_t>(Encode(n, QqRead, v)));
    sim.SetMemoryIn(a, 1, Encode(n, MemoryWord, v));
    sim.SetMemoryIn(a, 2, Encode(n, MemoryReal, v));
    for (int i = 0; i < 4; ++i) sim.SetAnalogValue(a, i + 1, Encode(n, static_cast<Point>(Analog1 + i), v));
    sim.SetCounter(a, 1, static_cast<std::uint16_t>(Encode(n, Counter1, v)));
    for (int b = 1; b <= 16; ++b) sim.SetBinaryIn(a, b, BinaryIn(n, b, v));
}

enum FaultKind {
    Silence, BadCheck, GarbageBefore, GarbageAfter, WrongAddress, Delay, Truncate, BitFlip, LostByte, DoubledByte,
    DropCarrier, kFaultKinds
};
const char* const kFaultNames[] = {"silence",  "bad check", "garbage before", "garbage after", "wrong address", "delay",
                                   "truncate", "bit flip",  "lost byte",      "doubled byte",  "drop carrier"};
static_assert(sizeof(kFaultNames) / sizeof(kFaultNames[0]) == kFaultKinds, "a name for every fault");

zksim::Fault MakeFault(FaultKind kind, Rng& rng) {
    zksim::Fault f;
    f.station = Address(1 + static_cast<int>(rng() % kStations));
    auto garbage = [&] {
        zksim::Bytes b;
        for (unsigned i = 0, n = 1 + rng() % 12; i < n; ++i) b += static_cast<char>(rng() % 4 == 0 ? 0xFF : rng());
        return b;
    };
    switch (kind) {
        case Silence: f.silence = true; break;
        case BadCheck: f.badCheck = true; break;
        case GarbageBefore: f.garbageBefore = garbage(); break;
        case GarbageAfter: f.garbageAfter = garbage(); break;
        case WrongAddress: f.wrongAddress = Address(1 + static_cast<int>(rng() % kStations)); break;
        case Delay: f.delayMs = 200 + static_cast<int>(rng() % 1800); break;  // around ANSWER_TIME
        case Truncate: f.truncate = static_cast<int>(rng() % 12); break;
        case BitFlip: f.flipBit = static_cast<int>(rng() % 512); break;  // anywhere in the frame
        case LostByte: f.dropByte = static_cast<int>(rng() % 64); break;
        case DoubledByte: f.doubleByte = static_cast<int>(rng() % 64); break;
        default: f.dropCarrier = true; break;
    }
    return f;
}

class Soak {
public:
    Soak(Rig& rig, Truth& truth) : rig_(rig), truth_(truth) {}

    // The connection is up, or it is made again: a carrier that zksim lost is hung up first.
    bool Connected() {
        zksim::Simulator& sim = rig_.sim();
        if (sim.Status().connected && rig_.Flag(Ch(1, zke2e::kConnected))) return true;
        if (rig_.Flag(Ch(1, zke2e::kConnected))) {
            rig_.WriteFlag(zke2e::kHangUp, true);
            if (!zke2e::WaitUntil([&] { return !rig_.Flag(Ch(1, zke2e::kConnected)); }, 60.0)) return false;
        }
        ++redials_;
        return rig_.Dial(1, 90.0);
    }

    void RequestAll() {
        for (int n = 1; n <= kStations; ++n) {
            rig_.WriteFlag(Ch(n, zke2e::kReadBi), true);
            rig_.WriteFlag(Ch(n, zke2e::kReadAiTervak), true);
            rig_.WriteFlag(Ch(n, zke2e::kReadCt), true);
            rig_.WriteFlag(Ch(n, zke2e::kReadKi), true);
            rig_.Request(QqReadChannel(n));
        }
    }

    // Writes the next QQ value and memory output of station n, noting them first.
    void Write(int n) {
        const auto qq = static_cast<std::int32_t>((n << 24) | (2 << 20) | (++written_ & 0xFFFFF));
        const double mo = n * 1000 + written_ % 1000;
        {
            std::lock_guard g(truth_.lock);
            truth_.qqWritten[n].insert(qq);
            truth_.moWritten[n].insert(mo);
        }
        rig_.WriteLong(QqWriteChannel(n), qq);
        rig_.WriteReal(Ch(n, zke2e::kMo), mo);
        lastQq_[static_cast<std::size_t>(n)] = qq;
        lastMo_[static_cast<std::size_t>(n)] = mo;
    }

    // A write made while the line was down is not queued (writes wait only for a station on
    // line): the host writes again, a new value, what has not reached its station.
    void WriteAgain() {
        if (rig_.Real(zke2e::kWritesWaiting) != 0.0 || !rig_.Flag(Ch(1, zke2e::kConnected))) return;
        for (int n = 1; n <= kStations; ++n) {
            std::array<std::uint8_t, 4> qq{};
            std::int32_t held = 0;
            if (rig_.sim().Qq(Address(n), 0, 20, 0, qq)) std::memcpy(&held, qq.data(), sizeof held);
            double mo = 0;
            rig_.sim().MemoryOut(Address(n), 1, mo);
            if (held != lastQq_[static_cast<std::size_t>(n)] || mo != lastMo_[static_cast<std::size_t>(n)]) {
                ++writtenAgain_;
                Write(n);
            }
        }
    }

    // Reads every checked point and what zksim holds of the host's writes; counts what is wrong.
    void Check() {
        for (int n = 1; n <= kStations; ++n) {
            for (int p = 0; p < kPoints; ++p) {
                const Point point = static_cast<Point>(p);
                const double v = point == QqRead ? rig_.Long(QqReadChannel(n)) : rig_.Real(PointChannel(n, point));
                ++reads_;
                if (!truth_.Held(n, point, v)) Wrong("station " + std::to_string(n) + " " + kPointNames[p], v);
            }
            for (int b = 1; b <= 8; ++b) {
                ++reads_;
                if (rig_.Flag(Ch(n, zke2e::kBi + b - 1)) != BinaryIn(n, b, 0))
                    Wrong("station " + std::to_string(n) + " binary input " + std::to_string(b), 0);
            }
            const std::uint8_t a = Address(n);
            std::array<std::uint8_t, 4> qq{};
            if (rig_.sim().Qq(a, 0, 20, 0, qq)) {
                std::int32_t held;
                std::memcpy(&held, qq.data(), sizeof held);
                std::lock_guard g(truth_.lock);
                if (held != 0 && truth_.qqWritten[n].count(held) == 0)
                    Wrong("zksim's QQ item written to station " + std::to_string(n), held);
            }
            double mo = 0;
            if (rig_.sim().MemoryOut(a, 1, mo)) {
                std::lock_guard g(truth_.lock);
                if (mo != 0 && truth_.moWritten[n].count(mo) == 0)
                    Wrong("zksim's memory output of station " + std::to_string(n), mo);
            }
        }
    }

    // True when every point reads its latest value and zksim holds the host's latest writes.
    bool AllCurrent() {
        for (int n = 1; n <= kStations; ++n) {
            std::uint32_t v;
            {
                std::lock_guard g(truth_.lock);
                v = truth_.version[static_cast<std::size_t>(n)];
            }
            for (int p = 0; p < kPoints; ++p) {
                const Point point = static_cast<Point>(p);
                const double got = point == QqRead ? rig_.Long(QqReadChannel(n)) : rig_.Real(PointChannel(n, point));
                if (got != Encode(n, point, v))
                    return Behind("station " + std::to_string(n) + " " + kPointNames[p] + " reads " + std::to_string(got) +
                                  ", zksim holds " + std::to_string(Encode(n, point, v)));
            }
            for (int b = 1; b <= 16; ++b)
                if (rig_.Flag(Ch(n, zke2e::kBi + b - 1)) != BinaryIn(n, b, v))
                    return Behind("station " + std::to_string(n) + " binary input " + std::to_string(b));
            std::array<std::uint8_t, 4> qq{};
            std::int32_t held = 0;
            if (rig_.sim().Qq(Address(n), 0, 20, 0, qq)) std::memcpy(&held, qq.data(), sizeof held);
            double mo = 0;
            rig_.sim().MemoryOut(Address(n), 1, mo);
            if (lastQq_[static_cast<std::size_t>(n)] != 0 && held != lastQq_[static_cast<std::size_t>(n)])
                return Behind("station " + std::to_string(n) + ": the last QQ write has not arrived");
            if (lastMo_[static_cast<std::size_t>(n)] != 0 && mo != lastMo_[static_cast<std::size_t>(n)])
                return Behind("station " + std::to_string(n) + ": the last memory output has not arrived");
        }
        return true;
    }

    // What AllCurrent last found behind.
    const std::string& behind() const { return behind_; }
    std::uint64_t wrong() const { return wrong_; }
    std::uint64_t reads() const { return reads_; }
    int redials() const { return redials_; }
    int writtenAgain() const { return writtenAgain_; }
    const std::string& examples() const { return examples_; }

private:
    static std::uint32_t PointChannel(int n, Point p) {
        switch (p) {
            case MemoryWord: return Ch(n, zke2e::kMi);
            case MemoryReal: return Ch(n, zke2e::kMi + 1);
            case Counter1: return Ch(n, zke2e::kCt);
            default: return Ch(n, zke2e::kAi + (p - Analog1));
        }
    }

    bool Behind(std::string what) {
        behind_ = std::move(what);
        return false;
    }

    void Wrong(const std::string& what, double value) {
        if (++wrong_ <= 20) examples_ += what + ": " + std::to_string(value) + "\n";
    }

    Rig& rig_;
    Truth& truth_;
    std::uint64_t wrong_ = 0, reads_ = 0;
    std::uint32_t written_ = 0;
    int redials_ = 0, writtenAgain_ = 0;
    std::array<std::int32_t, kStations + 1> lastQq_{};
    std::array<double, kStations + 1> lastMo_{};
    std::string examples_, behind_;
};

TEST(Soak, TenStationsFaultsAndValueChecks) {
    const int cycles = EnvInt("ZK_SOAK_CYCLES", 600);
    const int percent = EnvInt("ZK_SOAK_FAULT_PERCENT", 3);
    Rng rng(static_cast<unsigned>(EnvInt("ZK_SOAK_SEED", 1)));
    // A first thread starts what the thread sanitizer keeps for itself (a thread of its own).
    std::thread([] {}).join();
    const zkrel::Resources before = zkrel::Measure();
    std::array<std::uint64_t, kFaultKinds> faults{};
    std::uint64_t answers = 0, requests = 0, sent = 0, received = 0, accepted = 0, timeouts = 0;
    zkrel::Resources during{};
    int redials = 0, writtenAgain = 0;
    std::uint64_t wrong = 0, reads = 0;
    const auto started = std::chrono::steady_clock::now();
    {
        Truth truth;
        std::atomic<bool> changing{false};
        zke2e::Config config;
        config.stations = Stations();
        config.prefix = "$FF$FF";
        config.global = "ANSWER_TIME 1 SILENCE_WAIT 20 NUM_MORVEL_ERROR 1000 SLEEP_COUNT 1000";
        Rig rig("RelSoak", config);
        zksim::Simulator& sim = rig.sim();
        for (int n = 1; n <= kStations; ++n) Change(sim, truth, n);
        // zksim changes one station's values every 20 ms, on its own thread.
        sim.At(0.02, 0.02, [&truth, &changing, k = 0](zksim::Simulator& s) mutable {
            if (changing.load()) Change(s, truth, 1 + (k++ % kStations));
        });

        std::string error;
        ASSERT_TRUE(rig.Init(&error)) << error;
        REL_WAIT(rig, rig.Flag(zke2e::kModemReady));
        Soak soak(rig, truth);
        ASSERT_TRUE(soak.Connected()) << rig.Tail();
        // Every point read once before the changes start.
        REL_WAIT(rig, (soak.Connected(), soak.RequestAll(), std::this_thread::sleep_for(std::chrono::milliseconds(100)),
                       soak.AllCurrent()))
        << soak.behind();

        changing = true;
        std::uint64_t nextFault = sim.Status().answers + 1;
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            ASSERT_TRUE(soak.Connected()) << "no connection in cycle " << cycle << "\n" << rig.Tail();
            soak.RequestAll();
            if (rig.Real(zke2e::kWritesWaiting) == 0.0) soak.Write(1 + cycle % kStations);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            soak.Check();
            const std::uint64_t answered = sim.Status().answers;
            if (answered >= nextFault) {
                const auto kind = static_cast<FaultKind>(rng() % kFaultKinds);
                sim.InjectFault(MakeFault(kind, rng));
                ++faults[kind];
                // On average one spoilt answer in 100 / percent.
                nextFault = answered + 1 + rng() % (200u / static_cast<unsigned>(percent));
            }
            if (cycle == cycles / 2) during = zkrel::Measure();
        }

        // The faults and the changes stop: every point comes to its latest value and the last
        // writes reach the stations.
        changing = false;
        sim.ClearFaults();
        for (int n = 1; n <= kStations; ++n) soak.Write(n);
        REL_WAIT(rig, (soak.Connected(), soak.RequestAll(), std::this_thread::sleep_for(std::chrono::milliseconds(100)),
                       soak.Check(), soak.WriteAgain(), rig.Real(zke2e::kWritesWaiting) == 0.0 && soak.AllCurrent()))
        << soak.behind();
        soak.Check();
        const zksim::SimStatus st = sim.Status();
        answers = st.answers;
        requests = st.requests;
        sent = static_cast<std::uint64_t>(rig.Real(486));
        received = static_cast<std::uint64_t>(rig.Real(493));
        accepted = static_cast<std::uint64_t>(rig.Real(498));
        for (int n = 1; n <= kStations; ++n) timeouts += static_cast<std::uint64_t>(rig.Real(Ch(n, zke2e::kErrorNoAnswer)));
        wrong = soak.wrong();
        reads = soak.reads();
        redials = soak.redials();
        writtenAgain = soak.writtenAgain();
        EXPECT_EQ(wrong, 0u) << "wrong values delivered as good, the first ones:\n" << soak.examples() << rig.Tail();
        rig.Done();
        rig.Dispose();
    }
    const zkrel::Resources after = zkrel::Measure();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string kinds;
    std::uint64_t total = 0;
    for (int k = 0; k < kFaultKinds; ++k) {
        kinds += std::string(k ? ", " : "") + kFaultNames[k] + " " + std::to_string(faults[static_cast<std::size_t>(k)]);
        total += faults[static_cast<std::size_t>(k)];
    }
    std::printf("[ soak ] %d cycles in %.0f s, faults at %d %%: %llu injected (%s)\n", cycles, seconds, percent,
                static_cast<unsigned long long>(total), kinds.c_str());
    std::printf("[ soak ] zksim: %llu requests, %llu answers; driver: %llu frames sent, %llu received, %llu accepted, "
                "%llu answer time-outs; %d connections made; %d writes made again at the end\n",
                static_cast<unsigned long long>(requests), static_cast<unsigned long long>(answers),
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(received),
                static_cast<unsigned long long>(accepted), static_cast<unsigned long long>(timeouts), redials,
                writtenAgain);
    std::printf("[ soak ] %llu values checked, %llu wrong\n", static_cast<unsigned long long>(reads),
                static_cast<unsigned long long>(wrong));
    std::printf("[ soak ] before: %s; half-way: %s; after: %s\n", zkrel::Describe(before).c_str(),
                zkrel::Describe(during).c_str(), zkrel::Describe(after).c_str());
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
}

}  // namespace
