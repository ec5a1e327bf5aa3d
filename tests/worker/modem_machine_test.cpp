// The modem connection machine: commands step by step, their success and failure actions,
// the line handed to the scheduler, rings counted and answered. The dialogue tests feed the
// modem's replies into the worker's line and read what the worker wrote from its outbox.
#include <gtest/gtest.h>

#include <algorithm>

#include "diag/log.h"
#include "line/modem.h"
#include "support/temp_dir.h"
#include "worker/modem_machine.h"
#include "worker/pass.h"
#include "worker_fixture.h"

using namespace zk;
using zktest::Bytes;

namespace {

constexpr char kTerminator = '\x02';

class Modem : public zktest::WorkerFixture {
protected:
    void SetUp() override {
        DefineStations(3);
        ctx->Global.PREFIX.assign(std::string(1, kTerminator));
        ctx->Line.Active = true;
    }
    ModemRecord& M() { return ctx->Modem; }

    // Whole passes of `ms` each; what the worker writes is taken from the outbox as the port
    // would take it.
    void Run(int passes, int ms = 10) {
        for (int i = 0; i < passes; ++i) {
            Advance(ms);
            RunPassSteps(*rec);
            for (const auto& text : ctx->Line.Outbox) written += text;
            ctx->Line.Outbox.clear();
        }
    }
    // Passes until the command queue is empty and the machine idle.
    void RunUntilIdle(int limit = 3000) {
        for (int i = 0; i < limit && !(M().CommandQueue.empty() && M().ModemState == zk::ModemState::TakeCommand); ++i) Run(1);
    }
    void Reply(std::string_view text) { ctx->Line.Rx.insert(ctx->Line.Rx.end(), text.begin(), text.end()); }
    bool Shown(const std::vector<std::string>& events, const std::string& line) {
        return std::find(events.begin(), events.end(), line) != events.end();
    }

    std::string written;
};

// The modem dialogue (sender and reply collector) is another module's; these tests need it.
bool DialogueWorks() {
    DriverContext probe;
    ResetContext(probe);
    probe.Modem.PendingText.assign("AT");
    SendPending(probe.Modem, probe.Line);
    if (!probe.Modem.PendingText.empty()) return false;
    probe.Line.Rx = {'O', 'K', static_cast<std::uint8_t>(kTerminator)};
    for (int i = 0; i < 3; ++i)
        if (CollectReply(probe.Modem, probe.Line, std::string_view(&kTerminator, 1))) return true;
    return false;
}

#define REQUIRE_DIALOGUE() \
    if (!DialogueWorks()) GTEST_SKIP() << "the modem dialogue (SendPending, CollectReply) is not built yet"

TEST_F(Modem, TheCommandTextIsComposedLoggedAndShown) {
    zktest::TempDir dir;
    ctx->Log.LogFileName.assign(dir.file("m.log"));
    EnableLog(ctx->Log, ctx->DriverName.view());
    QueueDial(M(), "123");
    ModemStep(*rec);
    EXPECT_EQ(M().ModemState, zk::ModemState::Sending);
    EXPECT_EQ(M().PendingText.view(), "ATDP123\r");
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"MODEM - ATDP123\r"});
    const std::string log = zktest::ReadFile(dir.file("m.log"));
    EXPECT_NE(log.find("trans : ATDP123\r\r\n"), std::string::npos);
    EXPECT_NE(log.find("trans : 41 54 44 50 31 32 33 0D \r\n"), std::string::npos);
}

TEST_F(Modem, TheReplyIsAwaitedOnlyWhenTheTextHasLeftThePort) {
    zktest::TempDir dir;
    ctx->Log.LogFileName.assign(dir.file("m.log"));
    EnableLog(ctx->Log, ctx->DriverName.view());
    QueueModemCommand(M(), ModemInit, M().InitBlock, {}, {});
    M().CommandQueue.front().Block.Elapsed = 1.5;
    M().ModemState = zk::ModemState::Sending;
    M().ReplyText.assign("old");
    ctx->Line.TxWaiting = 3;
    ModemStep(*rec);
    EXPECT_EQ(M().ModemState, zk::ModemState::Sending);
    ctx->Line.TxWaiting = 0;
    ModemStep(*rec);
    EXPECT_EQ(M().ModemState, zk::ModemState::AwaitingReply);
    EXPECT_TRUE(M().ReplyText.empty());
    EXPECT_EQ(M().CommandQueue.front().Block.Elapsed, 0.0);
    EXPECT_NE(zktest::ReadFile(dir.file("m.log")).find("timeout :   2.0\r\n"), std::string::npos);
}

