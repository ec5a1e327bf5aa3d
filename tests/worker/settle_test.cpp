// What becomes of a sent request: answered or timed out, for stations with and without their
// own telephone number; the time-out report, the station's sleep and the states after sending.
#include <gtest/gtest.h>

#include <algorithm>

#include "line/line.h"
#include "protocol/encoder.h"
#include "worker/scheduler.h"
#include "worker_fixture.h"
#include "worker/steps.h"

using namespace zk;
using zktest::Bytes;

namespace {

class Settle : public zktest::WorkerFixture {
protected:
    void SetUp() override {
        DefineStations(2);
        ctx->Modem.LineConnected = true;
        ctx->Line.Active = true;
    }
};

enum class Result { Dropped, Rotated, StaysFirst };

TEST_F(Settle, TheRulesForAnsweredAndTimedOutRequests) {
    struct Case {
        const char* name;
        bool phone;
        int retries;         // RetryCount before
        int limit;           // NUM_MORVEL_ERROR
        bool unreachable;    // before
        bool stay;           // STAY_IN_QUEUE_ON_TIMEOUT
        bool onlyNode;
        Outcome outcome;
        Result result;
        int retriesAfter;
        bool unreachableAfter;
    };
    const Case cases[] = {
        {"answered, no number", false, 0, 1, false, false, false, Outcome::Answered, Result::Dropped, 0, false},
        {"answered, no number, unreachable", false, 0, 1, true, false, false, Outcome::Answered, Result::Dropped, 0, true},
        {"answered, number", true, 0, 3, false, false, false, Outcome::Answered, Result::Dropped, 0, false},
        {"answered, number, unreachable", true, 0, 3, true, false, false, Outcome::Answered, Result::Dropped, 0, true},
        {"answered, number, retries used up", true, 3, 3, false, false, false, Outcome::Answered, Result::Dropped, 0, true},
        {"timed out, no number", false, 5, 1, false, false, false, Outcome::TimedOut, Result::Rotated, 6, false},
        {"timed out, no number, only node", false, 0, 1, false, false, true, Outcome::TimedOut, Result::StaysFirst, 1, false},
        {"timed out, number, retries left", true, 0, 3, false, false, false, Outcome::TimedOut, Result::Rotated, 1, false},
        {"timed out, number, last retry", true, 2, 3, false, false, false, Outcome::TimedOut, Result::Dropped, 0, true},
        {"timed out, number, default limit", true, 0, 1, false, false, false, Outcome::TimedOut, Result::Dropped, 0, true},
        {"timed out, number, stay in queue", true, 2, 3, false, true, false, Outcome::TimedOut, Result::StaysFirst, 3, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EmptyQueue(ctx->WriteQueue);
        StationRecord& s = Station(1);
        s.PhoneNumber.assign(k.phone ? "123" : "");
        s.RetryCount = static_cast<std::uint8_t>(k.retries);
        s.Unreachable = k.unreachable;
        s.AwaitingAnswer = true;
        ctx->Global.NUM_MORVEL_ERROR = static_cast<std::uint8_t>(k.limit);
        ctx->Global.STAY_IN_QUEUE_ON_TIMEOUT = k.stay;
        AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
        if (!k.onlyNode) AppendRequest(ctx->WriteQueue, 2, 15, 0, Bytes({2}), nullptr);
        RequestNode* sent = ctx->WriteQueue.Head;
        ctx->Scheduler.WriteChosen = true;
        ctx->Scheduler.ReadChosen = false;

        SettleRequest(*ctx, k.outcome);

        switch (k.result) {
            case Result::Dropped:
                EXPECT_EQ(CountRequests(ctx->WriteQueue), k.onlyNode ? 0u : 1u);
                EXPECT_EQ(ctx->WriteQueue.Head->Station, 2);
                break;
            case Result::Rotated:
                EXPECT_EQ(CountRequests(ctx->WriteQueue), 2u);
                EXPECT_EQ(ctx->WriteQueue.Tail, sent);
                break;
            case Result::StaysFirst:
                EXPECT_EQ(ctx->WriteQueue.Head, sent);
                break;
        }
        EXPECT_EQ(s.RetryCount, k.retriesAfter);
        EXPECT_EQ(s.Unreachable, k.unreachableAfter);
        EXPECT_FALSE(s.AwaitingAnswer);
    }
}

TEST_F(Settle, AReadIsSettledOnlyWhenNoWriteWasChosenAndARingRequestNotAtAll) {
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    AppendRequest(ctx->ReadQueue, 2, 16, 0, Bytes({1, 2, 3}), nullptr);
    ctx->Scheduler.WriteChosen = false;
    ctx->Scheduler.ReadChosen = true;
    SettleRequest(*ctx, Outcome::Answered);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);
    EXPECT_EQ(CountRequests(ctx->ReadQueue), 0u);

    AppendRequest(ctx->ReadQueue, 2, 16, 0, Bytes({1, 2, 3}), nullptr);
    ctx->Scheduler.ReadChosen = false;  // a ring request was on the line
    SettleRequest(*ctx, Outcome::TimedOut);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);
    EXPECT_EQ(CountRequests(ctx->ReadQueue), 1u);
    EXPECT_EQ(Station(1).RetryCount, 0);
    EXPECT_EQ(Station(2).RetryCount, 0);
}

