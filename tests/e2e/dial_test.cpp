// A host that dials its stations: the modem's initialisation, a dial through a station's
// connect channel, reads and writes of every kind of point with values that zksim holds, and
// the hang-up. One connection per test: every modem command costs about 3 s of silence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "base/cp1250.h"
#include "e2e/session.h"

namespace {

using namespace zk::literals;
using zke2e::Ch;
using zke2e::Config;
using zke2e::Session;

// Two stations behind one telephone number; the second one's number starts with "D", so it
// answers the constant (KI) reads.
const char* const kTwoStationsOneNumber =
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
    "ORIGINAL_CHANNELS\r\nEND\r\n"
    "[STATION] ADDRESS 6 RETRANSLATION 6\r\n"
    "NAME \" Vymenik\"\r\n"
    "NUM_BINAR_IN 8 NUM_BINAR_OUT 0 NUM_ANALOG_IN 0 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 8\r\n"
    "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR 0\r\n"
    "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n"
    "PHONE D123\r\n"
    "ORIGINAL_CHANNELS\r\nEND\r\n";

TEST(DialledStations, ReadAndWriteEveryKindOfPointThroughOneConnectionAndHangUp) {
    Config config;
    config.stations = kTwoStationsOneNumber;
    Session s(config);
    zksim::Simulator& sim = s.sim();
    std::string error;
    ASSERT_TRUE(s.Init(&error)) << error;

    // The worker initialises the modem at its first pass.
    E2E_WAIT(s, s.Flag(zke2e::kModemReady));
    EXPECT_EQ(s.Events("Inicializace AT-modemu..."), 1u);
    EXPECT_EQ(s.Events("MODEM - Inicializace OK"), 1u);

    // The stations' values.
    sim.SetBinaryIn(5, 3, true);
    sim.SetBinaryIn(5, 10, true);
    sim.SetAnalogValue(5, 1, 12.5);
    sim.SetAnalogValue(5, 2, -3.25);
    sim.SetAnalogRaw(5, 1, 0x8FFF);  // 12 bits, full scale
    sim.SetAnalogRaw(5, 2, 0x0033);  // 8 bits: 51 of 255
    sim.SetCounter(5, 1, 7);
    sim.SetMemoryIn(5, 1, 1234);
    sim.SetMemoryIn(5, 2, 2.5);
    sim.SetConstant(6, 1, 3.25);
    sim.SetConstant(6, 8, -7.5);
    sim.SetQqLong(5, 0, 16, 0, -123456);

    // A read and a write queued before the line is up: the write goes out first.
    s.Request(2001);
    s.WriteWord(2002, 0x1234);
    EXPECT_EQ(s.Real(zke2e::kRequestsWaiting), 2.0);
    EXPECT_EQ(s.Real(zke2e::kWritesWaiting), 1.0);

    s.WriteFlag(Ch(1, zke2e::kConnect), true);
    EXPECT_TRUE(s.Flag(Ch(1, zke2e::kConnecting)));
    E2E_WAIT(s, s.Flag(Ch(1, zke2e::kConnected)) && s.Flag(Ch(2, zke2e::kConnected)));
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnecting)));
    EXPECT_EQ(s.Events(u8"MODEM - Kotelna - připojena"_cp), 1u);
    EXPECT_EQ(s.Events(u8"MODEM - Vymenik - připojena"_cp), 1u);
    EXPECT_TRUE(sim.Status().connected);
    EXPECT_EQ(sim.Status().number, "123");

    E2E_WAIT(s, s.Long(2001) == -123456);
    std::array<std::uint8_t, 4> qq{};
    E2E_WAIT(s, sim.Qq(5, 0, 20, 0, qq) && qq == zke2e::LittleEndian(0x1234));
    {
        const std::vector<zksim::Bytes> requests = sim.Requests();
        auto first = [&](std::string_view head) {
            for (std::size_t i = 0; i < requests.size(); ++i)
                if (zke2e::Body(requests[i]).starts_with(head)) return i;
            return requests.size();
        };
        EXPECT_LT(first("QQ"), first("Qq")) << "the write leaves first";
    }

    // Binary inputs.
    s.WriteFlag(Ch(1, zke2e::kReadBi), true);
    E2E_WAIT(s, s.Flag(Ch(1, zke2e::kBi + 2)) && s.Flag(Ch(1, zke2e::kBi + 9)));
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kBi + 3)));

    // Analog inputs from the station's analog area (station reals) ...
    s.WriteFlag(Ch(1, zke2e::kReadAiTervak), true);
    E2E_WAIT(s, s.Real(Ch(1, zke2e::kAi)) == 12.5 && s.Real(Ch(1, zke2e::kAi + 1)) == -3.25);
    // ... and as raw words scaled by the analog limits (0 .. 100 by default).
    s.WriteFlag(Ch(1, zke2e::kReadAiKolmet), true);
    E2E_WAIT(s, s.Real(Ch(1, zke2e::kAi)) == 100.0);
    EXPECT_NEAR(s.Real(Ch(1, zke2e::kAi + 1)), 20.0, 1e-9);

    // Counters: the factor 0.5 of the counter definition applies at once (a telephone station).
    s.WriteFlag(Ch(1, zke2e::kReadCt), true);
    E2E_WAIT(s, s.Real(Ch(1, zke2e::kCt)) == 3.5);

    // Memory inputs (a station without the KI model), one read per entry.
    s.WriteFlag(Ch(1, zke2e::kReadKi), true);
    E2E_WAIT(s, s.Real(Ch(1, zke2e::kMi)) == 1234.0 && s.Real(Ch(1, zke2e::kMi + 1)) == 2.5);

    // The constants of the KI model land in the memory outputs.
    s.WriteFlag(Ch(2, zke2e::kReadKi), true);
    E2E_WAIT(s, s.Real(Ch(2, zke2e::kMo)) == 3.25 && s.Real(Ch(2, zke2e::kMo + 7)) == -7.5);
    EXPECT_TRUE(s.Flag(Ch(2, zke2e::kConnected)));

    // Binary outputs of a telephone station are stored by the write and sent on request.
    s.WriteFlag(Ch(1, zke2e::kBo + 1), true);
    EXPECT_TRUE(s.Flag(Ch(1, zke2e::kBo + 1)));
    s.WriteFlag(Ch(1, zke2e::kWriteBo), true);
    bool on = false;
    E2E_WAIT(s, sim.BinaryOut(5, 2, on) && on);
    ASSERT_TRUE(sim.BinaryOut(5, 1, on));
    EXPECT_FALSE(on);

    // A memory output goes out as soon as it is written while the station is on line.
    s.WriteReal(Ch(1, zke2e::kMo), 42.5);
    double mo = 0;
    E2E_WAIT(s, sim.MemoryOut(5, 1, mo) && mo == 42.5);

    // A QQ real both ways.
    s.WriteSingle(2003, 2.75f);
    float written = 2.75f;
    std::uint32_t bits;
    std::memcpy(&bits, &written, sizeof bits);
    E2E_WAIT(s, sim.Qq(5, 0, 24, 0, qq) && qq == zke2e::LittleEndian(bits));
    sim.SetQqReal(5, 0, 24, 0, 6.5f);
    s.Request(2003);
    E2E_WAIT(s, s.Single(2003) == 6.5f);

    EXPECT_GE(s.Real(Ch(1, zke2e::kMsgCounter)), 10.0);
    EXPECT_EQ(s.Real(zke2e::kRequestsWaiting), 0.0);

    // The connect channel set to false hangs up: zksim is back in command mode.
    s.WriteFlag(Ch(1, zke2e::kConnect), false);
    E2E_WAIT(s, s.Events(u8"MODEM - Linka zavěšena"_cp) == 1);
    EXPECT_FALSE(sim.Status().connected);
    EXPECT_EQ(sim.Status().mode, zksim::ModemMode::Command);
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kConnected)));
    EXPECT_FALSE(s.Flag(Ch(2, zke2e::kConnected)));
    EXPECT_EQ(s.Events(u8"MODEM - Chyba"_cp), 0u) << s.Tail();
}