TEST_F(Modem, ACommandWithoutAReplyInTimeFailsWithTheActionsOfItsKind) {
    struct Case {
        std::uint8_t kind;
        const char* failure;
        const char* written;  // a dial or an answer still under way in the modem is abandoned
    };
    const Case cases[] = {
        {ModemInit, "MODEM - Chyba při inicializaci", ""},
        {ModemDial, "MODEM - Chyba při připojování", "\r"},
        {ModemHangUp, "MODEM - Chyba při zavěšení linky", ""},
        {ModemAnswer, "MODEM - Chyba při připojování", "\r"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.kind);
        M().ModemReady = true;
        M().LineConnected = true;
        ctx->AnsweredCall = true;
        ctx->ReopenPortRequested = false;
        Station(1).OnLine = true;
        Station(2).DialRequested = true;
        Station(2).OnLine = false;
        Station(2).Unreachable = false;
        QueueModemCommand(M(), k.kind, M().DialBlock, {}, {});
        M().ModemState = zk::ModemState::AwaitingReply;
        M().ReplyText.assign("\r\nRINGING");
        M().CommandQueue.front().Block.Elapsed = M().DialBlock.Limit + 0.01;
        TakeEvents();

        ctx->Line.Outbox.clear();
        ModemStep(*rec);
        EXPECT_EQ(M().ModemState, zk::ModemState::Failed);
        ModemStep(*rec);
        std::string out;
        for (const auto& text : ctx->Line.Outbox) out += text;
        EXPECT_EQ(out, k.written);
        EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"MODEM - Překročení času na odpověď", k.failure}));
        EXPECT_EQ(M().ModemState, zk::ModemState::TakeCommand);
        EXPECT_TRUE(M().CommandQueue.empty());
        EXPECT_FALSE(M().LineConnected.load());
        EXPECT_TRUE(ctx->ReopenPortRequested);
        EXPECT_EQ(M().ModemReady.load(), k.kind != ModemInit);
        EXPECT_EQ(ctx->AnsweredCall, k.kind == ModemInit);
        const bool connecting = k.kind == ModemDial || k.kind == ModemAnswer;
        // A failed connection clears every station's connection flags and gives up the one
        // that asked for it.
        EXPECT_EQ(Station(1).OnLine, !connecting);
        EXPECT_EQ(Station(2).Unreachable, connecting);
        EXPECT_EQ(Station(2).DialRequested, !connecting);
    }
}

TEST_F(Modem, AFailedConnectionRunsTheWholeCleanUpWithoutHangingUp) {
    zktest::TempDir dir;
    ctx->Log.LogFileName.assign(dir.file("m.log"));
    EnableLog(ctx->Log, ctx->DriverName.view());
    for (const std::uint8_t kind : {ModemDial, ModemAnswer}) {
        SCOPED_TRACE(kind);
        Station(2).DialRequested = true;
        Station(3).AwaitingAnswer = true;
        QueueModemCommand(M(), kind, M().DialBlock, {}, {});
        M().ModemState = zk::ModemState::Failed;
        M().ReplyText.assign("\r\nNO CARRIER\r\n");
        M().PendingText.assign("left over");
        M().Pausing = true;
        M().TerminatorTaken = true;
        ModemStep(*rec);
        EXPECT_TRUE(M().ReplyText.empty());
        EXPECT_TRUE(M().PendingText.empty());
        EXPECT_FALSE(M().Pausing);
        EXPECT_FALSE(M().TerminatorTaken);
        EXPECT_FALSE(Station(3).AwaitingAnswer);
        EXPECT_TRUE(M().CommandQueue.empty());  // no hang-up command: there is no call to end
        EXPECT_TRUE(ctx->Line.Outbox.empty());
    }
    const std::string log = zktest::ReadFile(dir.file("m.log"));
    std::size_t closes = 0;
    for (std::size_t at = log.find("close : communication !!!!"); at != std::string::npos;
         at = log.find("close : communication !!!!", at + 1))
        ++closes;
    EXPECT_EQ(closes, 2u);
    EXPECT_NE(log.find("connect error, station idx :   2"), std::string::npos);
}