TEST_F(Settle, ALostAnswerIsCountedSettledAndReportedWithTheTime) {
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    AppendRequest(ctx->WriteQueue, 2, 15, 0, Bytes({2}), nullptr);
    ctx->Global.ANSWER_TIME = 2.5;
    ctx->Scheduler.TxState = zk::TxState::Receiving;
    ctx->Scheduler.Outstanding = true;
    ctx->Scheduler.WriteChosen = true;
    ctx->Scheduler.OutStation = 1;
    ctx->SinceTransmit = 2.5;  // not yet over
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Receiving);

    ctx->SinceTransmit = 2.6;
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::TimedOut);
    EXPECT_EQ(ctx->ErrorTotal.load(), 1.0);
    EXPECT_EQ(ctx->WriteQueue.Head->Station, 2);  // rotated behind the other write

    msOfDay = 13 * 3600000 + 5 * 60000 + 9 * 1000;
    ScheduleStep(*rec);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"ST1 - překročení času (14.3.2024 13:05:09)"});
    EXPECT_EQ(Station(1).ErrorCount, 1);
    EXPECT_EQ(Station(1).TimeoutCount, 1u);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);
    EXPECT_TRUE(ctx->Line.PurgeRequested);
}

TEST_F(Settle, SleepStartsAfterSleepCountTimeOutsInARowAndNeverWithoutASleepTime) {
    struct Case {
        double sleepTime;
        bool sleeps;
    };
    for (const Case k : {Case{30.0, true}, Case{0.0, false}}) {
        SCOPED_TRACE(k.sleepTime);
        StationRecord& s = Station(2);
        s.ErrorCount = 0;
        s.SleepLeft = 0;
        ctx->Global.SLEEP_COUNT = 3;
        ctx->Global.SLEEP_TIME = k.sleepTime;
        ctx->Scheduler.OutStation = 2;
        for (int i = 0; i < 5; ++i) {
            ctx->Scheduler.TxState = zk::TxState::TimedOut;
            ScheduleStep(*rec);
        }
        const auto events = TakeEvents();
        const auto starts = std::count(events.begin(), events.end(), "ST2 - start módu \"sleep\"");
        EXPECT_EQ(starts, k.sleeps ? 1 : 0);
        EXPECT_EQ(s.SleepLeft, k.sleeps ? 30.0 : 0.0);
        EXPECT_EQ(s.ErrorCount, 5);
    }
}

TEST_F(Settle, SendingEndsWhenTheTextHasLeftOrTimesOut) {
    ctx->Global.ANSWER_TIME = 1.0;
    ctx->Scheduler.TxState = zk::TxState::Sending;
    ctx->Line.TxWaiting = 12;  // still in the port's output buffer
    ctx->Framing.RxFrame.assign("partial");
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Sending);
    EXPECT_EQ(ctx->Framing.RxFrame.view(), "partial");

    ctx->Line.TxWaiting = 0;
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Receiving);
    EXPECT_TRUE(ctx->Framing.RxFrame.empty());

    ctx->Scheduler.TxState = zk::TxState::Sending;
    ctx->Line.TxWaiting = 12;
    ctx->SinceTransmit = 1.5;
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::TimedOut);
}

TEST_F(Settle, ThePauseAfterAnAnswerSendsAPendingAcknowledgement) {
    ctx->Global.SILENCE_WAIT = 50;
    ctx->Scheduler.TxState = zk::TxState::Pause;
    ctx->Timers.Silence = 50;
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Pause);

    ctx->Timers.Silence = 51;
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);

    ctx->Scheduler.TxState = zk::TxState::Pause;
    ctx->Scheduler.AckPending = true;
    ctx->Scheduler.AckText.assign("ACK");
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::AckSent);
    EXPECT_EQ(ctx->Line.Outbox, std::vector<std::string>{"ACK"});
    EXPECT_FALSE(ctx->Scheduler.AckPending);
    EXPECT_TRUE(ctx->Scheduler.AckText.empty());
    ScheduleStep(*rec);  // an acknowledgement does not wait for the port
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);
}

TEST_F(Settle, OtherStatesReturnToChoosing) {
    for (int state : {4, 6, 7, 42, 254}) {
        ctx->Scheduler.TxState = static_cast<zk::TxState>(state);
        ScheduleStep(*rec);
        EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose) << state;
    }
}

TEST_F(Settle, AChosenRequestIsSentAndNotedAsOnTheLine) {
    AppendRequest(ctx->WriteQueue, 2, 15, 0, Bytes({0x01, 0x02, 0x03, 0x00, 0x00, 0x80, 0x41}), nullptr);
    if (EncodeRequest(*ctx, *ctx->WriteQueue.Head).empty()) GTEST_SKIP() << "the request encoder builds no frames yet";
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Sending);
    ASSERT_EQ(ctx->Line.Outbox.size(), 1u);
    EXPECT_EQ(ctx->Line.Outbox[0], ctx->Scheduler.TxMessage.str());
    EXPECT_EQ(ctx->Framing.LastTxMessage, ctx->Scheduler.TxMessage);
    EXPECT_EQ(ctx->SentCount.load(), 1.0);
    EXPECT_TRUE(ctx->Scheduler.Outstanding);
    EXPECT_EQ(ctx->Scheduler.OutStation.load(), 2);
    EXPECT_EQ(ctx->Scheduler.OutKind.load(), 15);
    EXPECT_TRUE(Station(2).AwaitingAnswer);
    EXPECT_EQ(ctx->SinceTransmit.load(), 0.0);
}

}  // namespace