// Stations that zksim does not connect: 999 rings out without an answer, 777 is busy.
const std::string kThreeNumbers =
    zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\nQQ READ 2001 0 16 0 LONGINT\r\n") +
    zke2e::BinaryStation(6, "Senik", 8, "PHONE 999\r\n") + zke2e::BinaryStation(7, "Mlyn", 8, "PHONE 777\r\n");

TEST(DialledStations, FailedDialsLostAnswersRetriesAndSleep) {
    Config config;
    config.stations = kThreeNumbers;
    config.global = "ANSWER_TIME 1 SILENCE_WAIT 20 NUM_MORVEL_ERROR 2 SLEEP_COUNT 3 SLEEP_TIME 2";
    zksim::SimOptions options = zke2e::FastModem();
    options.busyNumbers = {"777"};
    Session s(config, options, [](zksim::LineDef& line) {
        for (zksim::StationDef& st : line.stations)
            if (st.phone == "999") st.phone.clear();  // nobody answers that number
    });
    zksim::Simulator& sim = s.sim();
    ASSERT_NO_FATAL_FAILURE(s.Start());

    // A dial that finds no carrier, then one that finds the line busy: the station that asked
    // becomes unreachable and is not on line.
    struct FailedDial {
        int station;
        const char* reply;
    };
    const FailedDial dials[] = {{2, "NO CARRIER"}, {3, "BUSY"}};
    std::size_t failures = 0;
    for (const FailedDial& d : dials) {
        SCOPED_TRACE(d.reply);
        s.WriteFlag(Ch(d.station, zke2e::kConnect), true);
        ++failures;
        E2E_WAIT(s, s.Events(u8"MODEM - Chyba při připojování"_cp) == failures);
        EXPECT_EQ(s.Events(u8"MODEM - Chyba příjmu - neočekávaná odpověď"_cp), failures);
        EXPECT_NE(s.Log().find(d.reply), std::string::npos);
        EXPECT_TRUE(s.Flag(Ch(d.station, zke2e::kUnreachable)));
        EXPECT_FALSE(s.Flag(Ch(d.station, zke2e::kConnected)));
        EXPECT_FALSE(s.Flag(Ch(d.station, zke2e::kConnecting)));
        EXPECT_FALSE(sim.Status().connected);
    }

    // The port was reopened after each failure; the next dial works.
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));
    const std::uint32_t timeouts = Ch(1, zke2e::kErrorNoAnswer);
    const std::string_view timeoutText = u8" - překročení času ("_cp;

    // Two lost answers: the read is sent again once, then given up and the station marked
    // unreachable (NUM_MORVEL_ERROR 2).
    zksim::Fault lost;
    lost.station = 5;
    lost.silence = true;
    lost.count = 2;
    sim.InjectFault(lost);
    s.Request(2001);
    // (The time-out is counted and reported at the pass after the request was given up.)
    E2E_WAIT(s, s.Flag(Ch(1, zke2e::kUnreachable)) && s.Real(zke2e::kRequestsWaiting) == 0.0 &&
                    s.Real(timeouts) >= 2.0);
    EXPECT_GE(zke2e::CountRequests(sim, "Qq"), 2u);
    EXPECT_GE(s.Events(timeoutText), 2u);

    // An answer clears the mark.
    sim.SetQqLong(5, 0, 16, 0, 11);
    s.Request(2001);
    E2E_WAIT(s, s.Long(2001) == 11 && !s.Flag(Ch(1, zke2e::kUnreachable)));

    // Answers lost for good: after SLEEP_COUNT in a row the station sleeps SLEEP_TIME seconds.
    lost.count = -1;
    sim.InjectFault(lost);
    const std::string_view sleepStart = u8"Kotelna - start módu \"sleep\""_cp;
    E2E_WAIT(s, (s.Request(2001), s.Events(sleepStart) == 1));
    EXPECT_GT(s.Real(Ch(1, zke2e::kSleepTime)), 0.0);
    EXPECT_GE(s.Real(timeouts), 5.0);

    // It wakes by itself and the read that waited gets its answer.
    sim.ClearFaults();
    sim.SetQqLong(5, 0, 16, 0, 22);
    E2E_WAIT(s, s.Events(u8"Kotelna - konec módu \"sleep\""_cp) == 1);
    E2E_WAIT(s, (s.Request(2001), s.Long(2001) == 22));
    EXPECT_EQ(s.Real(Ch(1, zke2e::kSleepTime)), 0.0);
}

