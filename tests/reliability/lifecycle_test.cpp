// Many instance lives in one process: MakeDriver, Init on a live port, traffic through a dialled
// connection, Done, DisposeDriver; also lives whose Init fails and lives that end in
// DisposeDriver without Done. Afterwards the heap in use, the open descriptors and the threads
// are where they were after the first (warm-up) life.
//
// ZK_LIFECYCLE_ROUNDS sets the number of lives per case (5 with a connection and 10 without by
// default; scripts/soak.sh runs 100).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>

#include "reliability/rig.h"

namespace {

using zkrel::Ch;
using zkrel::Rig;

const std::string kStation = zke2e::BinaryStation(
    5, "Kotelna", 16, "PHONE 123\r\nQQ READ 2001 0 16 0 LONGINT\r\nQQ WRITE 2002 0 20 0 LONGINT\r\n");

zke2e::Config LifeConfig() {
    zke2e::Config c;
    c.stations = kStation;
    c.prefix = "$FF$FF";
    c.global = "ANSWER_TIME 2 SILENCE_WAIT 20 NUM_MORVEL_ERROR 20";
    return c;
}

// A life with a connection costs about 6 s (the modem's replies end after 3 s of silence),
// one whose Init fails a few milliseconds.
int Rounds(bool connects) {
    const char* text = std::getenv("ZK_LIFECYCLE_ROUNDS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : connects ? 5 : 10;
}

// A connection, a read answered with the round's value and a write that reaches the station.
void Traffic(Rig& rig, int round) {
    REL_WAIT(rig, rig.Flag(zke2e::kModemReady));
    ASSERT_TRUE(rig.Dial(1)) << rig.Tail();
    rig.sim().SetQqLong(5, 0, 16, 0, 1000 + round);
    rig.Request(2001);
    REL_WAIT(rig, rig.Long(2001) == 1000 + round);
    rig.WriteLong(2002, 7000 + round);
    std::array<std::uint8_t, 4> qq{};
    REL_WAIT(rig, rig.sim().Qq(5, 0, 20, 0, qq) && qq == zke2e::LittleEndian(static_cast<std::uint32_t>(7000 + round)));
    // A few reads left waiting in the queues when the instance ends.
    for (std::uint32_t ch : {1u, 2u, 2001u, 3u}) rig.Request(ch);
    rig.WriteLong(2002, 1);
}

void CleanLife(int round) {
    Rig rig("RelLife", LifeConfig());
    std::string error;
    ASSERT_TRUE(rig.Init(&error)) << error;
    ASSERT_NO_FATAL_FAILURE(Traffic(rig, round));
    rig.Done();
    rig.Dispose();
}

void DisposeWithoutDone(int round) {
    Rig rig("RelLife", LifeConfig());
    std::string error;
    ASSERT_TRUE(rig.Init(&error)) << error;
    ASSERT_NO_FATAL_FAILURE(Traffic(rig, round));
    rig.Dispose();
}

void PortDoesNotOpen(int) {
    zktest::TempDir elsewhere;
    Rig rig("RelLife", LifeConfig(), zke2e::FastModem(), elsewhere.file("no-such-tty"));
    std::string error;
    ASSERT_FALSE(rig.Init(&error));
    EXPECT_FALSE(error.empty());
    rig.Done();
    rig.Dispose();
}

void ParameterFileWrong(int) {
    Rig rig("RelLife", LifeConfig());
    zktest::WriteFile(rig.parPath(), "[COM]\r\nBAUD 9600 PARITY SOMETIMES\r\nEND\r\n[STATION] ADDRESS\r\n");
    std::string error;
    ASSERT_FALSE(rig.Init(&error));
    EXPECT_FALSE(error.empty());
    rig.Dispose();  // a host may give up the instance without Done
}

struct Case {
    const char* name;
    std::function<void(int)> life;
    bool connects;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Lifecycle : public ::testing::TestWithParam<Case> {};

TEST_P(Lifecycle, LeavesNothingBehind) {
    const Case& c = GetParam();
    const int rounds = Rounds(c.connects);
    // The first life loads what stays for the process (the library's statics, time-zone data,
    // the test framework's records).
    ASSERT_NO_FATAL_FAILURE(c.life(0));
    const zkrel::Resources start = zkrel::Measure();
    zkrel::Resources afterOne{};
    for (int round = 1; round <= rounds; ++round) {
        SCOPED_TRACE("life " + std::to_string(round));
        ASSERT_NO_FATAL_FAILURE(c.life(round));
        if (round == 1) afterOne = zkrel::Measure();
    }
    const zkrel::Resources end = zkrel::Measure();
    std::printf("[ lifecycle ] %s: %d lives; after warm-up: %s; after life 1: %s; after the last: %s\n", c.name, rounds,
                zkrel::Describe(start).c_str(), zkrel::Describe(afterOne).c_str(), zkrel::Describe(end).c_str());
    EXPECT_EQ(end.descriptors, start.descriptors);
    EXPECT_EQ(end.threads, start.threads);
    // A few kilobytes of slack for what the C library and the test framework keep by themselves
    // (stdio buffers, cached locale and time-zone data); a leak of one record per life exceeds it
    // well before 100 lives.
    EXPECT_LE(end.heap - start.heap, 8 * 1024) << "heap grew from " << start.heap << " to " << end.heap;
}

INSTANTIATE_TEST_SUITE_P(Lives, Lifecycle,
                         ::testing::Values(Case{"clean", CleanLife, true},
                                           Case{"dispose_without_done", DisposeWithoutDone, true},
                                           Case{"port_does_not_open", PortDoesNotOpen, false},
                                           Case{"parameter_file_wrong", ParameterFileWrong, false}),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
