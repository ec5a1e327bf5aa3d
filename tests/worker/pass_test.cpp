// The worker's pass on a clock the test moves: pass timing, the soft timers, station sleep,
// the full sleep, the hold after an answered call, the status lines, the modem's init request
// and the supervision of a history read-out.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "history/history.h"
#include "line/modem.h"
#include "worker/pass.h"
#include "worker_fixture.h"

using namespace zk;
using zktest::Bytes;

namespace {

class Pass : public zktest::WorkerFixture {
protected:
    // Passes of `ms` milliseconds each.
    void Passes(int count, int ms) {
        for (int i = 0; i < count; ++i) {
            Advance(ms);
            RunPassSteps(*rec);
        }
    }
};

TEST_F(Pass, PassTimingKeepsTheLastTheLargestAndTheSum) {
    ctx->Timing.LastPassTime = static_cast<double>(monotonicMs);
    Advance(250);
    RunPassSteps(*rec);
    EXPECT_NEAR(ctx->Timing.PassInterval.load(), 250.0, 0.01);
    EXPECT_NEAR(ctx->Timing.MaxPassInterval.load(), 250.0, 0.01);
    Advance(50);
    RunPassSteps(*rec);
    EXPECT_NEAR(ctx->Timing.PassInterval.load(), 50.0, 0.01);
    EXPECT_NEAR(ctx->Timing.MaxPassInterval.load(), 250.0, 0.01);
    EXPECT_NEAR(ctx->Timing.IntervalSum.load(), 300.0, 0.01);
    EXPECT_EQ(ctx->Timing.PassCount.load(), 2.0);
}

TEST_F(Pass, TimersAdvanceByTheMonotonicClockAndRunOnAcrossMidnight) {
    Passes(1, 1230);
    EXPECT_NEAR(ctx->SinceTransmit.load(), 1.23, 1e-9);
    EXPECT_NEAR(ctx->SinceAnswer.load(), 1.23, 1e-9);
    EXPECT_EQ(ctx->Timers.Silence, 1230.0);
    EXPECT_EQ(ctx->Timers.Hold, 1230.0);

    StepWallClock(86400000 - 10 - msOfDay);  // 23:59:59.990
    RunPassSteps(*rec);
    const double timer = ctx->Timers.Silence;
    EXPECT_EQ(timer, 1230.0);  // setting the clock moved no timer
    Advance(20);               // 00:00:00.010 of the next day
    RunPassSteps(*rec);
    EXPECT_EQ(ctx->Timers.Silence, timer + 20.0);
    EXPECT_EQ(ctx->Timing.PassCount.load(), 0.0);  // the average restarts
    EXPECT_EQ(ctx->LastTick, monotonicMs / 10);
    Passes(1, 100);
    EXPECT_EQ(ctx->Timers.Silence, timer + 120.0);
}

TEST_F(Pass, ASleepingStationWakesWithItsErrorsCleared) {
    DefineStations(2);
    Station(2).SleepLeft = 30;
    Station(2).ErrorCount = 100;
    Passes(29, 1000);
    EXPECT_NEAR(Station(2).SleepLeft, 1.0, 1e-9);
    EXPECT_EQ(Station(2).ErrorCount, 100);
    TakeEvents();
    Passes(1, 1000);
    EXPECT_EQ(Station(2).SleepLeft, 0.0);
    EXPECT_EQ(Station(2).ErrorCount, 0);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"ST2 - konec módu \"sleep\""});
    EXPECT_NEAR(Station(1).ElapsedTime, 30.0, 1e-9);
}

TEST_F(Pass, TheFullSleepEndsWithItsLine) {
    ctx->Scheduler.FullSleepLeft = 2.5;
    Passes(2, 1000);
    EXPECT_NEAR(ctx->Scheduler.FullSleepLeft.load(), 0.5, 1e-9);
    TakeEvents();
    Passes(1, 1000);
    EXPECT_EQ(ctx->Scheduler.FullSleepLeft.load(), 0.0);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"Konec úplného módu \"sleep\""});
}