TEST(DialledStations, AWriteStaysFirstAfterItsTriesWithStayInQueue) {
    Config config;
    config.stations = zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\nQQ WRITE 2002 0 20 0 WORD\r\n");
    config.global =
        "ANSWER_TIME 1 SILENCE_WAIT 20 NUM_MORVEL_ERROR 1 SLEEP_COUNT 3 SLEEP_TIME 2 STAY_IN_QUEUE_ON_TIMEOUT ON";
    Session s(config);
    zksim::Simulator& sim = s.sim();
    ASSERT_NO_FATAL_FAILURE(s.Start());
    ASSERT_NO_FATAL_FAILURE(s.Dial(1));

    zksim::Fault lost;
    lost.station = 5;
    lost.silence = true;
    lost.count = -1;
    sim.InjectFault(lost);
    s.WriteWord(2002, 777);

    // The single try is used up at the first time-out, yet the write is sent again and again
    // until the station falls asleep; it stays queued and the station is not given up.
    E2E_WAIT(s, s.Events(u8"Kotelna - start módu \"sleep\""_cp) == 1);
    EXPECT_GE(zke2e::CountRequests(sim, "QQ"), 3u);
    EXPECT_EQ(s.Real(zke2e::kWritesWaiting), 1.0);
    EXPECT_FALSE(s.Flag(Ch(1, zke2e::kUnreachable)));

    // (The station took the write each time; only its answers were lost.)
    std::array<std::uint8_t, 4> qq{};
    EXPECT_TRUE(sim.Qq(5, 0, 20, 0, qq) && qq == zke2e::LittleEndian(777));

    // Asleep, the station is not asked; once it wakes the write is sent again and answered.
    sim.ClearFaults();
    const std::size_t sentAsleep = zke2e::CountRequests(sim, "QQ");
    E2E_WAIT(s, s.Events(u8"Kotelna - konec módu \"sleep\""_cp) == 1);
    E2E_WAIT(s, s.Real(zke2e::kWritesWaiting) == 0.0);
    EXPECT_GT(zke2e::CountRequests(sim, "QQ"), sentAsleep);
    EXPECT_EQ(s.Real(Ch(1, zke2e::kSleepTime)), 0.0);
}

}  // namespace
