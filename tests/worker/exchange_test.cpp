// Whole exchanges on the worker's line, step by step: a request goes out, leaves the port, and
// what comes back (the answer, another station's frame, nothing) decides what becomes of it.
// Requests the encoder refuses, the hold after an answered call and ring requests too.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "worker/decoder.h"
#include "worker/scheduler.h"
#include "worker_fixture.h"

using namespace zk;
using zktest::Bytes;

namespace {

class Exchange : public zktest::WorkerFixture {
protected:
    void SetUp() override {
        DefineStations(2);
        Station(1).Address = 5;
        Station(2).Address = 6;
        ctx->Global.ADDRESS = 1;
        ctx->Global.PREFIX.clear();
        ctx->Global.SUFFIX.clear();
        ctx->Global.ANSWER_TIME = 1.0;
        ctx->Global.SILENCE_WAIT = 20;
        ctx->Modem.LineConnected = true;
        ctx->Line.Active = true;
    }

    // Scheduler steps, each followed by the decoding step of the same pass; what is written
    // leaves the port at once.
    void Steps(int n) {
        for (int i = 0; i < n; ++i) {
            ScheduleStep(*rec);
            ExtractDATA(*ctx);
            for (const auto& text : ctx->Line.Outbox) sent.push_back(text);
            ctx->Line.Outbox.clear();
        }
    }

    // A frame with a routing item from station address `sender` to the driver.
    static std::string Routed(int sender, const std::string& items, char letter = 'y') {
        std::string frame = Bytes({1, static_cast<int>(items.size() + 5), letter, sender, 1, sender}) + items;
        std::uint8_t x = 0;
        for (const char c : frame) x ^= static_cast<std::uint8_t>(c);
        frame.push_back(static_cast<char>(x));
        return frame;
    }
    void Feed(const std::string& frame) { ctx->Line.Rx.insert(ctx->Line.Rx.end(), frame.begin(), frame.end()); }

    // A QQ write of station `n` (one item and its value).
    void QueueWrite(int n) {
        AppendRequest(ctx->WriteQueue, static_cast<std::uint8_t>(n), ReqChannelWrite, 0,
                      Bytes({0x01, 0x02, 0x03, 0x00, 0x00, 0x80, 0x41}), nullptr);
    }

    std::vector<std::string> sent;
};

TEST_F(Exchange, AFrameFromAnotherStationAnswersNothingAndTheRequestRunsIntoItsTimeOut) {
    QueueWrite(1);
    Steps(2);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Receiving);
    Feed(Routed(6, Bytes({'B', 0x01, 0xFF})));  // station 6 in place of station 5
    Steps(6);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Receiving);
    EXPECT_TRUE(ctx->Scheduler.Outstanding);
    EXPECT_TRUE(Station(1).AwaitingAnswer);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);
    EXPECT_FALSE(Station(2).BinaryIn[1]);
    EXPECT_EQ(ctx->ErrorTotal.load(), 1.0);

    // The answer time runs out as after a spoilt answer: counted, and the write goes again.
    ctx->SinceTransmit = 1.5;
    Steps(3);
    EXPECT_EQ(ctx->ErrorTotal.load(), 2.0);
    EXPECT_EQ(Station(1).TimeoutCount, 1u);
    EXPECT_EQ(Station(1).RetryCount, 1);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], sent[0]);

    // Its own answer settles it.
    Feed(Routed(5, "QQ"));
    Steps(8);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 0u);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Pause);  // the pause after an answer
}

