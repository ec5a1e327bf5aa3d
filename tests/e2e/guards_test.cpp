// What the driver refuses to do for the host's sake: store an answer under a station that was
// not asked, send a second dial inside a live call, and touch the port once Done has returned.
#include <gtest/gtest.h>

#include <string>

#include "base/cp1250.h"
#include "e2e/session.h"
#include "support/library.h"

namespace {

using zke2e::Ch;
using zke2e::Config;
using zke2e::Session;

// Stations 5 and 6 behind one number, 16 binary inputs each.
const std::string kTwoStations = zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\n") +
                                 zke2e::BinaryStation(6, "Vymenik", 16, "PHONE 123\r\n");

std::size_t Count(const std::string& text, std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The first eight binary inputs of station index `n` as a bit pattern.
unsigned Bits(Session& s, int n) {
    unsigned bits = 0;
    for (int i = 1; i <= 8; ++i)
        if (s.Flag(Ch(n, zke2e::kBi + i - 1))) bits |= 1u << (i - 1);
    return bits;
}

TEST(Guards, AnAnswerNamingAnotherStationLeavesThatStationsValuesAlone) {
    Config config;
    config.stations = kTwoStations;
    config.global = "ANSWER_TIME 1 SILENCE_WAIT 20 NUM_MORVEL_ERROR 20";
    Session s(config);
    zksim::Simulator& sim = s.sim();
    for (int i = 1; i <= 8; ++i) {
        sim.SetBinaryIn(5, i, i % 2 == 1);  // 0x55
        sim.SetBinaryIn(6, i, i <= 2);      // 0x03
    }
    ASSERT_NO_FATAL_FAILURE(s.Start());
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));

    s.WriteFlag(Ch(2, zke2e::kReadBi), true);
    E2E_WAIT(s, Bits(s, 2) == 0x03u);

    // Station 5's answer comes back naming station 6: dropped, and station 5 asked again.
    zksim::Fault fault;
    fault.station = 5;
    fault.wrongAddress = 6;
    sim.InjectFault(fault);
    const double timeouts = s.Real(Ch(1, zke2e::kErrorNoAnswer));
    s.WriteFlag(Ch(1, zke2e::kReadBi), true);
    E2E_WAIT(s, Bits(s, 1) == 0x55u);
    EXPECT_EQ(Bits(s, 2), 0x03u);
    EXPECT_GT(s.Real(Ch(1, zke2e::kErrorNoAnswer)), timeouts);
    EXPECT_EQ(Count(s.Log(), "not from the station asked"), 2u);  // the framing's and the decoder's line
    EXPECT_TRUE(s.Flag(Ch(1, zke2e::kConnected)));
}

TEST(Guards, ASecondDialInsideALiveCallIsNotSentAndPollingGoesOn) {
    Config config;
    config.stations = zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\nQQ READ 2001 0 16 0 LONGINT\r\n");
    Session s(config);
    zksim::Simulator& sim = s.sim();
    ASSERT_NO_FATAL_FAILURE(s.Start());
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));
    const std::uint64_t commands = sim.Status().commands;

    s.WriteFlag(Ch(1, zke2e::kConnect), true);  // the host asks again
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnecting)));
    sim.SetQqLong(5, 0, 16, 0, 4242);
    s.Request(2001);
    E2E_WAIT(s, s.Long(2001) == 4242);
    EXPECT_EQ(sim.Status().commands, commands);
    EXPECT_EQ(sim.Status().connections, 1u);
    EXPECT_EQ(Count(s.Log(), "trans : ATDP"), 1u);
    EXPECT_EQ(Count(s.Log(), "no second dial"), 1u);
    EXPECT_TRUE(s.Flag(Ch(1, zke2e::kConnected)));
}

TEST(Guards, AConnectRequestAfterDoneOpensNothing) {
    Config config;
    config.stations = zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\n");
    Session s(config);
    ASSERT_NO_FATAL_FAILURE(s.Start());
    auto& api = zktest::Library();
    api.Done(s.driver());
    s.WriteFlag(Ch(1, zke2e::kConnect), true);
    s.WriteFlag(zke2e::kHangUp, true);
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnecting)));

    // The port is free: another instance takes it.
    const std::string par = s.dir().file("second.par");
    zktest::WriteFile(par, s.parText());
    void* second = api.MakeDriver();
    char text[256] = "SECOND";
    EXPECT_EQ(api.Init(second, static_cast<std::int32_t>(par.size()), par.c_str(), 0, text, 3, 0, 0, 0), 1u) << text;
    api.Done(second);
    api.DisposeDriver(second);
    EXPECT_EQ(s.sim().Status().connections, 0u);
}

}  // namespace
