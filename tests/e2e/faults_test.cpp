// A bad line: answers spoilt on the way (garbage, a wrong check byte, a wrong station address,
// a cut frame) and a carrier that drops in the middle of a session. The driver gets over each
// and keeps serving the host; the dropped call ends the connection.
#include <gtest/gtest.h>

#include <string>

#include "base/cp1250.h"
#include "e2e/session.h"

namespace {

using namespace zk::literals;
using zke2e::Ch;
using zke2e::Config;
using zke2e::Session;

const std::string kOneStation =
    zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\nQQ READ 2001 0 16 0 LONGINT\r\n");

zksim::Fault ForStation5() {
    zksim::Fault f;
    f.station = 5;
    return f;
}

TEST(BadLine, SpoiltAnswersAndALostCarrierLeaveTheDriverWorking) {
    Config config;
    config.prefix = "$FF$FF";
    config.stations = kOneStation;
    // Room for a slow pass: an answer that is merely late must not pass for a lost one here.
    config.global = "ANSWER_TIME 2 SILENCE_WAIT 20 NUM_MORVEL_ERROR 20";
    Session s(config);
    zksim::Simulator& sim = s.sim();
    ASSERT_NO_FATAL_FAILURE(s.Start());
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));
    const std::uint32_t timeouts = Ch(1, zke2e::kErrorNoAnswer);

    enum class Outcome {
        Delivered,    // the spoilt answer is still read
        Retried,      // it is refused (or answers nothing), the request times out and is sent again
    };
    struct Case {
        const char* name;
        zksim::Fault fault;
        zksim::Bytes before;  // sent by itself before the request
        Outcome outcome;
    };
    std::vector<Case> cases;
    {
        zksim::Fault f = ForStation5();
        f.garbageBefore = std::string("\x55\xAA\r\nOK\r\n\x00", 9);
        cases.push_back({"garbage before the answer", f, {}, Outcome::Delivered});
        f = ForStation5();
        f.garbageAfter = std::string("\x00\x13\x37", 3);
        cases.push_back({"garbage after the answer", f, {}, Outcome::Delivered});
        cases.push_back({"garbage between answers", ForStation5(), std::string("\x01\x02junk\xFF\r\n", 9),
                         Outcome::Delivered});
        f = ForStation5();
        f.badCheck = true;
        cases.push_back({"wrong check byte", f, {}, Outcome::Retried});
        f = ForStation5();
        f.truncate = 6;
        cases.push_back({"truncated frame", f, {}, Outcome::Retried});
        f = ForStation5();
        f.wrongAddress = 9;
        cases.push_back({"wrong station address", f, {}, Outcome::Retried});
    }

    std::int32_t value = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++value;
        sim.SetQqLong(5, 0, 16, 0, value);
        const double timeoutsBefore = s.Real(timeouts);
        const std::size_t sentBefore = zke2e::CountRequests(sim, "Qq");
        if (!c.before.empty()) sim.SendRaw(c.before);
        sim.InjectFault(c.fault);
        s.Request(2001);
        E2E_WAIT(s, s.Long(2001) == value);
        if (c.outcome == Outcome::Retried) {
            EXPECT_GT(s.Real(timeouts), timeoutsBefore);
            EXPECT_GE(zke2e::CountRequests(sim, "Qq"), sentBefore + 2);
        }
    }
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kUnreachable)));
    EXPECT_TRUE(s.Flag(Ch(1, zke2e::kConnected)));

    // The carrier drops instead of an answer: the modem says "NO CARRIER" and is back in its
    // command mode. The driver ends the connection by itself, without hanging up, and keeps the
    // read queued.
    zksim::Fault carrier = ForStation5();
    carrier.dropCarrier = true;
    sim.InjectFault(carrier);
    sim.SetQqLong(5, 0, 16, 0, 555);
    s.Request(2001);
    E2E_WAIT(s, !sim.Status().connected && !s.Flag(Ch(1, zke2e::kConnected)));
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnecting)));
    EXPECT_EQ(s.Events(u8"MODEM - Spojení přerušeno (ztráta nosné)"_cp), 1u);
    EXPECT_EQ(s.Events(u8"MODEM - Linka zavěšena"_cp), 0u);
    EXPECT_NE(s.Log().find("carrier : lost: NO CARRIER"), std::string::npos);

    // The host dials again; the read that waited is answered on the new call.
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));
    E2E_WAIT(s, (s.Request(2001), s.Long(2001) == 555));
    EXPECT_EQ(sim.Status().connections, 2u);
}

}  // namespace