TEST_F(Exchange, AReportOfAnotherStationIsAcknowledgedAndTheRequestWaitsOnForItsAnswer) {
    QueueWrite(1);
    Steps(2);
    ASSERT_EQ(sent.size(), 1u);
    Feed(Routed(6, "H", 'Y'));
    for (int i = 0; i < 8 && ctx->Scheduler.TxState.load() != zk::TxState::Pause; ++i) Steps(1);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Pause);
    EXPECT_TRUE(Station(2).ActiveReport);
    EXPECT_TRUE(ctx->Scheduler.Outstanding);
    EXPECT_TRUE(Station(1).AwaitingAnswer);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);
    EXPECT_EQ(ctx->ErrorTotal.load(), 0.0);

    ctx->Timers.Silence = 21.0;
    Steps(3);  // the acknowledgement, then back to waiting for the answer
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1][2], 'y');  // the acknowledgement goes back to station 6
    EXPECT_EQ(static_cast<std::uint8_t>(sent[1][0]), 6);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Receiving);
    EXPECT_TRUE(Station(1).AwaitingAnswer);

    // The station took the request: its answer settles it, and it is not sent a second time.
    Feed(Routed(5, "QQ"));
    Steps(8);
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 0u);
    EXPECT_FALSE(Station(1).AwaitingAnswer);
    EXPECT_EQ(Station(1).RetryCount, 0);
    EXPECT_EQ(Station(1).TimeoutCount, 0u);
}

TEST_F(Exchange, AnAnswerLostAfterTheAcknowledgementOfAnotherStationIsATimeOut) {
    QueueWrite(1);
    Steps(2);
    ASSERT_EQ(sent.size(), 1u);
    const std::string request = sent[0];
    Feed(Routed(6, "H", 'Y'));
    for (int i = 0; i < 8 && ctx->Scheduler.TxState.load() != zk::TxState::Pause; ++i) Steps(1);
    ctx->Timers.Silence = 21.0;
    Steps(3);
    ASSERT_EQ(sent.size(), 2u);
    ctx->SinceTransmit = 1.5;  // the answer time of the request runs out
    Steps(3);
    EXPECT_EQ(Station(1).TimeoutCount, 1u);
    EXPECT_EQ(ctx->ErrorTotal.load(), 1.0);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2], request);  // the answer was lost: the request goes again
}

TEST_F(Exchange, AnAnswerOfAStationMarkedUnreachableSettlesItsRequestOnce) {
    // A station with a telephone number, marked unreachable after an earlier give-up.
    Station(1).PhoneNumber.assign("123");
    Station(1).Unreachable = true;
    ctx->Global.NUM_MORVEL_ERROR = 3;
    QueueWrite(1);
    Steps(2);
    ASSERT_EQ(sent.size(), 1u);
    Feed(Routed(5, "QQ"));
    Steps(8);
    ctx->Timers.Silence = 21.0;
    Steps(8);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 0u);
    EXPECT_FALSE(Station(1).Unreachable);  // the answer woke it
    EXPECT_FALSE(Station(1).AwaitingAnswer);
}

TEST_F(Exchange, ASendThatNeverFinishesIsSettledLikeALostAnswer) {
    QueueWrite(1);
    QueueWrite(2);
    Steps(1);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Sending);
    ctx->Line.TxWaiting = 12;  // the port does not get the text out
    Steps(1);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Sending);
    EXPECT_TRUE(Station(1).AwaitingAnswer);

    ctx->SinceTransmit = 1.5;
    Steps(1);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::TimedOut);
    EXPECT_FALSE(Station(1).AwaitingAnswer);
    EXPECT_EQ(ctx->ErrorTotal.load(), 1.0);
    EXPECT_EQ(Station(1).RetryCount, 1);
    EXPECT_EQ(ctx->WriteQueue.Head->Station, 2);  // rotated behind the other write
    Steps(1);
    EXPECT_EQ(Station(1).TimeoutCount, 1u);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);
}

