// The modem dialogue over a real pseudo-terminal with the instance's clock stepped by the test:
// command texts and their pauses as the far end sees them, replies as the collector completes
// them, the command queue and the modem's timers.
#include "line/modem.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/records.h"
#include "line/serial.h"
#include "pty.h"

using namespace zk;
using zktest::Eventually;
using zktest::Pty;

namespace {

LocalTime TimeOfDay(std::int64_t ms) {
    LocalTime t;
    t.hour = static_cast<int>(ms / 3600000 % 24);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

// One instance's line and modem record, with a clock that moves only when the test says.
struct Modem {
    Pty pty;
    TSerial port;
    DriverContext ctx;
    std::int64_t now = 10 * 3600000;  // 10:00:00.000
    struct Arrival {
        std::int64_t at;
        std::string text;
    };
    std::vector<Arrival> arrivals;  // what reached the far end, and when

    Modem() {
        port.SetDeviceName(pty.name());
        port.SetDataBits(eDataBits::d8bit);
        port.SetActive(true);
        ctx.Line.Serial = &port;
        ctx.Clock.now = [this] { return TimeOfDay(now); };
        ctx.Clock.monotonicMs = [this] { return now; };
        ModemReset(ctx.Modem);
        ctx.Modem.ModemLastTick = TickHundredths(ctx);
    }
    // One driver pass `stepMs` after the last: take what came in, tick, send, write.
    void Pass(std::int64_t stepMs) {
        now += stepMs;
        PumpLine(ctx.Line);
        ModemTick(ctx.Modem, TickHundredths(ctx));
        SendPending(ctx.Modem, ctx.Line);
        std::size_t queued = 0;
        for (const auto& text : ctx.Line.Outbox) queued += text.size();
        FlushLine(ctx.Line);
        if (queued) arrivals.push_back({now, pty.Receive(queued)});
    }
    // Runs passes until the pending text is gone (with a bound).
    void SendAll(std::int64_t stepMs) {
        for (int i = 0; i < 10000 && !ctx.Modem.PendingText.empty(); ++i) Pass(stepMs);
    }
    // Waits until `n` received bytes are in the line's buffer.
    bool Received(std::int32_t n) {
        return Eventually([&] {
            PumpLine(ctx.Line);
            return RxCount(ctx.Line) >= n;
        });
    }
    // Collects with the clock stepping `stepMs` per call, at most `calls` times.
    bool Collect(std::string_view terminator, int calls, std::int64_t stepMs = 10) {
        for (int i = 0; i < calls; ++i) {
            now += stepMs;
            ModemTick(ctx.Modem, TickHundredths(ctx));
            if (CollectReply(ctx.Modem, ctx.Line, terminator)) return true;
        }
        return false;
    }
};

}  // namespace

TEST(ModemSend, ADialGoesOutAsOneWriteOfCommandNumberAndSuffix) {
    Modem m;
    QueueDial(m.ctx.Modem, "123");
    ASSERT_EQ(m.ctx.Modem.CommandQueue.size(), 1u);
    const ModemCommand& c = m.ctx.Modem.CommandQueue.front();
    EXPECT_EQ(c.Kind, ModemDial);
    m.ctx.Modem.PendingText = ModemCommandText(c);
    m.ctx.Scheduler.TxState = zk::TxState::Sending;
    m.Pass(10);
    ASSERT_EQ(m.arrivals.size(), 1u);
    EXPECT_EQ(m.arrivals[0].text, "ATDP123\r");
    EXPECT_TRUE(m.ctx.Modem.PendingText.empty());
    EXPECT_EQ(m.ctx.Scheduler.TxState.load(), zk::TxState::Sending);  // modem texts leave the transmit state alone
}

TEST(ModemSend, EachPauseLastsAtLeastASecondOnTheInstanceClock) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
        std::vector<std::int64_t> minGapMs;  // from the previous piece (the first: from the start)
        std::int64_t minTailMs;              // from the last piece until the text is done
    } cases[] = {
        {"A~B", {"A", "B"}, {0, 1000}, 0},
        {"~~~+++~~~ATH0\r~~", {"+++", "ATH0\r"}, {3000, 3000}, 2000},
        {"ATZ\r", {"ATZ\r"}, {0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (const std::int64_t step : {10, 100, 250}) {
            Modem m;
            const std::int64_t start = m.now;
            m.ctx.Modem.PendingText.assign(c.text);
            m.ctx.Modem.ReplyText = "stale";
            m.ctx.Modem.TerminatorTaken = true;
            m.SendAll(step);
            ASSERT_EQ(m.arrivals.size(), c.pieces.size());
            std::int64_t previous = start;
            for (std::size_t i = 0; i < c.pieces.size(); ++i) {
                EXPECT_EQ(m.arrivals[i].text, c.pieces[i]);
                EXPECT_GE(m.arrivals[i].at - previous, c.minGapMs[i]) << "piece " << i << " step " << step;
                // Whole passes only: never much more than the pauses plus a pass per "~".
                EXPECT_LE(m.arrivals[i].at - previous, c.minGapMs[i] + (c.minGapMs[i] / 1000 + 1) * 2 * step);
                previous = m.arrivals[i].at;
            }
            EXPECT_GE(m.now - previous, c.minTailMs);
            EXPECT_TRUE(m.ctx.Modem.PendingText.empty());
            EXPECT_FALSE(m.ctx.Modem.Pausing);
            EXPECT_TRUE(m.ctx.Modem.ReplyText.empty());
            EXPECT_FALSE(m.ctx.Modem.TerminatorTaken);
        }
    }
}

TEST(ModemReply, TheTerminatorEndsAReplyThatHasBegun) {
    Modem m;
    m.pty.Send("\r\nOK\r\n$AB");
    ASSERT_TRUE(m.Received(9));
    EXPECT_TRUE(m.Collect("$x", 20));
    EXPECT_EQ(m.ctx.Modem.ReplyText.view(), "\r\nOK\r\n");
    EXPECT_TRUE(m.ctx.Modem.TerminatorTaken);
    EXPECT_EQ(RxCount(m.ctx.Line), 2);  // the frame behind it stays for the receive framing
    // A character after the complete reply is appended to it and opens it again.
    EXPECT_FALSE(m.Collect("$x", 1));
    EXPECT_EQ(m.ctx.Modem.ReplyText.view(), "\r\nOK\r\nA");
}

TEST(ModemReply, ATerminatorBeforeAnyReplyIsDroppedAndSilenceCompletesTheReply) {
    Modem m;
    m.pty.Send("$OK");
    ASSERT_TRUE(m.Received(3));
    EXPECT_FALSE(m.Collect("$", 3));
    EXPECT_EQ(m.ctx.Modem.ReplyText.view(), "OK");
    EXPECT_FALSE(m.ctx.Modem.TerminatorTaken);
    EXPECT_FALSE(m.Collect("$", 1, 3000));  // 3 s of silence is not yet enough
    EXPECT_TRUE(m.Collect("$", 1, 10));
    EXPECT_TRUE(m.Collect("$", 1, 10));  // and it stays complete
    EXPECT_EQ(m.ctx.Modem.ReplyText.view(), "OK");
}

TEST(ModemReply, RingingIsThrownAwayAndCollectionGoesOn) {
    Modem m;
    m.pty.Send("\r\nRINGING\r\n");
    ASSERT_TRUE(m.Received(11));
    EXPECT_FALSE(m.Collect("$", 11));
    EXPECT_FALSE(m.Collect("$", 1, 3010));
    EXPECT_TRUE(m.ctx.Modem.ReplyText.empty());
    m.pty.Send("CONNECT 9600\r\n");
    ASSERT_TRUE(m.Received(14));
    EXPECT_FALSE(m.Collect("$", 14));
    EXPECT_TRUE(m.Collect("$", 1, 3010));
    EXPECT_EQ(m.ctx.Modem.ReplyText.view(), "CONNECT 9600\r\n");
}

TEST(ModemReply, WithoutATerminatorEveryCharacterBelongsToTheReply) {
    Modem m;
    m.pty.Send("A$");
    ASSERT_TRUE(m.Received(2));
    EXPECT_FALSE(m.Collect("", 2));
    EXPECT_EQ(m.ctx.Modem.ReplyText.view(), "A$");
}

TEST(ModemText, ContainsText) {
    struct Case {
        std::string text, part;
        bool atStart, expected;
    } cases[] = {
        {"\r\nOK\r\n", "OK", false, true},  {"\r\nOK\r\n", "OK", true, false}, {"OK\r\n", "OK", true, true},
        {"CONNECT 9600", "CONNECT", true, true}, {"NO CARRIER", "CONNECT", false, false}, {"", "OK", false, false},
        {"abc", "", true, true},
    };
    for (const Case& c : cases) EXPECT_EQ(ContainsText(c.text, c.part, c.atStart), c.expected) << c.text << "/" << c.part;
}

TEST(ModemQueue, CommandsAreCopiedQueuedAndDropped) {
    ModemRecord m;
    ModemReset(m);
    QueueModemCommand(m, ModemInit, m.InitBlock, "", "");
    QueueDial(m, "0601234567");
    m.DialBlock.Command = "ATDT";  // a later change does not touch the queued copy
    QueueModemCommand(m, ModemHangUp, m.HangupBlock, "", "");
    ASSERT_EQ(m.CommandQueue.size(), 3u);
    EXPECT_EQ(ModemCommandText(m.CommandQueue[0]).view(), "ATX3\r");
    EXPECT_EQ(ModemCommandText(m.CommandQueue[1]).view(), "ATDP0601234567\r");
    EXPECT_EQ(m.CommandQueue[1].Block.ExpectedReply.view(), "CONNECT");
    EXPECT_EQ(m.CommandQueue[1].Block.Limit, 60.0);
    DropModemCommand(m);
    EXPECT_EQ(m.CommandQueue.front().Kind, ModemDial);
    ClearModemCommands(m);
    EXPECT_TRUE(m.CommandQueue.empty());
    DropModemCommand(m);  // nothing to drop

    ModemCommand longOne;
    longOne.Block.Command.assign(std::string(200, 'A'));
    longOne.Number.assign(std::string(100, '1'));
    longOne.Suffix = "\r";
    EXPECT_EQ(ModemCommandText(longOne).size(), 255u);
}

TEST(ModemTimers, TheTickAdvancesTimersQueueHeadConnectionAndRings) {
    DriverContext ctx;
    std::int64_t now = 10 * 3600000;
    ctx.Clock.now = [&] { return TimeOfDay(now); };
    ctx.Clock.monotonicMs = [&] { return now; };
    ModemRecord& m = ctx.Modem;
    ModemReset(m);
    m.ModemLastTick = TickHundredths(ctx);
    QueueDial(m, "1");
    m.LineConnected = true;
    m.RingCount = 3;

    now += 500;
    ModemTick(ctx.Modem, TickHundredths(ctx));
    EXPECT_EQ(m.ModemMsTimers[0], 0.0);  // past 100: back to 0
    EXPECT_EQ(m.ModemMsTimers[4], 500.0);
    EXPECT_EQ(m.ModemMsTimers[7], 500.0);
    now += 600;
    ModemTick(ctx.Modem, TickHundredths(ctx));
    EXPECT_EQ(m.ModemMsTimers[4], 0.0);  // past 1000: back to 0
    EXPECT_EQ(m.ModemMsTimers[7], 1100.0);
    EXPECT_DOUBLE_EQ(m.CommandQueue.front().Block.Elapsed, 1.1);
    EXPECT_DOUBLE_EQ(m.ConnectedTime, 1.1);
    EXPECT_DOUBLE_EQ(m.TotalConnectedTime, 1.1);
    EXPECT_EQ(m.RingCount, 3);

    now += 9000;  // 10.1 s since the ring counting started: past RingTimeout
    ModemTick(ctx.Modem, TickHundredths(ctx));
    EXPECT_EQ(m.RingCount, 0);
    now += 5000;
    ModemTick(ctx.Modem, TickHundredths(ctx));
    EXPECT_DOUBLE_EQ(m.SinceRing, 10.1);  // no longer counted without rings

    // A reading that runs back (a clock replaced under the instance) adds nothing.
    const double before = m.ModemMsTimers[7];
    now -= 20000;
    ModemTick(ctx.Modem, TickHundredths(ctx));
    EXPECT_EQ(m.ModemMsTimers[7], before);
    EXPECT_EQ(m.ModemLastTick, now / 10);
}

TEST(ModemReply, TheEchoOfTheCommandIsNotPartOfTheReply) {
    struct Case {
        const char* name;
        std::string written;   // the command text, with its pauses
        std::string received;  // what the modem sends after it
        bool complete;         // after 3 s of silence
        std::string reply;
    } cases[] = {
        {"full echo, then the reply", "ATX3\r", "ATX3\r\r\nOK\r\n", true, "\r\nOK\r\n"},
        {"no echo", "ATX3\r", "\r\nOK\r\n", true, "\r\nOK\r\n"},
        {"only the echo", "ATDP102\r", "ATDP102\r", false, ""},
        {"only part of the echo", "ATDP102\r", "ATDP1", false, ""},
        {"echo and connect", "ATDP102\r", "ATDP102\r\r\nCONNECT 9600\r\n", true, "\r\nCONNECT 9600\r\n"},
        {"echo without its carriage return", "ATDP102\r", "ATDP102\r\nNO CARRIER\r\n", true, "\nNO CARRIER\r\n"},
        {"echo from the AT on", "~+++~ATH0\r", "ATH0\r\r\nOK\r\n", true, "\r\nOK\r\n"},
        {"echo of the whole text", "~+++~ATH0\r", "+++ATH0\r\r\nOK\r\n", true, "\r\nOK\r\n"},
        {"a reply that differs at once", "ATA\r", "\r\nNO CARRIER\r\nATA\r", true, "\r\nNO CARRIER\r\nATA\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Modem m;
        m.ctx.Modem.PendingText.assign(c.written);
        m.SendAll(100);
        m.pty.Send(c.received);
        ASSERT_TRUE(m.Received(static_cast<std::int32_t>(c.received.size())));
        EXPECT_FALSE(m.Collect("$", static_cast<int>(c.received.size())));
        EXPECT_EQ(m.Collect("$", 1, 3010), c.complete);
        EXPECT_EQ(m.ctx.Modem.ReplyText.view(), c.reply);
    }
}

TEST(ModemReply, AnEchoedReplyStillEndsAtTheTerminator) {
    Modem m;
    m.ctx.Modem.PendingText.assign("ATDP5\r");
    m.SendAll(10);
    m.pty.Send("ATDP5\r\r\nCONNECT\r\n$AB");
    ASSERT_TRUE(m.Received(19));
    EXPECT_TRUE(m.Collect("$", 19));
    EXPECT_EQ(m.ctx.Modem.ReplyText.view(), "\r\nCONNECT\r\n");
    EXPECT_EQ(RxCount(m.ctx.Line), 2);
    // The next command's echo is its own: the earlier text is forgotten.
    DropModemCommand(m.ctx.Modem);
    EXPECT_FALSE(m.ctx.Modem.EchoOpen);
}
