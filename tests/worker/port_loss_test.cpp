// A device that goes away under a running instance, on real pseudo-terminals: closing the far
// end hangs the terminal up, as pulling out a USB adapter does. The worker reports the loss
// once, ends the connection, keeps the host's requests, closes the port and stays quiet; the
// next modem command opens the port again.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "base/cp1250.h"
#include "diag/status_window.h"
#include "host/instance.h"
#include "host/records.h"
#include "host/requests.h"
#include "line/modem.h"
#include "line/pty.h"
#include "line/serial.h"
#include "protocol/queues.h"
#include "support/par_files.h"
#include "support/temp_dir.h"

using namespace zk;

namespace {

std::size_t Count(const std::string& text, std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

class PortLoss : public ::testing::Test {
protected:
    void SetUp() override {
        link = dir.file("modem");
        std::filesystem::create_symlink(first->name(), link);
        zktest::ParFileOptions options;
        options.device = link;
        options.diags = true;
        options.logFile = dir.file("driver.log");
        options.modem = "[MODEM] INIT_TIME 60 END";  // the modem never answers here: the init waits
        options.stations = "[STATION] ADDRESS 5 RETRANSLATION 5 NAME \"ST1\"\r\n"
                           "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 4 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 "
                           "NUM_MEMORY_OUT 0\r\n"
                           "BINAR_IN_XOR NONE\r\nBINAR_OUT_XOR NONE\r\nDEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
                           "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE PHONE 123 "
                           "ORIGINAL_CHANNELS END\r\n";
        const std::string file = dir.file("loss.par");
        zktest::WriteFile(file, zktest::MakeParFile(options));
        rec = MakeDriver();
        char text[256] = "LOSS";
        ASSERT_TRUE(Init(*rec, static_cast<std::int32_t>(file.size()), file.c_str(), text, 0, 0, 0)) << text;
        ASSERT_TRUE(rec->SerialPort->Active());
        ctx = rec->Context.get();
    }
    void TearDown() override {
        if (rec) {
            Done(*rec);
            DisposeDriver(rec);
        }
    }

    std::string Log() const { return Cp1250ToUtf8(zktest::ReadFile(dir.file("driver.log"))); }
    std::size_t EventsWith(std::string_view part) {
        std::lock_guard lock(ctx->Lock);
        std::size_t n = 0;
        for (const auto& line : rec->Window->EventList)
            if (Cp1250ToUtf8(line).find(part) != std::string::npos) ++n;
        return n;
    }

    zktest::TempDir dir;
    std::string link;
    std::unique_ptr<zktest::Pty> first = std::make_unique<zktest::Pty>();
    DriverRecord* rec = nullptr;
    DriverContext* ctx = nullptr;
};

TEST_F(PortLoss, AHungUpTerminalIsReportedOnceEndsTheConnectionKeepsTheQueuesAndDoesNotSpin) {
    // A connected session with the host's requests waiting.
    {
        std::lock_guard lock(ctx->Lock);
        ctx->Modem.LineConnected = true;
        ctx->Stations[1]->OnLine = true;
        AppendRequest(ctx->ReadQueue, 1, ReqChannelRead, 0, std::string_view("\x00\x10\x00", 3), nullptr);
        AppendRequest(ctx->ReadQueue, 1, ReqChannelRead, 0, std::string_view("\x00\x14\x00", 3), nullptr);
        AppendRequest(ctx->WriteQueue, 1, ReqChannelWrite, 0, std::string_view("\x00\x18\x00\x01\x02\x03\x04", 7),
                      nullptr);
    }
    const std::string lost = "Port " + link + " ztracen: ";

    first->CloseMaster();
    ASSERT_TRUE(zktest::Eventually([&] { return EventsWith(lost) == 1; })) << Log();
    ASSERT_TRUE(zktest::Eventually([&] { return !rec->SerialPort->Active(); }));
    {
        std::lock_guard lock(ctx->Lock);
        EXPECT_FALSE(ctx->Modem.LineConnected.load());
        EXPECT_FALSE(ctx->Stations[1]->OnLine);
        EXPECT_FALSE(ctx->Stations[1]->AwaitingAnswer);
        EXPECT_TRUE(ctx->Modem.CommandQueue.empty()) << "the commands for the modem that went are dropped";
        EXPECT_EQ(ctx->Scheduler.TxState.load(), TxState::Choose);
        EXPECT_EQ(CountRequests(ctx->ReadQueue), 2u);
        EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);
    }
    // The system's reason, in its words.
    EXPECT_EQ(EventsWith(lost + "Input/output error"), 1u) << Log();

    // Quiet afterwards: no more lines, no more port errors, no busy passes.
    const std::string before = Log();
    const double passes = ctx->Timing.PassCount.load();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string after = Log();
    EXPECT_EQ(after, before) << "the log grows while the port is lost";
    EXPECT_EQ(Count(after, lost), 1u);
    EXPECT_EQ(Count(after, "port : lost " + link + ": Input/output error (error 5)"), 1u) << after;
    EXPECT_EQ(EventsWith(lost), 1u);
    // IDLE_TIME (100 ms by default) paces the idle worker: about 10 passes in the second.
    EXPECT_LT(ctx->Timing.PassCount.load() - passes, 100.0);
    EXPECT_FALSE(rec->SerialPort->Active());
}

TEST_F(PortLoss, TheNextModemCommandOpensTheLostPortAgainAndTheModemIsInitialisedFirst) {
    first->CloseMaster();
    ASSERT_TRUE(zktest::Eventually([&] { return !rec->SerialPort->Active() && EventsWith(" ztracen: ") == 1; }));

    // The device comes back under the same name.
    zktest::Pty second;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.name(), link);
    EXPECT_FALSE(rec->SerialPort->Active()) << "nothing reopens the port by itself";