TEST_F(Exchange, ARequestTheEncoderRefusesIsDroppedAndTheNextGoesOut) {
    struct Case {
        const char* name;
        bool write;
        int station;
        std::int32_t kind;
        std::uint16_t word;
        std::string data;
        const char* shown;
    };
    const Case cases[] = {
        {"memory output outside 1..100", true, 1, 5, 101, "", "ST1 - požadavek nelze sestavit, zrušen (druh 5)"},
        {"memory inputs the station does not have", false, 1, 6, 1, "",
         "ST1 - požadavek nelze sestavit, zrušen (druh 6)"},
        {"a station not defined", true, 7, ReqChannelWrite, 0, Bytes({1, 2, 3, 0, 0, 0, 0}),
         "Stanice č. 7 - požadavek nelze sestavit, zrušen (druh 15)"},
        {"a frame over 255 bytes", false, 1, ReqChannelRead, 0, std::string(249, '\x01'),
         "ST1 - požadavek nelze sestavit, zrušen (druh 16)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmptyQueue(ctx->WriteQueue);
        EmptyQueue(ctx->ReadQueue);
        sent.clear();
        TakeEvents();
        ctx->Scheduler.TxState = zk::TxState::Choose;
        Station(1).NumMemoryOut = 4;
        const std::uint32_t errors = Station(1).ErrorReportCount;
        AppendRequest(c.write ? ctx->WriteQueue : ctx->ReadQueue, static_cast<std::uint8_t>(c.station), c.kind,
                      c.word, c.data, nullptr);
        QueueWrite(2);
        if (!c.write) {  // the write would go first: let the read be the one chosen
            EmptyQueue(ctx->WriteQueue);
            AppendRequest(ctx->ReadQueue, 2, ReqChannelRead, 0, Bytes({1, 2, 3}), nullptr);
        }
        for (int i = 0; i < 6 && sent.empty(); ++i) Steps(1);
        const auto events = TakeEvents();
        EXPECT_NE(std::find(events.begin(), events.end(), c.shown), events.end());
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(ctx->Scheduler.OutStation.load(), 2);
        if (c.station == 1) {
            EXPECT_EQ(Station(1).ErrorReportCount, errors + 1);
        }
        EXPECT_EQ(CountRequests(c.write ? ctx->WriteQueue : ctx->ReadQueue), 1u);  // only station 2's
    }
}

TEST_F(Exchange, AFrameWhilePollingIsHeldSettlesNoRequest) {
    // A write went out and was answered; the hold after an answered call begins in the pause
    // and keeps the choice of that write while nothing is sent.
    QueueWrite(1);
    Steps(2);
    Feed(Routed(5, "QQ"));
    Steps(8);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Pause);
    ASSERT_EQ(CountRequests(ctx->WriteQueue), 0u);
    ctx->Scheduler.HoldPolling = true;
    QueueWrite(1);
    ctx->Timers.Silence = 21.0;
    Steps(2);
    ASSERT_TRUE(ctx->Scheduler.WriteChosen);
    Feed(Routed(5, "QQ"));
    Steps(12);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);
    EXPECT_EQ(Station(1).RequestCount, 1u);
    EXPECT_EQ(Station(1).RetryCount, 0);
    EXPECT_EQ(ctx->Framing.AcceptedCount.load(), 2.0);
}

TEST_F(Exchange, ARingRequestIsNotedByItsRingPositionAndItsTimeOutNamesTheRingStation) {
    ctx->Global.PrstynekRun = true;
    Station(2).NumBinarIn = 16;
    ctx->Scheduler.RingStation = 2;
    ctx->Scheduler.RingBlock = 1;
    Steps(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(ctx->Scheduler.OutStation.load(), 2);
    EXPECT_EQ(ctx->Scheduler.OutKind.load(), 1);
    EXPECT_EQ(Station(2).RequestCount, 1u);
    Steps(1);
    ctx->SinceTransmit = 1.5;
    msOfDay = 11 * 3600000;
    Steps(2);
    const auto events = TakeEvents();
    EXPECT_NE(std::find(events.begin(), events.end(), "ST2 - překročení času (14.3.2024 11:00:00)"), events.end());
    EXPECT_EQ(Station(2).TimeoutCount, 1u);
}

}  // namespace