TEST_F(Pass, TheHoldAfterAnAnsweredCallEndsAfterTenSeconds) {
    ctx->Scheduler.HoldPolling = true;
    ctx->Timers.Hold = 0;
    Passes(9, 1000);
    Passes(99, 10);
    EXPECT_TRUE(ctx->Scheduler.HoldPolling.load());
    Passes(1, 10);
    EXPECT_FALSE(ctx->Scheduler.HoldPolling.load());
}

TEST_F(Pass, TheStatusLinesAreRefreshedAboutOnceASecond) {
    for (int i = 0; i < 3; ++i) AppendRequest(ctx->ReadQueue, 1, 16, 0, Bytes({1, 2, i}), nullptr);
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    ctx->SentCount = 7;
    ctx->Framing.ReceivedCount = 5;
    ctx->ErrorTotal = 2;
    const StatusWindow& w = *rec->Window;
    Passes(1, 990);
    EXPECT_EQ(Cp1250ToUtf8(w.Labels[LabelTransmit]), "Nevyřízených požadavků:");  // not refreshed yet
    Passes(1, 10);
    EXPECT_EQ(Cp1250ToUtf8(w.Labels[LabelTransmit]), "Nevyřízených požadavků: čtení: 3, zápis: 1");
    EXPECT_EQ(Cp1250ToUtf8(w.Labels[LabelPacket]), "Kom.zpráv: Vysláno: 7, Přijato: 5, Chyb: 2");
    EXPECT_EQ(Cp1250ToUtf8(w.Labels[LabelIdle]).rfind("Hlavní thread: ", 0), 0u);
    EXPECT_EQ(Cp1250ToUtf8(w.Labels[LabelMem]).rfind("Alokovaná pamět: ", 0), 0u);
    EXPECT_EQ(ctx->Timers.Refresh, 0.0);
}

TEST_F(Pass, WithNoPassCountedTheAverageIsZero) {
    RefreshStatusLabels(*rec);
    EXPECT_EQ(Cp1250ToUtf8(rec->Window->Labels[LabelIdle]), "Hlavní thread: 0.0ms (0.0ms max, 0.0ms průměr)");
}

TEST_F(Pass, TheMemoryLineShowsTheHeapTheWorkerSampledInGroupsOfThree) {
    ctx->Timing.HeapBytes = 1234567LL * 1024;
    RefreshStatusLabels(*rec);
    EXPECT_NE(Cp1250ToUtf8(rec->Window->Labels[LabelMem]).find("1 234 567"), std::string::npos);
}

TEST_F(Pass, TheModemIsInitialisedAtTheFirstPassWithThePortOpen) {
    ctx->Modem.ModemInitRequest = true;
    RunPassSteps(*rec);  // the port is closed: the request waits
    EXPECT_TRUE(ctx->Modem.ModemInitRequest.load());
    EXPECT_TRUE(ctx->Modem.CommandQueue.empty());

    ctx->Line.Active = true;
    RunPassSteps(*rec);
    EXPECT_FALSE(ctx->Modem.ModemInitRequest.load());
    ASSERT_EQ(ctx->Modem.CommandQueue.size(), 1u);
    EXPECT_EQ(ctx->Modem.CommandQueue.front().Kind, ModemInit);
    EXPECT_EQ(ctx->Modem.CommandQueue.front().Block.Command.view(), "ATX3\r");
    // The same pass takes the command up.
    EXPECT_EQ(ctx->Modem.ModemState, zk::ModemState::Sending);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"Inicializace AT-modemu...", "MODEM - ATX3\r"}));
}

TEST_F(Pass, ADialAskedForBeforeTheFirstPassWaitsBehindTheInitialisation) {
    ctx->Modem.ModemInitRequest = true;
    QueueDial(ctx->Modem, "123");  // the host's connect channel, written right after Init
    ctx->Line.Active = true;
    RunPassSteps(*rec);
    ASSERT_EQ(ctx->Modem.CommandQueue.size(), 2u);
    EXPECT_EQ(ctx->Modem.CommandQueue[0].Kind, ModemInit);
    EXPECT_EQ(ctx->Modem.CommandQueue[1].Kind, ModemDial);
    EXPECT_EQ(ctx->Modem.ModemState, zk::ModemState::Sending);

    // A later initialisation (channel 60293) never pushes aside a command under way.
    ctx->Modem.ModemInitRequest = true;
    RunPassSteps(*rec);
    ASSERT_EQ(ctx->Modem.CommandQueue.size(), 3u);
    EXPECT_EQ(ctx->Modem.CommandQueue[0].Kind, ModemInit);
    EXPECT_EQ(ctx->Modem.CommandQueue[1].Kind, ModemDial);
    EXPECT_EQ(ctx->Modem.CommandQueue[2].Kind, ModemInit);
}