    // The host's hang-up request is the next modem command.
    OutputRequest(*rec, 60295, 2, 1);
    EXPECT_TRUE(rec->SerialPort->Active());
    // The modem that came back is initialised before it is given the command.
    const std::string init = second.Receive(5);
    EXPECT_EQ(init, "ATX3\r") << init;
    EXPECT_EQ(EventsWith(" ztracen: "), 1u);
}

}  // namespace

namespace {

TEST_F(PortLoss, AModemCommandUnderWayWhenThePortOpensAgainStartsOverOnTheNewOpen) {
    // The initialisation has gone out and waits for its reply (INIT_TIME 60).
    EXPECT_EQ(first->Receive(5), "ATX3\r");
    // A dial opens the port again: a reply to the text written on the earlier open cannot come
    // any more, so the initialisation is written again instead of waiting out its minute.
    OutputRequest(*rec, 476, 2, 1);
    EXPECT_EQ(first->Receive(5), "ATX3\r");
    std::lock_guard lock(ctx->Lock);
    ASSERT_EQ(ctx->Modem.CommandQueue.size(), 2u);
    EXPECT_EQ(ctx->Modem.CommandQueue.back().Kind, ModemDial);
    EXPECT_TRUE(ctx->Stations[1]->DialRequested);
}

}  // namespace

namespace {

TEST_F(PortLoss, TheHostsInitialisationOfALostPortsModemOpensThePortAndIsTheOnlyOne) {
    first->CloseMaster();
    ASSERT_TRUE(zktest::Eventually([&] { return !rec->SerialPort->Active() && EventsWith(" ztracen: ") == 1; }));
    zktest::Pty second;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.name(), link);

    OutputRequest(*rec, 60293, 2, 1);
    EXPECT_TRUE(rec->SerialPort->Active());
    EXPECT_EQ(second.Receive(5), "ATX3\r");
    std::lock_guard lock(ctx->Lock);
    EXPECT_EQ(ctx->Modem.CommandQueue.size(), 1u);
    EXPECT_FALSE(ctx->Modem.ModemInitRequest.load());
}

}  // namespace
