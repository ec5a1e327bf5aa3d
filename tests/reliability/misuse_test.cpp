// Host calls from several threads at once, with any channel, type and value: four threads call
// GetInput, InputRequest and OutputRequest, a fifth calls DriverProc, while the worker polls a
// zksim station; then Done and DisposeDriver. Nothing crashes or hangs; under the address and
// thread sanitizers nothing is read after it is freed and no value is read while it is written.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

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

const char* const kStations =
    "[STATION] ADDRESS 5 RETRANSLATION 5\r\n"
    "NAME \" Kotelna\"\r\n"
    "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 8 NUM_COUNTER_IN 8 NUM_MEMORY_IN 2 NUM_MEMORY_OUT 1\r\n"
    "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
    "DEF_MEMORY_IN 1 100 WORD 2 104 REAL DEF_MEMORY_END\r\n"
    "DEF_MEMORY_OUT 1 200 REAL DEF_MEMORY_END\r\n"
    "DEF_COUNTER_IN 1 REAL 0.5 0 DEF_COUNTER_END\r\n"
    "PHONE 123\r\n"
    "QQ READ 2001 0 16 0 LONGINT\r\n"
    "QQ WRITE 2002 0 20 0 WORD\r\n"
    "QQ BIDIR 2003 0 24 0 REAL\r\n"
    "QQ READ 2004 0 28 0 STRING\r\n"
    "ORIGINAL_CHANNELS\r\nEND\r\n"
    "[STATION] ADDRESS 6 RETRANSLATION 6\r\n"
    "NAME \" Vymenik\"\r\n"
    "NUM_BINAR_IN 8 NUM_BINAR_OUT 0 NUM_ANALOG_IN 0 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 8\r\n"
    "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR 0\r\n"
    "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n"
    "PHONE D123\r\n"
    "ORIGINAL_CHANNELS\r\nEND\r\n";

std::uint64_t Bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Channel numbers with most of the weight where something answers to them.
std::uint32_t AnyChannel(Rng& rng) {
    const unsigned pick = rng() % 10;
    if (pick < 5) return rng() % 1100;
    if (pick < 6) return 2000 + rng() % 10;
    if (pick < 8) return 59990 + rng() % 320;
    if (pick < 9) return 65380 + rng() % 156;
    return rng();  // the high bits do not count
}

std::uint64_t AnyValue(Rng& rng) {
    static const std::uint64_t kValues[] = {0, 1, 2, 0xFF, ~0ull, 0x8000000000000000ull,
                                            Bits(std::numeric_limits<double>::quiet_NaN()),
                                            Bits(-std::numeric_limits<double>::infinity()), Bits(1e300), Bits(-2.5),
                                            Bits(12345.678)};
    if (rng() % 2) return kValues[rng() % std::size(kValues)];
    return (static_cast<std::uint64_t>(rng()) << 32) | rng();
}

std::uint32_t AnyType(Rng& rng) {
    static const std::uint32_t kTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 255, 0xFFFFFFFFu};
    return kTypes[rng() % std::size(kTypes)];
}

TEST(HostMisuse, FourThreadsOfAnyCallsAndAWindowThreadWhileTheWorkerPolls) {
    zke2e::Config config;
    config.stations = kStations;
    config.prefix = "$FF$FF";
    config.global = "ANSWER_TIME 1 SILENCE_WAIT 20 NUM_MORVEL_ERROR 20";
    Rig rig("RelMisuse", config);
    zksim::Simulator& sim = rig.sim();
    sim.SetQqLong(5, 0, 16, 0, 4242);
    std::string error;
    ASSERT_TRUE(rig.Init(&error)) << error;
    REL_WAIT(rig, rig.Flag(zke2e::kModemReady));
    ASSERT_TRUE(rig.Dial(1)) << rig.Tail();
    rig.Request(2001);
    REL_WAIT(rig, rig.Long(2001) == 4242);

    auto& api = zktest::Library();
    void* const driver = rig.driver();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::atomic<std::uint64_t> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Rng rng(1000u + static_cast<unsigned>(t));
            std::vector<char> text(512);
            std::uint64_t n = 0;
            while (std::chrono::steady_clock::now() < until) {
                for (int k = 0; k < 50; ++k, ++n) {
                    const std::uint32_t ch = AnyChannel(rng);
                    switch (rng() % 4) {
                        case 0:
                        case 1: {
                            ZkHostValue v{};
                            v.type = static_cast<std::int32_t>(AnyType(rng));
                            if (v.type == 11 || rng() % 4 == 0) {
                                // A text read needs the host's buffer behind the pointer.
                                char* p = text.data();
                                std::memcpy(v.value, &p, sizeof p);
                            }
                            api.GetInput(driver, ch, &v);
                            break;
                        }
                        case 2: api.InputRequest(driver, ch); break;
                        default: {
                            std::uint32_t type = AnyType(rng);
                            if (type == 11 || type == 12) type = 10;  // a pointer the host would own
                            api.OutputRequest(driver, ch, type, AnyValue(rng));
                            break;
                        }
                    }
                }
            }
            calls.fetch_add(n);
        });
    }
    threads.emplace_back([&] {
        Rng rng(77);
        std::uint64_t n = 0;
        std::vector<char> text(4096);
        while (std::chrono::steady_clock::now() < until) {
            if (rng() % 8 == 0) {
                // The window as text (code 100): the host's buffer in p1 and p2, its size in p3.
                const auto address = reinterpret_cast<std::uintptr_t>(text.data());
                api.DriverProc(driver, 100, static_cast<std::uint32_t>(address),
                               static_cast<std::uint32_t>(static_cast<std::uint64_t>(address) >> 32),
                               rng() % static_cast<std::uint32_t>(text.size() + 1), rng());
            }
            api.DriverProc(driver, rng() % 9, rng(), rng(), rng(), rng());
            ++n;
            if (n % 64 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        calls.fetch_add(n);
    });
    // zksim keeps changing the values the worker reads.
    for (int k = 0; std::chrono::steady_clock::now() < until; ++k) {
        sim.SetQqLong(5, 0, 16, 0, k);
        sim.SetBinaryIn(5, 1 + k % 16, k % 3 == 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::thread& t : threads) t.join();
    EXPECT_GT(calls.load(), 1000u);

    // The instance still answers the host, then ends in bounded time.
    (void)rig.Real(zke2e::kRequestsWaiting);
    EXPECT_TRUE(zke2e::ReturnsWithin([&] { rig.Done(); }, 30.0)) << "Done did not return";
    EXPECT_TRUE(zke2e::ReturnsWithin([&] { rig.Dispose(); }, 30.0)) << "DisposeDriver did not return";
}

}  // namespace