TEST_F(Modem, ATimeOutBeatsACompleteReplyInTheSamePass) {
    REQUIRE_DIALOGUE();
    QueueModemCommand(M(), ModemInit, M().InitBlock, {}, {});
    M().ModemState = zk::ModemState::AwaitingReply;
    M().CommandQueue.front().Block.Elapsed = M().InitBlock.Limit + 0.01;
    Reply("\r\nOK\r\n" + std::string(1, kTerminator));
    ModemStep(*rec);
    EXPECT_EQ(M().ModemState, zk::ModemState::Failed);
    ModemStep(*rec);
    EXPECT_FALSE(M().ModemReady.load());
    EXPECT_TRUE(Shown(TakeEvents(), "MODEM - Chyba při inicializaci"));
}

TEST_F(Modem, TheIdleModemDropsAReplyThatIsNotARingWithoutCountingIt) {
    REQUIRE_DIALOGUE();
    M().RingText.assign("\r\nRING\r\n");
    M().RingCount = 2;
    Reply("\r\nNO CARRIER\r\n" + std::string(1, kTerminator));
    Run(50);
    EXPECT_EQ(M().RingCount, 2);
    EXPECT_TRUE(M().ReplyText.empty());
    EXPECT_TRUE(M().CommandQueue.empty());
    EXPECT_TRUE(TakeEvents().empty());
}

TEST_F(Modem, SuccessfulCommandsSetTheirFlags) {
    ModemCommandSucceeded(*rec, ModemInit);
    EXPECT_TRUE(M().ModemReady.load());

    Station(1).PhoneNumber.assign("555");
    Station(2).PhoneNumber.assign("555");
    Station(3).PhoneNumber.assign("5550");
    Station(1).Unreachable = true;
    Station(2).DialRequested = true;
    ctx->AnsweredCall = true;
    TakeEvents();
    ModemCommandSucceeded(*rec, ModemDial);
    EXPECT_TRUE(M().LineConnected.load());
    EXPECT_FALSE(ctx->AnsweredCall);
    EXPECT_EQ(M().ConnectionCount, 1u);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"MODEM - ST2 - připojena", "MODEM - ST1 - připojena"}));
    for (int n : {1, 2}) {
        EXPECT_TRUE(Station(n).OnLine);
        EXPECT_FALSE(Station(n).Unreachable);
        EXPECT_FALSE(Station(n).DialRequested);
    }
    EXPECT_FALSE(Station(3).OnLine);

    ModemCommandSucceeded(*rec, ModemHangUp);
    EXPECT_FALSE(M().LineConnected.load());
    EXPECT_TRUE(ctx->ReopenPortRequested);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"MODEM - Linka zavěšena"});

    ctx->Timers.Hold = 5000;
    ModemCommandSucceeded(*rec, ModemAnswer);
    EXPECT_TRUE(ctx->AnsweredCall);
    EXPECT_TRUE(M().LineConnected.load());
    EXPECT_TRUE(ctx->Scheduler.HoldPolling.load());
    EXPECT_EQ(ctx->Timers.Hold, 0.0);
    EXPECT_EQ(M().ConnectionCount, 2u);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"MODEM - Aktivní linka připojena"});
}

TEST_F(Modem, AQueuedCommandTakesTheLineFromTheScheduler) {
    M().LineConnected = true;
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    QueueModemCommand(M(), ModemHangUp, M().HangupBlock, {}, {});
    ModemStep(*rec);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"MODEM - ~~~+++~~~ATH0\r~~"});
    EXPECT_FALSE(ctx->Scheduler.WriteChosen);
    EXPECT_EQ(Station(1).RequestCount, 0u);

    ClearModemCommands(M());
    M().ModemState = zk::ModemState::TakeCommand;
    M().PendingText.clear();
    ModemStep(*rec);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"ST1 - QQ/zápis (01 )"});
    EXPECT_TRUE(ctx->Scheduler.WriteChosen);
}

