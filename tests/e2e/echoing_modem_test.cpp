// A modem as it leaves the factory: it echoes every command. The driver dials, polls and hangs
// up behind it as behind one that does not, waits out its time limits while the modem works,
// and brings the modem back to its command mode when a dial or an answer runs out of time.
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

zksim::SimOptions Echoing(int dialDelayMs) {
    zksim::SimOptions o = zke2e::FastModem();
    o.echo = true;
    o.dialDelayMs = dialDelayMs;
    return o;
}

TEST(EchoingModem, ADialThatTakesSecondsConnectsPollsAndHangsUp) {
    Config config;
    config.stations = kOneStation;
    // The modem connects 5 s after the dial; its echo comes at once.
    Session s(config, Echoing(5000));
    zksim::Simulator& sim = s.sim();
    ASSERT_NO_FATAL_FAILURE(s.Start());
    sim.SetQqLong(5, 0, 16, 0, 4242);
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));
    E2E_WAIT(s, (s.Request(2001), s.Long(2001) == 4242));
    s.WriteFlag(zke2e::kHangUp, true);
    E2E_WAIT(s, s.Events(u8"MODEM - Linka zavěšena"_cp) == 1);
    EXPECT_FALSE(sim.Status().connected);
    EXPECT_EQ(s.Events(u8"MODEM - Chyba příjmu - neočekávaná odpověď"_cp), 0u);
    EXPECT_EQ(s.Events(u8"MODEM - Chyba"_cp), 0u);
    // The replies shown are the modem's own, without the echo of the commands.
    const std::string log = s.Log();
    EXPECT_EQ(log.find("MODEM - ATZ\r\r\nOK"), std::string::npos);
    EXPECT_NE(log.find("MODEM - \r\nOK\r\n"), std::string::npos);
    EXPECT_NE(log.find("MODEM - \r\nCONNECT 9600\r\n"), std::string::npos);
}

TEST(EchoingModem, ADialOrAnAnswerThatRunsOutOfTimeLeavesTheModemInCommandMode) {
    Config config;
    config.stations = kOneStation;
    config.modem =
        "INIT ATZ# INIT_TIME 6\r\n"
        "CONNECT_OK CONNECT CONNECT_TIME 4\r\n"
        "CONNECT_RING #@RING#@ RING_COUNT 1 RING_TIME 10\r\n"
        "CONNECT_ANSWER ATA# ANSWER_TIME 4\r\n"
        "LINEOFF ~+++~ATH0# LINEOFF_TIME 8";
    // The modem would take an hour to connect a dial or an answer.
    zksim::SimOptions options = Echoing(3600000);
    options.answerDelayMs = 3600000;
    Session s(config, options);
    zksim::Simulator& sim = s.sim();
    ASSERT_NO_FATAL_FAILURE(s.Start());

    for (int dial = 1; dial <= 2; ++dial) {
        SCOPED_TRACE(dial);
        s.WriteFlag(Ch(1, zke2e::kConnect), true);
        E2E_WAIT(s, sim.Status().mode == zksim::ModemMode::Dialling);
        E2E_WAIT(s, s.Events(u8"MODEM - Chyba při připojování"_cp) == static_cast<std::size_t>(dial));
        EXPECT_EQ(s.Events(u8"MODEM - Překročení času na odpověď"_cp), static_cast<std::size_t>(dial));
        // The attempt is abandoned: the modem takes commands again.
        E2E_WAIT(s, sim.Status().mode == zksim::ModemMode::Command);
        EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnected)));
        s.WriteFlag(zke2e::kModemInit, true);
        E2E_WAIT(s, s.Events("MODEM - Inicializace OK") == static_cast<std::size_t>(dial) + 1);
    }

    // A call that the modem answers but never connects.
    sim.Ring(3);
    E2E_WAIT(s, sim.Status().mode == zksim::ModemMode::Answering);
    E2E_WAIT(s, s.Events(u8"MODEM - Chyba při připojování"_cp) == 3);
    E2E_WAIT(s, sim.Status().mode == zksim::ModemMode::Command);
    s.WriteFlag(zke2e::kModemInit, true);
    E2E_WAIT(s, s.Events("MODEM - Inicializace OK") == 4);
    EXPECT_EQ(sim.Status().connections, 0u);
}

TEST(EchoingModem, ACallThatDropsEndsTheConnectionWithOrWithoutAPrefix) {
    for (const char* prefix : {"NONE", "$FF$FF"}) {
        SCOPED_TRACE(prefix);
        Config config;
        config.prefix = prefix;
        config.stations = kOneStation;
        Session s(config, Echoing(30));
        zksim::Simulator& sim = s.sim();
        ASSERT_NO_FATAL_FAILURE(s.Start());
        sim.SetQqLong(5, 0, 16, 0, 1);
        ASSERT_NO_FATAL_FAILURE(s.Dial(1));
        E2E_WAIT(s, (s.Request(2001), s.Long(2001) == 1));
        // Between two reads the line drops (zksim's "nocarrier").
        std::string error;
        ASSERT_TRUE(sim.RunScenario("nocarrier", error)) << error;
        E2E_WAIT(s, !s.Flag(Ch(1, zke2e::kConnected)));
        EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnecting)));
        EXPECT_EQ(s.Events(u8"MODEM - Spojení přerušeno (ztráta nosné)"_cp), 1u);
        // The read asked for meanwhile waits for the next call, which works as the first.
        sim.SetQqLong(5, 0, 16, 0, 2);
        s.Request(2001);
        EXPECT_EQ(s.Real(zke2e::kRequestsWaiting), 1.0);
        ASSERT_NO_FATAL_FAILURE(s.Dial(1));
        E2E_WAIT(s, s.Long(2001) == 2);
        EXPECT_EQ(sim.Status().connections, 2u);
        EXPECT_EQ(s.Events(u8"MODEM - Chyba"_cp), 0u);
    }
}

}  // namespace
