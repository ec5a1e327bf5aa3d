// The worker's line helpers over a real pseudo-terminal: taking received bytes, counting,
// reading a few, sending with the transmit state, purging, and the time of day.
#include "line/line.h"

#include <gtest/gtest.h>

#include <optional>

#include "host/records.h"
#include "line/serial.h"
#include "pty.h"

using namespace zk;
using zktest::Eventually;
using zktest::Pty;

namespace {

struct Line {
    Pty pty;
    TSerial port;
    LinePort line;
    std::atomic<TxState> txState{TxState::Choose};
    Line() {
        port.SetDeviceName(pty.name());
        port.SetDataBits(eDataBits::d8bit);
        port.SetActive(true);
        line.Serial = &port;
    }
    // Pumps until `n` bytes wait in Rx.
    bool PumpUntil(std::int32_t n) {
        return Eventually([&] {
            PumpLine(line);
            return RxCount(line) >= n;
        });
    }
};

}  // namespace

TEST(LineHelpers, ReceivedBytesAreTakenAndReadInOrder) {
    Line l;
    ASSERT_TRUE(l.port.Active());
    const std::string bytes = zktest::AllByteValues();
    l.pty.Send(bytes);
    ASSERT_TRUE(l.PumpUntil(static_cast<std::int32_t>(bytes.size())));
    EXPECT_EQ(RxCount(l.line), static_cast<std::int32_t>(bytes.size()));
    std::string got;
    Str255 chunk;
    while (RxCount(l.line) > 0) {
        ReadChars(l.line, chunk, 100);
        got += chunk.view();
    }
    EXPECT_EQ(got, bytes);
}

TEST(LineHelpers, ReadCharsTakesWhatThereIsAndStopsAt255) {
    Line l;
    l.pty.Send("A");
    ASSERT_TRUE(l.PumpUntil(1));
    Str255 text = "old";
    ReadChars(l.line, text, 2);
    EXPECT_EQ(text.view(), "A");
    ReadChars(l.line, text, 5);
    EXPECT_TRUE(text.empty());

    l.pty.Send(std::string(300, 'z'));
    ASSERT_TRUE(l.PumpUntil(300));
    ReadChars(l.line, text, 255);
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(RxCount(l.line), 45);
}

TEST(LineHelpers, SendTextSetsTheTransmitStateOnlyWhenGivenOne) {
    struct Case {
        TxState before;
        std::optional<TxState> next;
        TxState after;
    } cases[] = {{static_cast<TxState>(7), std::nullopt, static_cast<TxState>(7)},
                 {TxState::Choose, TxState::Sending, TxState::Sending},
                 {TxState::Sending, TxState::AckSent, TxState::AckSent},
                 {TxState::Pause, TxState::Choose, TxState::Choose}};
    for (const Case& c : cases) {
        Line l;
        l.txState = c.before;
        if (c.next) SendText(l.line, l.txState, "AT\r", *c.next);
        else SendText(l.line, "AT\r");
        EXPECT_EQ(l.txState.load(), c.after);  // set before anything is written
        EXPECT_EQ(TxCount(l.line), 3);
        FlushLine(l.line);
        EXPECT_EQ(l.pty.Receive(3), "AT\r");
    }
}

TEST(LineHelpers, TransmitDoneWaitsOnlyForARequestStillLeaving) {
    Line l;
    SendText(l.line, l.txState, "frame", TxState::Sending);
    EXPECT_FALSE(TransmitDone(l.line, l.txState));
    EXPECT_TRUE(TransmitDone(l.line, TxState::AckSent));
    EXPECT_TRUE(TransmitDone(l.line, TxState::Choose));
    FlushLine(l.line);
    EXPECT_TRUE(Eventually([&] {
        PumpLine(l.line);
        return TransmitDone(l.line, l.txState);
    }));
    EXPECT_EQ(l.pty.Receive(5), "frame");
}

TEST(LineHelpers, PurgeKeepsReceivedBytesAndTextsQueuedAfterIt) {
    Line l;
    l.pty.Send("kept");
    ASSERT_TRUE(l.PumpUntil(4));
    SendText(l.line, "one");
    PurgeLine(l.line);
    SendText(l.line, "two");
    FlushLine(l.line);
    EXPECT_EQ(l.pty.Receive(6), "onetwo");
    PumpLine(l.line);
    Str255 text;
    ReadChars(l.line, text, 10);
    EXPECT_EQ(text.view(), "kept");
}

TEST(LineHelpers, AReopenedPortStartsWithNothingReceivedAndAClosedOneCountsNothing) {
    Line l;
    l.pty.Send("stale");
    ASSERT_TRUE(l.PumpUntil(5));
    l.port.SetActive(false);
    PumpLine(l.line);
    EXPECT_FALSE(l.line.Active);
    EXPECT_EQ(TxCount(l.line), 0);
    l.port.SetActive(true);
    PumpLine(l.line);
    EXPECT_TRUE(l.line.Active);
    EXPECT_EQ(RxCount(l.line), 0);
}

TEST(LineClock, CentisecondsOfDayFromTheInstanceClock) {
    struct Case {
        int h, m, s, ms;
        std::int32_t cs;
    } cases[] = {{0, 0, 0, 0, 0}, {23, 59, 59, 999, 8639999}, {12, 30, 15, 129, 4501512}, {0, 0, 0, 9, 0}};
    DriverContext ctx;
    for (const Case& c : cases) {
        ctx.Clock.now = [&] {
            LocalTime t;
            t.hour = c.h;
            t.minute = c.m;
            t.second = c.s;
            t.millisecond = c.ms;
            return t;
        };
        EXPECT_EQ(CentisecondsOfDay(ctx), c.cs);
    }
}