TEST_F(Modem, AnInitAnsweredWithOkSucceeds) {
    REQUIRE_DIALOGUE();
    QueueModemCommand(M(), ModemInit, M().InitBlock, {}, {});
    Reply("\r\nOK\r\n" + std::string(1, kTerminator));
    RunUntilIdle();
    EXPECT_EQ(written, "ATX3\r");
    EXPECT_TRUE(M().ModemReady.load());
    const auto events = TakeEvents();
    EXPECT_TRUE(Shown(events, "MODEM - \r\nOK\r\n"));
    EXPECT_TRUE(Shown(events, "MODEM - Inicializace OK"));
    EXPECT_FALSE(ctx->ReopenPortRequested);
}

TEST_F(Modem, AnOkFollowedBySilenceOutlastsTheDefaultInitTime) {
    // A reply is complete at the protocol's first prefix character or after 3 s of silence;
    // INIT_TIME is 2 s by default, so an OK and then silence is a time-out.
    REQUIRE_DIALOGUE();
    QueueModemCommand(M(), ModemInit, M().InitBlock, {}, {});
    Reply("\r\nOK\r\n");
    RunUntilIdle();
    const auto events = TakeEvents();
    EXPECT_TRUE(Shown(events, "MODEM - Překročení času na odpověď"));
    EXPECT_TRUE(Shown(events, "MODEM - Chyba při inicializaci"));
    EXPECT_FALSE(M().ModemReady.load());
    EXPECT_TRUE(ctx->ReopenPortRequested);
}

TEST_F(Modem, ADialConnectsEveryStationWithTheNumber) {
    REQUIRE_DIALOGUE();
    Station(1).PhoneNumber.assign("123");
    Station(2).PhoneNumber.assign("123");
    Station(3).PhoneNumber.assign("456");
    Station(1).DialRequested = true;
    QueueDial(M(), "123");
    Reply("\r\nCONNECT 9600\r\n" + std::string(1, kTerminator));
    RunUntilIdle();
    EXPECT_EQ(written, "ATDP123\r");
    EXPECT_TRUE(M().LineConnected.load());
    const auto events = TakeEvents();
    EXPECT_TRUE(Shown(events, "MODEM - ST1 - připojena"));
    EXPECT_TRUE(Shown(events, "MODEM - ST2 - připojena"));
    EXPECT_TRUE(Station(1).OnLine && Station(2).OnLine);
    EXPECT_FALSE(Station(3).OnLine);
}

TEST_F(Modem, ADialAnsweredWithoutTheExpectedTextGivesTheStationUp) {
    REQUIRE_DIALOGUE();
    Station(2).PhoneNumber.assign("77");
    Station(2).DialRequested = true;
    QueueDial(M(), "77");
    Reply("\r\nNO CARRIER\r\n" + std::string(1, kTerminator));
    RunUntilIdle();
    const auto events = TakeEvents();
    const auto unexpected = std::find(events.begin(), events.end(), "MODEM - Chyba příjmu - neočekávaná odpověď");
    const auto failed = std::find(events.begin(), events.end(), "MODEM - Chyba při připojování");
    ASSERT_NE(unexpected, events.end());
    ASSERT_NE(failed, events.end());
    EXPECT_LT(unexpected, failed);
    EXPECT_TRUE(Station(2).Unreachable);
    EXPECT_FALSE(Station(2).DialRequested);
    EXPECT_FALSE(M().LineConnected.load());
    EXPECT_TRUE(ctx->ReopenPortRequested);
}

