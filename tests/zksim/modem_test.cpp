// The AT modem in front of the stations, its dialogue byte for byte over a pseudo-terminal,
// the scenario runner and the traffic trace.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "zksim/sim_line.h"

namespace zktest {
namespace {

const Bytes kOk = "\r\nOK\r\n";
const Bytes kNoCarrier = "\r\nNO CARRIER\r\n";
const Bytes kConnect = "\r\nCONNECT 9600\r\n";

// Waits (generously) until the status satisfies `done`.
template <class Done>
bool WaitFor(zksim::Simulator& sim, Done done) {
    for (int i = 0; i < 500; ++i) {
        if (done(sim.Status())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(Modem, AnswersTheDriversCommandsInTheirTexts) {
    zksim::SimOptions o = FastOptions();
    o.busyNumbers = {"555"};
    o.extraNumbers = {"0-800 1"};
    SimLine line(o);
    struct Case {
        Bytes command;
        Bytes reply;
    };
    const Case cases[] = {
        {"ATX3\r", kOk},                   // the driver's default initialisation
        {"ATZ\r", kOk},
        {"at&f e0 s0=0\r", kOk},
        {"hello\r", ""},                   // not a command: nothing
        {"ATDP999\r", kNoCarrier},         // a number nobody answers
        {"ATDT555\r", "\r\nBUSY\r\n"},
        {"ATH0\r", kOk},
        {"AT!\r", "\r\nERROR\r\n"},
        {"ATA\r", kNoCarrier},             // nothing rings
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        line.Write(c.command);
        if (c.reply.empty()) line.Write("ATI\r");  // nothing came: the OK of ATI is next
        const Bytes expected = c.reply.empty() ? kOk : c.reply;
        EXPECT_EQ(line.ReadUntil(expected), expected);
    }
    line.Dial("08001");  // an extra number, dial characters other than digits ignored
    EXPECT_EQ(line.sim.Status().number, "08001");
    EXPECT_TRUE(line.sim.Status().connected);
}

TEST(Modem, EchoesCommandsAfterATE1) {
    SimLine line;
    line.Write("ATE1\r");
    EXPECT_EQ(line.ReadUntil(kOk), kOk);  // taken while the echo was still off
    line.Write("ATI\r");
    EXPECT_EQ(line.ReadUntil(kOk), "ATI\r" + kOk);
    line.Write("ATE0\r");
    EXPECT_EQ(line.ReadUntil(kOk), "ATE0\r" + kOk);
    line.Write("ATI\r");
    EXPECT_EQ(line.ReadUntil(kOk), kOk);
}

TEST(Modem, TheDriversHangUpSequenceWithItsPausesEndsTheCall) {
    SimLine line;
    line.Dial();
    EXPECT_EQ(line.sim.Status().mode, zksim::ModemMode::Data);
    // "~~~+++~~~ATH0\r~~": a pause, +++, a pause, ATH0 (pauses longer than the guard time)
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    line.Write("+++");
    EXPECT_EQ(line.ReadUntil(kOk), kOk);
    EXPECT_EQ(line.sim.Status().mode, zksim::ModemMode::OnlineCommand);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    line.Write("ATH0\r");
    EXPECT_EQ(line.ReadUntil(kOk), kOk);
    const zksim::SimStatus s = line.sim.Status();
    EXPECT_EQ(s.mode, zksim::ModemMode::Command);
    EXPECT_FALSE(s.connected);
    EXPECT_EQ(s.connections, 1u);
}

TEST(Modem, PlusesInsideDataAreDataAndTheStationGetsThem) {
    SimLine line;
    line.Dial();
    // a memory write whose data are 2B 2B 2B, sent at once: no guard time, no escape
    const Bytes request = RequestFrame(5, 1, 5, B({'n', 0x00, 0x05, 0x03, '+', '+', '+'}));
    const Bytes expected = RoutedAnswer(5, B({'n', 0x00, 0x05, 0x03, '+', '+', '+'}));
    EXPECT_EQ(line.Ask(request, expected.size()), expected);
    EXPECT_EQ(line.sim.Memory(5, 0x0500, 3), "+++");
    EXPECT_EQ(line.sim.Status().mode, zksim::ModemMode::Data);
}

TEST(Modem, OnlineCommandModeReturnsToDataWithATO) {
    SimLine line;
    line.Dial();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    line.Write("+++");
    EXPECT_EQ(line.ReadUntil(kOk), kOk);
    line.Write("ATO\r");
    EXPECT_EQ(line.ReadUntil(kConnect), kConnect);
    EXPECT_EQ(line.sim.Status().mode, zksim::ModemMode::Data);
    line.sim.DropCarrier();
    EXPECT_EQ(line.ReadUntil(kNoCarrier), kNoCarrier);
    EXPECT_FALSE(line.sim.Status().connected);
}

TEST(Modem, ACharacterWhileDiallingAbandonsTheCall) {
    zksim::SimOptions o = FastOptions();
    o.dialDelayMs = 60000;
    SimLine line(o);
    line.Write("ATDP123\r");
    ASSERT_TRUE(WaitFor(line.sim, [](const zksim::SimStatus& s) { return s.mode == zksim::ModemMode::Dialling; }));
    line.Write("\r");  // the driver's hang-up while a dial is running
    EXPECT_EQ(line.ReadUntil(kNoCarrier), kNoCarrier);
    EXPECT_EQ(line.sim.Status().mode, zksim::ModemMode::Command);
}

TEST(Modem, RingingProgressTextsWhileDialling) {
    zksim::SimOptions o = FastOptions();
    o.ringingTexts = true;
    o.dialDelayMs = 70;
    o.ringingIntervalMs = 20;
    SimLine line(o);
    line.Write("ATDP123\r");
    const Bytes got = line.ReadUntil(kConnect);
    EXPECT_EQ(got.substr(0, 11), "\r\nRINGING\r\n");
    EXPECT_EQ(got.substr(got.size() - kConnect.size()), kConnect);
}

TEST(Modem, AnIncomingCallRingsIsAnsweredAndTheStationReports) {
    zksim::SimOptions o = FastOptions();
    o.line.ringText = "\r\nRING\r\n";  // what CONNECT_RING #@RING#@ gives
    o.ringIntervalMs = 60000;           // one ring now, the next one much later
    SimLine line(o);
    ASSERT_TRUE(line.sim.Call(5, 6, {zksim::ReportKind::Active, 0}));
    EXPECT_EQ(line.Read(8), "\r\nRING\r\n");
    line.Write("ATA\r");
    EXPECT_EQ(line.ReadUntil(kConnect), kConnect);
    EXPECT_TRUE(line.sim.Status().answeredCall);
    // the active report, with "Y" so that the driver acknowledges it
    const Bytes report = B({0x01, 0x06, 'Y', 0x05, 0x01, 0x05, 'H', 0x17});
    EXPECT_EQ(zksim::XorOf(report), 0);
    EXPECT_EQ(line.Read(report.size()), report);
    // the driver's acknowledgement: [received byte 4, L, "y", 00, received byte 6, 00, items, X]
    Bytes ack = B({0x05, 0x06, 'y', 0x00, 0x05, 0x00, 'H'});
    ack += static_cast<char>(zksim::XorOf(ack));
    line.Write(ack);
    EXPECT_TRUE(WaitFor(line.sim, [](const zksim::SimStatus& s) { return s.acknowledgements == 1; }));
    // and stations answer requests on the answered call
    line.sim.SetBinaryIn(5, 1, true);
    const Bytes answer = B({0x01, 0x08, 0x79, 0x05, 0x01, 0x05, 0x42, 0x01, 0x01, 0x33});
    EXPECT_EQ(line.Ask(RequestFrame(5, 1, 5, B({'B', 0x01})), answer.size()), answer);
}

TEST(Modem, ReportsOfEveryKind) {
    SimLine line;
    EXPECT_FALSE(line.sim.SendReport(5, {}));  // no call
    line.Dial();
    struct Case {
        zksim::Report report;
        Bytes items;
        char routing;
    };
    const Case cases[] = {
        {{zksim::ReportKind::Error, 5}, B({'E', 0x05}), 'y'},
        {{zksim::ReportKind::ControlError, 0}, B({'X'}), 'Y'},  // acknowledged, like "H"
        {{zksim::ReportKind::CallCode, 0x01020304}, B({'Q', 'q', 0x04, 0x03, 0x02, 0x01}), 'y'},
    };
    for (const Case& c : cases) {
        const Bytes expected = RoutedAnswer(5, c.items, c.routing);
        ASSERT_TRUE(line.sim.SendReport(5, c.report));
        EXPECT_EQ(line.Read(expected.size()), expected);
    }
}

TEST(Modem, RingsStopWhenTheCallerGivesUp) {
    zksim::SimOptions o = FastOptions();
    o.ringIntervalMs = 10;
    SimLine line(o);
    line.sim.Ring(3);
    EXPECT_EQ(line.Read(24), "\r\nRING\r\n\r\nRING\r\n\r\nRING\r\n");
    // after the caller gave up, ATA finds nobody
    EXPECT_TRUE(WaitFor(line.sim, [](const zksim::SimStatus& s) { return !s.ringing; }));
    EXPECT_EQ(line.sim.Status().ringsSent, 3u);
    line.Write("ATA\r");
    EXPECT_EQ(line.ReadUntil(kNoCarrier), kNoCarrier);
}

TEST(Scenario, SetsValuesNowAndLaterAndInjectsFaults) {
    SimLine line;
    std::string error;
    ASSERT_TRUE(line.sim.RunScenario("set 5 bi 2 1\n"
                                     "set 5 counter 1 10\n"
                                     "every 0.01 add 5 counter 1 1\n"
                                     "at 0.05 set 5 qq 0 32 0 real 1.5\n"
                                     "set 5 qq 0 33 0 text \"AB\"\n"
                                     "number 777 busy\n"
                                     "fault station 5 count 1 garbage 0013\n",
                                     error))
        << error;
    std::array<uint8_t, 4> v{};
    ASSERT_TRUE(WaitFor(line.sim, [&](const zksim::SimStatus&) {
        return line.sim.Qq(5, 0, 32, 0, v) && v == zksim::EncodeSingle(1.5f);
    }));
    uint16_t count = 0;
    ASSERT_TRUE(WaitFor(line.sim, [&](const zksim::SimStatus&) { return line.sim.Counter(5, 1, count) && count > 12; }));
    EXPECT_TRUE(line.sim.Qq(5, 0, 33, 1, v));
    EXPECT_EQ(v, (std::array<uint8_t, 4>{' ', ' ', ' ', ' '}));
    EXPECT_TRUE(line.sim.Qq(5, 0, 33, 0, v));
    EXPECT_EQ(v, (std::array<uint8_t, 4>{'A', 'B', ' ', ' '}));

    line.Write("ATD777\r");
    EXPECT_EQ(line.ReadUntil("\r\nBUSY\r\n"), "\r\nBUSY\r\n");
    line.Dial();
    const Bytes answer = B({0x00, 0x13, 0x01, 0x08, 0x79, 0x05, 0x01, 0x05, 0x42, 0x01, 0x02, 0x30});
    EXPECT_EQ(zksim::HexText(line.Ask(RequestFrame(5, 1, 5, B({'B', 0x01})), answer.size())), zksim::HexText(answer));

    EXPECT_FALSE(line.sim.RunScenario("set 5 bi 1 1\nset 5 bogus 1", error));
    EXPECT_EQ(error, "line 2: unknown station value \"bogus\"");
}

// Noise inside an answer: whatever byte or bit it hits, the frame the driver takes (its declared
// length) fails its check byte, or never completes.
TEST(Scenario, ByteNoiseInsideAnAnswerAlwaysSpoilsItsCheck) {
    SimLine line;
    line.Dial();
    const Bytes request = RequestFrame(5, 1, 5, B({'B', 0x01}));
    Bytes good = line.Ask(request, 2);
    ASSERT_EQ(good.size(), 2u);
    good += line.Read(static_cast<uint8_t>(good[1]));
    const size_t n = good.size();
    auto checkOfFirst = [](const Bytes& b, size_t n) {
        uint8_t x = 0;
        for (size_t i = 0; i < n && i < b.size(); ++i) x ^= static_cast<uint8_t>(b[i]);
        return x;
    };
    ASSERT_EQ(checkOfFirst(good, n), 0);
    struct Case {
        const char* fault;
        int positions;  // bits for flip, bytes otherwise
        size_t length;  // of the spoilt answer
    };
    for (const Case& c : {Case{"flip", static_cast<int>(8 * n), n}, Case{"drop", static_cast<int>(n), n - 1},
                          Case{"double", static_cast<int>(n), n + 1}}) {
        for (int at = 0; at < c.positions; ++at) {
            SCOPED_TRACE(std::string(c.fault) + " " + std::to_string(at));
            std::string error;
            ASSERT_TRUE(line.sim.RunScenario("fault station 5 count 1 " + std::string(c.fault) + " " + std::to_string(at), error))
                << error;
            const Bytes spoilt = line.Ask(request, c.length);
            ASSERT_EQ(spoilt.size(), c.length);
            EXPECT_NE(spoilt, good);
            if (c.length >= n) EXPECT_NE(checkOfFirst(spoilt, n), 0);
        }
    }
}

TEST(Trace, RecordsBothDirectionsInHexWithTimes) {
    TempDir dir;
    zksim::SimOptions o = FastOptions();
    o.tracePath = dir.file("line.trace");
    o.linkPath = dir.file("modem");
    {
        SimLine line(o);
        char target[256] = {};
        ASSERT_GT(readlink(o.linkPath.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), line.sim.SlavePath());
        line.Write("ATX3\r");
        EXPECT_EQ(line.ReadUntil(kOk), kOk);
    }
    EXPECT_FALSE(Exists(o.linkPath));  // removed at stop
    const std::string trace = ReadFile(o.tracePath);
    EXPECT_NE(trace.find(" drv->sim 41 54 58 33 0D  |ATX3.|\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" sim->drv 0D 0A 4F 4B 0D 0A  |..OK..|\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" +0."), std::string::npos);  // seconds since the start
}

TEST(Link, ReplacesAnOldLinkButNeverAFile) {
    TempDir dir;
    zksim::SimOptions o = FastOptions();
    o.linkPath = dir.file("modem");
    ASSERT_EQ(symlink("/dev/null", o.linkPath.c_str()), 0);  // left over from an earlier run
    {
        zksim::Simulator sim(o);
        std::string error;
        ASSERT_TRUE(sim.Start(error)) << error;
        char target[256] = {};
        ASSERT_GT(readlink(o.linkPath.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.SlavePath());
    }
    WriteFile(o.linkPath, "precious");
    zksim::Simulator sim(o);
    std::string error;
    EXPECT_FALSE(sim.Start(error));
    EXPECT_NE(error.find("is not a symbolic link"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(o.linkPath), "precious");
}

TEST(Modem, TheDriverClosingItsTerminalDropsTheCallAsDtrLossDoes) {
    SimLine line;
    line.Dial();
    ASSERT_TRUE(line.sim.Status().connected);
    line.CloseTerminal();
    bool dropped = false;
    for (int i = 0; i < 200 && !dropped; ++i) {
        dropped = !line.sim.Status().connected;
        if (!dropped) usleep(10000);
    }
    EXPECT_TRUE(dropped) << "the call stayed up after the terminal was closed";
    // The next session's modem commands are commands again, not data.
    line.ReopenTerminal();
    line.Write("ATZ\r");
    EXPECT_EQ(line.ReadUntil(kOk), kOk);
}

TEST(Modem, ScenarioCommandsForStationsTheSimulationLacksAreRefused) {
    SimLine line;
    std::string error;
    EXPECT_FALSE(line.sim.RunScenario("set 99 bi 1 1", error));
    EXPECT_NE(error.find("line 1: there is no station 99 in the simulation"), std::string::npos) << error;
    EXPECT_FALSE(line.sim.RunScenario("\n# a comment\nat 1 call 42\n", error));
    EXPECT_NE(error.find("line 3: there is no station 42"), std::string::npos) << error;
}

TEST(Modem, PacedAtTheLinesSpeedEveryByteTakesTenBits) {
    // 300 Bd: 33.3 ms a byte, so the six bytes of "\r\nOK\r\n" need 200 ms at the least and
    // leave one by one; the tap sees what the driver gets, both ways.
    struct Tapped {
        std::mutex lock;
        std::vector<Bytes> toDriver;
        Bytes fromDriver;
    };
    auto tapped = std::make_shared<Tapped>();
    zksim::SimOptions o = FastOptions();
    o.paceBaud = 300;
    o.wireTap = [tapped](bool toDriver, std::string_view bytes) {
        std::lock_guard guard(tapped->lock);
        if (toDriver) tapped->toDriver.emplace_back(bytes);
        else tapped->fromDriver.append(bytes);
    };
    SimLine line(o);
    const auto start = std::chrono::steady_clock::now();
    line.Write("ATZ\r");
    EXPECT_EQ(line.Read(kOk.size()), kOk);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(took.count(), 199);
    line.sim.Stop();
    std::lock_guard guard(tapped->lock);
    EXPECT_EQ(tapped->fromDriver, "ATZ\r");
    Bytes all;
    for (const Bytes& chunk : tapped->toDriver) all += chunk;
    EXPECT_EQ(all, kOk);
    EXPECT_GE(tapped->toDriver.size(), 3u) << "the bytes leave spread out, not in one write";
}

}  // namespace
}  // namespace zktest

namespace zktest {
namespace {

// A number's last word counts: `number N connect` undoes `number N busy`. A typed command's
// error names no line of a scenario.
TEST(Scenario, ANumberAnswersAsItsLastCommandSaysAndTypedErrorsNameNoLine) {
    SimLine line;
    std::string error;
    ASSERT_TRUE(line.sim.RunScenario("number 777 busy\nnumber 777 connect\nnumber 778 connect\nnumber 778 busy\n", error))
        << error;
    line.Write("ATD778\r");
    EXPECT_EQ(line.ReadUntil("\r\nBUSY\r\n"), "\r\nBUSY\r\n");
    line.Write("ATD777\r");
    EXPECT_NE(line.ReadUntil("CONNECT").find("CONNECT"), std::string::npos);
    EXPECT_FALSE(line.sim.RunCommand("set 5 bogus 1", error));
    EXPECT_EQ(error, "unknown station value \"bogus\"");
}

}  // namespace
}  // namespace zktest