TEST_F(Pass, AShowStoredByAnotherStepIsNotLost) {
    ctx->PendingEventText.assign("left by the decoder");
    ShowEvent(*rec, "next");
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"left by the decoder", "next"}));
    EXPECT_TRUE(ctx->PendingEventText.empty());
}

// The history read-out is completed and abandoned by the history module's tick; the pass
// shows the outcome and, on a time-out, resets the line's receive state.
bool HistoryTickWorks() {
    DriverContext probe;
    ResetContext(probe);
    probe.History.HdbReadState = zk::HdbReadState::Reading;
    probe.History.HdbReadTimeout = 600;
    HistoryTick(HistoryOf(probe), 1.0);
    return probe.History.HdbReadState != zk::HdbReadState::Reading;
}

TEST_F(Pass, AHistoryReadOutThatLeavesTheReadQueueQueuesOneWriteBack) {
    if (!HistoryTickWorks()) GTEST_SKIP() << "the history read-out is not supervised yet";
    DefineStations(3);
    ctx->History.HdbReadState = zk::HdbReadState::Reading;
    ctx->History.HdbStation = 3;
    ctx->History.HdbNumber = 2;
    ctx->History.HdbWritePos = 7;
    ctx->History.HdbTop = 0x01020304;  // the new position is what the station is told
    ctx->History.HdbReadTimeout = 600;
    AppendRequest(ctx->ReadQueue, 3, 0xF0, 0, Bytes({192}), nullptr);
    Passes(1, 100);
    EXPECT_EQ(ctx->History.HdbReadState, zk::HdbReadState::Reading);
    RemoveRequest(ctx->ReadQueue, ctx->ReadQueue.Head);
    TakeEvents();
    Passes(3, 100);
    EXPECT_EQ(ctx->History.HdbReadState, zk::HdbReadState::WriteBack);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"HDB: čtení dokončeno -> zápis nové \"UserPos\" (16909060)"});
    ASSERT_EQ(CountRequests(ctx->WriteQueue), 1u);
    const RequestNode& w = *ctx->WriteQueue.Head;
    EXPECT_EQ(w.Station, 3);
    EXPECT_EQ(w.Kind, 15);
    EXPECT_EQ(w.Data.str(), Bytes({0xBA, 0x01, 6, 0x04, 0x03, 0x02, 0x01}));
}

TEST_F(Pass, AHistoryReadOutPastItsTimeOutEmptiesTheQueuesAndResetsTheLine) {
    if (!HistoryTickWorks()) GTEST_SKIP() << "the history read-out is not supervised yet";
    DefineStations(1);
    ctx->History.HdbReadState = zk::HdbReadState::Reading;
    ctx->History.HdbStation = 1;
    ctx->History.HdbReadTimeout = 5;
    AppendRequest(ctx->ReadQueue, 1, 0xF1, 0x1000, Bytes({192}), nullptr);
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    ctx->Scheduler.TxState = zk::TxState::Receiving;
    ctx->Framing.LastTxMessage.assign("sent");
    ctx->Framing.RxFrame.assign("half");
    TakeEvents();
    Passes(6, 1000);
    EXPECT_EQ(ctx->History.HdbReadState, zk::HdbReadState::TimedOut);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"HDB: přerušeno čtení - timeout"});
    EXPECT_EQ(CountRequests(ctx->ReadQueue), 0u);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 0u);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);
    EXPECT_TRUE(ctx->Framing.LastTxMessage.empty());
    EXPECT_TRUE(ctx->Framing.RxFrame.empty());
    EXPECT_TRUE(ctx->Line.PurgeRequested);
}

}  // namespace