TEST_F(Modem, TheSixthRingIsAnsweredAndTheAnswerHoldsThePolling) {
    REQUIRE_DIALOGUE();
    M().RingText.assign("\r\nRING\r\n");
    M().AnswerBlock.ExpectedReply.assign("CONNECT");
    const std::string ring = "\r\nRING\r\n" + std::string(1, kTerminator);
    for (int i = 0; i < 5; ++i) {
        Reply(ring);
        Run(50);
    }
    auto events = TakeEvents();
    EXPECT_EQ(std::count(events.begin(), events.end(), "MODEM - Někdo volá..."), 5);
    EXPECT_TRUE(M().CommandQueue.empty());
    Reply(ring);
    Run(50);
    events = TakeEvents();
    EXPECT_TRUE(Shown(events, "MODEM - Pokus o aktivní spojení..."));
    EXPECT_EQ(M().RingCount, 0);
    Reply("\r\nCONNECT 2400\r\n" + std::string(1, kTerminator));
    RunUntilIdle();
    EXPECT_EQ(written, "ATA\r");
    EXPECT_TRUE(ctx->AnsweredCall);
    EXPECT_TRUE(M().LineConnected.load());
    EXPECT_TRUE(ctx->Scheduler.HoldPolling.load());
    EXPECT_TRUE(Shown(TakeEvents(), "MODEM - Aktivní linka připojena"));
}

TEST_F(Modem, AHangUpWritesItsTextBetweenPausesAndReopensThePort) {
    REQUIRE_DIALOGUE();
    M().LineConnected = true;
    QueueModemCommand(M(), ModemHangUp, M().HangupBlock, {}, {});
    Reply("\r\nOK\r\n" + std::string(1, kTerminator));
    RunUntilIdle(5000);
    EXPECT_EQ(written, "+++ATH0\r");
    EXPECT_FALSE(M().LineConnected.load());
    EXPECT_TRUE(ctx->ReopenPortRequested);
    EXPECT_TRUE(Shown(TakeEvents(), "MODEM - Linka zavěšena"));
}

TEST_F(Modem, EveryCommandBehavesTheSameBehindAModemThatEchoes) {
    REQUIRE_DIALOGUE();
    M().RingText.assign("\r\nRING\r\n");
    for (CommandBlock* b : {&M().InitBlock, &M().DialBlock, &M().AnswerBlock, &M().HangupBlock}) b->Limit = 20.0;
    M().AnswerBlock.ExpectedReply.assign("CONNECT");
    struct Case {
        std::uint8_t kind;
        std::string echo;  // the modem's echo of what was written
        std::string reply;
        const char* shown;
    };
    const Case cases[] = {
        {ModemInit, "ATX3\r", "\r\nOK\r\n", "MODEM - Inicializace OK"},
        {ModemDial, "ATDP123\r", "\r\nCONNECT 9600\r\n", "MODEM - ST1 - připojena"},
        {ModemAnswer, "ATA\r", "\r\nCONNECT 9600\r\n", "MODEM - Aktivní linka připojena"},
        {ModemHangUp, "ATH0\r", "\r\nOK\r\n", "MODEM - Linka zavěšena"},  // "+++" is not echoed
    };
    for (const bool echo : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(echo ? "echo " : "no echo ") + std::to_string(c.kind));
            M().LineConnected = c.kind == ModemHangUp;
            Station(1).PhoneNumber.assign("123");
            Station(1).DialRequested = c.kind == ModemDial;
            if (c.kind == ModemDial) QueueDial(M(), "123");
            else if (c.kind == ModemInit) QueueModemCommand(M(), ModemInit, M().InitBlock, {}, {});
            else if (c.kind == ModemAnswer) QueueModemCommand(M(), ModemAnswer, M().AnswerBlock, {}, {});
            else QueueModemCommand(M(), ModemHangUp, M().HangupBlock, {}, {});
            for (int i = 0; i < 3000 && M().ModemState != zk::ModemState::AwaitingReply; ++i) Run(1);
            ASSERT_EQ(M().ModemState, zk::ModemState::AwaitingReply);
            TakeEvents();
            // The echo and then the modem's silence while it works: no reply yet.
            if (echo) Reply(c.echo);
            Run(60, 100);
            EXPECT_EQ(M().ModemState, zk::ModemState::AwaitingReply);
            EXPECT_EQ(M().CommandQueue.size(), 1u);
            Reply(c.reply + std::string(1, kTerminator));
            RunUntilIdle();
            const auto events = TakeEvents();
            EXPECT_TRUE(Shown(events, "MODEM - " + c.reply));
            EXPECT_TRUE(Shown(events, c.shown));
            EXPECT_FALSE(Shown(events, "MODEM - Chyba příjmu - neočekávaná odpověď"));
            ctx->Line.Rx.clear();
        }
    }
}

