// Stations that call in: the driver counts the rings, answers, acknowledges the caller's
// report and polls the stations by itself, with no request from the host.
#include <gtest/gtest.h>

#include <string>

#include "base/cp1250.h"
#include "e2e/session.h"

namespace {

using namespace zk::literals;
using zke2e::Ch;
using zke2e::Config;
using zke2e::Session;

// Event-list lines of `text` in the log before the first line with `before`.
std::size_t EventsBefore(const std::string& log, std::string_view text, std::string_view before) {
    const std::size_t end = log.find(before);
    std::size_t n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos && at < end; at = log.find(text, at + 1)) ++n;
    return n;
}

TEST(IncomingCall, AnsweredAfterTheRingCountThenReportAcknowledgedAndStationsPolled) {
    Config config;
    // A two-byte prefix: its first byte also ends the modem's reply to the answer at once.
    config.prefix = "$FF$FF";
    config.modem =
        "INIT ATZ# INIT_TIME 6\r\n"
        "CONNECT_RING #@RING#@ RING_COUNT 2 RING_TIME 10\r\n"
        "CONNECT_ANSWER ATA# CONNECT_OK CONNECT ANSWER_TIME 10\r\n"
        "LINEOFF ~+++~ATH0# LINEOFF_TIME 8";
    config.global = "ANSWER_TIME 1 SILENCE_WAIT 200 STOP_SELF_READING OFF";
    // No telephone numbers and no QQ items: the driver's own poll runs.
    config.stations =
        "[STATION] ADDRESS 5 RETRANSLATION 5\r\n"
        "NAME \" Kotelna\"\r\n"
        "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 4 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0\r\n"
        "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
        "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n"
        "ORIGINAL_CHANNELS\r\nEND\r\n"
        "[STATION] ADDRESS 6 RETRANSLATION 6\r\n"
        "NAME \" Vymenik\"\r\n"
        "NUM_BINAR_IN 8 NUM_BINAR_OUT 0 NUM_ANALOG_IN 0 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0\r\n"
        "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
        "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n"
        "ORIGINAL_CHANNELS\r\nEND\r\n";
    Session s(config);
    zksim::Simulator& sim = s.sim();
    ASSERT_NO_FATAL_FAILURE(s.Start());

    sim.SetBinaryIn(5, 4, true);
    sim.SetAnalogValue(5, 1, 7.5);
    sim.SetBinaryIn(6, 1, true);

    // Station 5 calls and sends its active report once the driver has answered.
    zksim::Report report;
    report.kind = zksim::ReportKind::Active;
    ASSERT_TRUE(sim.Call(5, 5, report));
    const std::string_view answered = u8"MODEM - Aktivní linka připojena"_cp;
    E2E_WAIT(s, s.Events(answered) == 1);
    const std::string_view ringing = u8"MODEM - Někdo volá..."_cp;
    const std::string_view answering = u8"MODEM - Pokus o aktivní spojení..."_cp;
    EXPECT_EQ(EventsBefore(s.Log(), ringing, answering), 2u) << "RING_COUNT 2";
    EXPECT_EQ(s.Events(answering), 1u);
    EXPECT_TRUE(sim.Status().answeredCall);

    // The report is acknowledged (after the pause) and flagged for the host.
    E2E_WAIT(s, sim.Status().acknowledgements == 1);
    E2E_WAIT(s, s.Flag(Ch(1, zke2e::kActiveMessage)));

    // The driver's own poll brings the values of both stations without any host request.
    E2E_WAIT(s, s.Flag(Ch(1, zke2e::kBi + 3)) && s.Real(Ch(1, zke2e::kAi)) == 7.5 && s.Flag(Ch(2, zke2e::kBi)));
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kBi)));
    // ... and keeps them live.
    sim.SetBinaryIn(5, 4, false);
    sim.SetAnalogValue(5, 1, -1.5);
    E2E_WAIT(s, !s.Flag(Ch(1, zke2e::kBi + 3)) && s.Real(Ch(1, zke2e::kAi)) == -1.5);

    // The host hangs up through the system channel.
    s.WriteFlag(zke2e::kHangUp, true);
    E2E_WAIT(s, s.Events(u8"MODEM - Linka zavěšena"_cp) == 1);
    EXPECT_EQ(s.Events(u8"Zavěšení linky..."_cp), 1u);
    EXPECT_FALSE(sim.Status().connected);
    EXPECT_EQ(sim.Status().mode, zksim::ModemMode::Command);
    EXPECT_EQ(s.Events(u8"MODEM - Chyba"_cp), 0u) << s.Tail();
}

}  // namespace