namespace {

class WholePass : public zktest::WorkerFixture {};

TEST_F(WholePass, WritesWhatThePassQueuedAndTakesUpAPortSetUpOutsideTheLock) {
    ctx->Global.IDLE_TIME = 25;
    ctx->Line.Outbox.push_back("queued");
    ctx->ReopenPortRequested = true;
    EXPECT_EQ(WorkerPass(*rec), 25);
    EXPECT_TRUE(ctx->Line.Outbox.empty());
    EXPECT_FALSE(ctx->ReopenPortRequested);
    EXPECT_EQ(ctx->Timing.PassCount.load(), 1.0);
    // The heap was sampled outside the lock for the status window (its figure reads 0 under
    // the sanitizers, which keep their own heap).
    EXPECT_NE(ctx->Timing.HeapSampledAt, std::chrono::steady_clock::time_point{});

    ctx->Global.IDLE_TIME = -5;  // no pause
    EXPECT_EQ(WorkerPass(*rec), 0);
}

// The pause after each pass on a connected line until the first request has gone out, and
// whether one went out.
struct Walk {
    std::vector<int> pauses;
    bool sent = false;
};

class PausingPass : public zktest::WorkerFixture {
protected:
    void SetUp() override {
        DefineStations(1);
        Station(1).Address = 5;
        Station(1).NumBinarIn = 8;  // only the binary inputs can be asked
        ctx->Global.ADDRESS = 1;
        ctx->Global.IDLE_TIME = 10;
        ctx->Global.ANSWER_TIME = 1.0;
        ctx->Modem.LineConnected = true;
        ctx->Modem.ModemInitRequest = false;
        ctx->Line.Active = true;
    }
    Walk PassesUntilSent(int limit) {
        Walk w;
        for (int i = 0; i < limit && !w.sent; ++i) {
            w.pauses.push_back(RunPassThenPause(*rec));
            Advance(1);
            w.sent = ctx->SentCount.load() > 0.0;
        }
        return w;
    }
};

TEST_F(PausingPass, ThePollWalksPastBlocksTheStationHasNotWithoutPausing) {
    ctx->Global.PrstynekRun = true;
    ctx->Scheduler.RingStation = 1;
    ctx->Scheduler.RingBlock = 2;  // the analog area, the counters, ... come first
    const Walk w = PassesUntilSent(40);
    ASSERT_TRUE(w.sent);
    EXPECT_GT(w.pauses.size(), 4u);  // several blocks were walked past
    for (const int pause : w.pauses) EXPECT_EQ(pause, 0);
}

TEST_F(PausingPass, AnIdleConnectedLineWaitsIdleTimeAfterEachRound) {
    ctx->Global.PrstynekRun = false;  // nothing to ask and no poll of its own
    const Walk w = PassesUntilSent(6);
    EXPECT_FALSE(w.sent);
    EXPECT_EQ(w.pauses.back(), 10);
    EXPECT_GE(std::count(w.pauses.begin(), w.pauses.end(), 10), 2);
}

TEST_F(PausingPass, ThePauseAfterAnAnswerEndsWhenTheSilenceDoes) {
    ctx->Global.SILENCE_WAIT = 50;
    ctx->Global.IDLE_TIME = 100;
    ctx->Scheduler.TxState = zk::TxState::Pause;
    ctx->Timers.Silence = 0.0;
    // The silence passes 50 ms on the sixth hundredth after the last tick: the pause ends there,
    // well before IDLE_TIME.
    const int pause = RunPassThenPause(*rec);
    EXPECT_GT(pause, 0);
    EXPECT_LE(pause, 60);
}

TEST_F(WholePass, IsSkippedWithoutPauseOnceAStopIsRequested) {
    ctx->StopRequest = true;
    ctx->Line.Outbox.push_back("queued");
    EXPECT_EQ(WorkerPass(*rec), 0);
    EXPECT_EQ(ctx->Timing.PassCount.load(), 0.0);
    EXPECT_EQ(ctx->Line.Outbox.size(), 1u);
}

}  // namespace