TEST_F(Modem, ACallThatDropsEndsTheConnectionAndKeepsTheQueues) {
    enum How { Text, Line };
    struct Case {
        const char* name;
        const char* prefix;
        How how;
        std::string received;  // what the line brings while the call is up
        bool insideAFrame;     // the text is the body of a frame
        bool dropped;
    };
    const Case cases[] = {
        {"NO CARRIER without a prefix", "", Text, "\r\nNO CARRIER\r\n", false, true},
        {"NO CARRIER with a prefix", "\xFF\xFF", Text, "\r\nNO CARRIER\r\n", false, true},
        {"NO CARRIER without its line breaks", "\xFF\xFF", Text, "NO CARRIER\r", false, true},
        {"the text inside an answer", "\xFF\xFF", Text, "\r\nNO CARRIER\r\n", true, false},
        {"the text inside an answer without a prefix", "", Text, "\r\nNO CARRIER\r\n", true, false},
        {"the text cut short", "\xFF\xFF", Text, "\r\nNO CARRIER", false, false},
        {"another text", "\xFF\xFF", Text, "\r\nNO CARRIERS\r\n", false, false},
        {"the carrier line falls", "\xFF\xFF", Line, "", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ctx->Global.PREFIX.assign(c.prefix);
        ctx->Line.Rx.clear();
        ctx->Framing.PrefixWindow.clear();
        ctx->Framing.RxFrame.clear();
        // A dial connects while the port's carrier line is up (a pseudo-terminal has none).
        ctx->Line.Carrier = c.how == Line ? zk::CarrierLine::Up : zk::CarrierLine::Unknown;
        Station(1).DialRequested = true;
        Station(1).PhoneNumber.assign("123");
        QueueDial(M(), "123");
        for (int i = 0; i < 100 && M().ModemState != zk::ModemState::AwaitingReply; ++i) Run(1);
        Reply("\r\nCONNECT 9600\r\n" + std::string(1, kTerminator));
        RunUntilIdle();
        ASSERT_TRUE(M().LineConnected.load());
        ASSERT_TRUE(Station(1).OnLine);
        ctx->Line.Rx.clear();
        AppendRequest(ctx->ReadQueue, 1, 16, 0, "\x01\x02\x03", nullptr);
        // The hold after an answered call, just begun as an answer begins it (its timer runs on
        // from the earlier cases' calls otherwise, and the hold would end at once): nothing is
        // sent, the line stays between frames.
        ctx->Timers.Hold = 0.0;
        ctx->Scheduler.HoldPolling = true;
        TakeEvents();
        written.clear();
        // Inside a frame: the prefix, the address and the length, the text as the frame's body.
        if (c.insideAFrame)
            Reply(std::string(c.prefix) + "\x05" + std::string(1, static_cast<char>(c.received.size() + 1)) +
                  c.received + std::string(1, '\0'));
        else Reply(c.received);
        if (c.how == Line) ctx->Line.Carrier = zk::CarrierLine::Down;
        Run(40);
        const auto events = TakeEvents();
        EXPECT_EQ(Shown(events, "MODEM - Spojení přerušeno (ztráta nosné)"), c.dropped);
        EXPECT_EQ(M().LineConnected.load(), !c.dropped);
        EXPECT_EQ(Station(1).OnLine, !c.dropped);
        EXPECT_FALSE(Station(1).DialRequested);
        EXPECT_EQ(CountRequests(ctx->ReadQueue), 1u);  // the host's requests wait for the next call
        EXPECT_TRUE(M().CommandQueue.empty());  // no hang-up: the modem has left the call
        EXPECT_FALSE(ctx->ReopenPortRequested);
        EXPECT_EQ(written, "");  // the request was not sent while the call was up, nor a hang-up
        if (c.dropped) EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);
        EmptyQueue(ctx->ReadQueue);
        M().LineConnected = false;
        Station(1).OnLine = false;
        ctx->Scheduler.HoldPolling = false;
    }
}

}  // namespace
