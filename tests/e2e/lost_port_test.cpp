// The port lost and found: zksim stops in the middle of a connected session (its terminal
// closes under the driver, as a USB adapter that is pulled out) and starts again on the same
// link some seconds later. The driver reports the loss once, ends the connection, closes the
// port and waits; a dial while the device is away fails at the port; a dial after it is back
// opens the port again and polling resumes at once with the values the device holds now.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/cp1250.h"
#include "e2e/session.h"

namespace {

using namespace zk::literals;
using zke2e::Ch;
using zke2e::Config;
using zke2e::Session;

std::size_t CountLines(const std::string& text, std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

TEST(LostPort, ZksimStoppedMidSessionIsReportedOnceAndADialAfterItsReturnPollsAtOnce) {
    Config config;
    config.link = true;
    config.stations = zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\nQQ READ 2001 0 16 0 LONGINT\r\n");
    Session s(config);
    s.sim().SetQqLong(5, 0, 16, 0, 111);
    ASSERT_NO_FATAL_FAILURE(s.Start());
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));
    s.Request(2001);
    E2E_WAIT(s, s.Long(2001) == 111);

    // The device goes: reported once, with the device's name and the system's reason.
    s.StopSim();
    const std::string lost = std::string(u8"Port "_cp) + s.dir().file("modem") + std::string(u8" ztracen: "_cp);
    E2E_WAIT(s, s.Events(lost) == 1);
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnected)));
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnecting)));
    EXPECT_FALSE(s.Flag(zke2e::kModemReady)) << "the modem is initialised again at the next open";
    // A read asked for now waits in its queue for the next connection; nothing is sent, nothing
    // is counted and nothing spins.
    s.Request(2001);
    EXPECT_EQ(s.Real(zke2e::kRequestsWaiting), 1.0);
    const double messages = s.Real(Ch(1, zke2e::kMsgCounter));
    const std::string before = s.Log();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string after = s.Log();
    EXPECT_EQ(CountLines(after, "\n"), CountLines(before, "\n")) << "the log grows while the port is lost:\n"
                                                                  << after.substr(before.size());
    EXPECT_EQ(s.Real(Ch(1, zke2e::kMsgCounter)), messages);
    EXPECT_EQ(s.Events(lost), 1u);
    EXPECT_EQ(CountLines(s.Log(), "port : lost "), 1u);

    // A dial while the device is away: the port does not open, and that is all.
    s.WriteFlag(Ch(1, zke2e::kConnect), true);
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnecting)));
    EXPECT_EQ(CountLines(s.Log(), "port : error "), 1u) << "the open fails once, and nothing tries again";
    EXPECT_EQ(s.Real(zke2e::kRequestsWaiting), 1.0) << "the queue is kept";

    // The device is back with a new value: a dial opens the port, the modem is initialised and
    // the waiting read is answered with the value the station holds now.
    ASSERT_TRUE(s.StartSim());
    s.sim().SetQqLong(5, 0, 16, 0, 222);
    s.WriteFlag(Ch(1, zke2e::kConnect), true);
    E2E_WAIT(s, s.Flag(Ch(1, zke2e::kConnected)));
    const auto connected = std::chrono::steady_clock::now();
    E2E_WAIT(s, s.Long(2001) == 222);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - connected).count();
    // Polling resumes with the connection: the request waits for nothing but its own exchange.
    EXPECT_LT(seconds, 10.0) << s.Tail();
    EXPECT_TRUE(s.Flag(zke2e::kModemReady));
    EXPECT_EQ(s.Events(lost), 1u);
    EXPECT_EQ(s.sim().Status().connections, 1u);
}

}  // namespace
