// Receive framing over the worker's line: the prefix search, the header and body stages
// across calls, the check, the acceptance rule, the counters and the stored entries.
#include "protocol/framing.h"

#include <algorithm>

#include "protocol_fixture.h"

using namespace zk;
using namespace zktest;

namespace {

class Framing : public ProtocolTest {
protected:
    void Arrive(std::string_view bytes) {
        for (const char c : bytes) ctx.Line.Rx.push_back(static_cast<std::uint8_t>(c));
    }

    // Calls ReceiveDATA until the line is empty and the last call changed nothing; returns
    // the results of every call.
    std::vector<bool> Drain() {
        std::vector<bool> results;
        for (int guard = 0; guard < 2000; ++guard) {
            const std::size_t before = ctx.Line.Rx.size();
            const Str255 window = ctx.Framing.PrefixWindow, frame = ctx.Framing.RxFrame;
            results.push_back(ReceiveFrame(ctx));
            if (ctx.Line.Rx.size() == before && ctx.Framing.PrefixWindow == window && ctx.Framing.RxFrame == frame &&
                !results.back())
                break;
        }
        return results;
    }

    std::vector<std::string> Frames() const {
        std::vector<std::string> out;
        for (const ReceiveEntry& e : ctx.ReceiveQueue.Entries) out.push_back(Hex(e.Frame.view()));
        return out;
    }
};

}  // namespace

TEST(XorCheck, ComparesTheXorOfAllButTheLastByteWithTheLast) {
    EXPECT_TRUE(XorCheck(B({0x01, 0x03, 0x79, 0xAA, 0xD1})));
    EXPECT_FALSE(XorCheck(B({0x01, 0x03, 0x79, 0xAA, 0xD2})));
    EXPECT_TRUE(XorCheck(B({0x00})));
    EXPECT_FALSE(XorCheck(B({0x07})));
    EXPECT_TRUE(XorCheck(B({0x07, 0x07})));
    EXPECT_FALSE(XorCheck(""));
}

TEST_F(Framing, PrefixIsFoundOneBytePerCallThenTheHeaderAndTheBody) {
    ctx.Global.PREFIX.assign(B({0xFF, 0xFF}));
    Arrive(B({0x00, 0xFF, 0xFF, 0x05, 0x07}));
    for (int call = 1; call <= 3; ++call) {
        EXPECT_FALSE(ReceiveFrame(ctx)) << call;
        EXPECT_EQ(ctx.Framing.PrefixWindow == ctx.Global.PREFIX, call == 3) << call;
    }
    EXPECT_TRUE(ctx.Framing.RxFrame.empty());
    EXPECT_FALSE(ReceiveFrame(ctx));  // the fourth call reads 05 07 as the header
    EXPECT_EQ(Hex(ctx.Framing.RxFrame.view()), "05 07 ");
    EXPECT_EQ(ctx.Framing.ReceivedCount.load(), 1.0);
    EXPECT_TRUE(ctx.Line.Rx.empty());
}

TEST_F(Framing, AMessageWhoseFirstPrefixByteEndedAModemReplyStartsWithThatByte) {
    // The modem's reply to the answer command ended at the first FF of a station's report.
    ctx.Global.PREFIX.assign(B({0xFF, 0xFF}));
    ctx.Modem.TerminatorTaken = true;
    const std::string frame = B({0x01, 0x03, 0x79, 0xAA, 0xD1});
    Arrive(B({0xFF}) + frame);
    const std::vector<bool> results = Drain();
    EXPECT_EQ(std::count(results.begin(), results.end(), true), 1);
    EXPECT_EQ(Frames(), std::vector<std::string>{Hex(frame)});
    EXPECT_FALSE(ctx.Modem.TerminatorTaken);

    // Taken once only: the next message needs its whole prefix again.
    Arrive(B({0xFF}) + frame);
    Drain();
    EXPECT_EQ(Frames().size(), 1u);
}

TEST_F(Framing, WithoutPrefixTheFirstCallReadsTheHeader) {
    Arrive(B({0x01, 0x03}));
    EXPECT_FALSE(ReceiveFrame(ctx));
    EXPECT_EQ(Hex(ctx.Framing.RxFrame.view()), "01 03 ");
    EXPECT_EQ(ctx.Framing.ReceivedCount.load(), 1.0);
}

TEST_F(Framing, AFrameArrivingInPiecesIsStoredByTheCallThatCompletesIt) {
    ctx.Global.PREFIX.assign(B({0xFF, 0xFE}));
    ctx.Framing.LastTxMessage.assign("request");
    const std::string frame = B({0x01, 0x04, 0x42, 0x01, 0x0F, 0x49});
    const std::string wire = B({0xFF, 0xFE}) + frame + B({0x0D, 0x0A});
    int stored = 0;
    for (const char c : wire) {  // one byte per pass, as a slow line delivers them
        Arrive(std::string(1, c));
        stored += ReceiveFrame(ctx) ? 1 : 0;
        stored += ReceiveFrame(ctx) ? 1 : 0;
    }
    EXPECT_EQ(stored, 1);
    ASSERT_EQ(ctx.ReceiveQueue.Entries.size(), 1u);
    EXPECT_EQ(Hex(ctx.ReceiveQueue.Entries[0].Frame.view()), Hex(frame));
    EXPECT_EQ(ctx.ReceiveQueue.Entries[0].Request.str(), "request");
    EXPECT_TRUE(ctx.Framing.LastTxMessage.empty());
    EXPECT_EQ(ctx.Framing.AcceptedCount.load(), 1.0);
    EXPECT_EQ(ctx.Framing.ReceivedCount.load(), 1.0);
}

TEST_F(Framing, EachCallReadsTheLineAtMostOnce) {
    ctx.Global.PREFIX.assign(B({0xAA, 0x55, 0xAA}));
    Arrive(B({0xAA, 0x55, 0xAA}) + B({0x01, 0x03, 0x79, 0xAA, 0xD1}));
    const std::vector<std::size_t> left = {7, 6, 5, 3, 0};  // three prefix bytes, header, body
    for (std::size_t call = 0; call < left.size(); ++call) {
        const bool stored = ReceiveFrame(ctx);
        EXPECT_EQ(ctx.Line.Rx.size(), left[call]) << call;
        EXPECT_EQ(stored, call + 1 == left.size()) << call;
    }
}

TEST_F(Framing, TheBodyWaitsUntilAllOfItIsThere) {
    Arrive(B({0x01, 0x03, 0x79}));
    EXPECT_FALSE(ReceiveFrame(ctx));
    EXPECT_FALSE(ReceiveFrame(ctx));
    EXPECT_FALSE(ReceiveFrame(ctx));
    EXPECT_EQ(ctx.Line.Rx.size(), 1u);  // nothing taken while the body is incomplete
    Arrive(B({0xAA, 0xD1}));
    EXPECT_TRUE(ReceiveFrame(ctx));
}

struct AcceptCase {
    const char* name;
    std::string frame;
    bool stored;
    std::vector<std::string> log;  // the ReceiveDATA and insert lines after "Prefix"
};

TEST_F(Framing, CheckAndAcceptanceRule) {
    const std::vector<std::string> accepted = {"ReceiveDATA : Message", "ReceiveDATA : XOR OK", "ReceiveDATA : SaveIt",
                                               "insert REC : "};
    const std::vector<std::string> refused = {"ReceiveDATA : Message", "ReceiveDATA : XOR OK"};
    const std::vector<std::string> badCheck = {"ReceiveDATA : Message"};
    const std::vector<AcceptCase> cases = {
        {"answer to the driver", B({0x01, 0x03, 0x79, 0xAA, 0xD1}), true, accepted},
        {"answer with an upper-case routing item", WithCheck(B({0x01, 0x05, 'Y', 0x00, 0x00, 0x05})), true,
         accepted},
        {"request carried back", B({0x05, 0x03, 0x79, 0xAA, 0xD5}), false, refused},
        {"request with an upper-case routing item carried back", WithCheck(B({0x05, 0x04, 'Y', 0x01, 0x05})),
         false, refused},
        {"other layout from any station", B({0x09, 0x03, 0x42, 0xAA, 0xE2}), true, accepted},
        {"other layout, address 1", B({0x01, 0x03, 0x42, 0xAA, 0xEA}), true, accepted},
        {"bad check", B({0x01, 0x03, 0x79, 0xAA, 0xD2}), false, badCheck},
        {"L = 0, check passes", B({0x00, 0x00}), true, accepted},
        {"L = 0, check fails", B({0x05, 0x00}), false, badCheck},
        {"L = 1: the check byte only", B({0x07, 0x01, 0x06}), true, accepted},
    };
    for (const AcceptCase& c : cases) {
        SCOPED_TRACE(c.name);
        ctx.ReceiveQueue.Entries.clear();
        ClearLog();
        Arrive(c.frame);
        const std::vector<bool> results = Drain();
        EXPECT_EQ(std::count(results.begin(), results.end(), true), c.stored ? 1 : 0);
        EXPECT_EQ(Frames(), c.stored ? std::vector<std::string>{Hex(c.frame)} : std::vector<std::string>{});
        std::vector<std::string> expected = {"ReceiveDATA : Prefix"};
        expected.insert(expected.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(LogLines(), expected);
        EXPECT_TRUE(ctx.Framing.PrefixWindow.empty());
        EXPECT_TRUE(ctx.Framing.RxFrame.empty());
    }
}

TEST_F(Framing, CountersAndRestartAfterDroppedFrames) {
    ctx.Global.PREFIX.assign(B({0xFF}));
    ctx.Framing.LastTxMessage.assign("req");
    Arrive(B({0xFF, 0x01, 0x03, 0x79, 0xAA, 0xD2}));  // bad check
    Arrive(B({0x00, 0x13}));                          // noise between frames
    Arrive(B({0xFF, 0x05, 0x03, 0x79, 0xAA, 0xD5}));  // refused
    Arrive(B({0xFF, 0x01, 0x03, 0x79, 0xAA, 0xD1}));  // accepted
    Arrive(B({0xFF, 0x01, 0x03, 0x42, 0xAA, 0xEA}));  // accepted, second answer to the same request
    Drain();
    EXPECT_EQ(ctx.Framing.ReceivedCount.load(), 4.0);
    EXPECT_EQ(ctx.Framing.AcceptedCount.load(), 2.0);
    ASSERT_EQ(ctx.ReceiveQueue.Entries.size(), 2u);
    EXPECT_EQ(ctx.ReceiveQueue.Entries[0].Request.str(), "req");
    EXPECT_EQ(ctx.ReceiveQueue.Entries[1].Request.str(), "");
    EXPECT_EQ(Hex(ctx.ReceiveQueue.Entries[1].Frame.view()), "01 03 42 AA EA ");
}

TEST_F(Framing, AFrameLongerThanAShortStringIsDropped) {
    // L = 254 describes 256 bytes: the check byte would not fit.
    std::string frame = B({0x01, 254}) + std::string(253, '\x11');
    frame = WithCheck(frame);
    ASSERT_EQ(frame.size(), 256u);
    Arrive(frame);
    Arrive(B({0x01, 0x03, 0x79, 0xAA, 0xD1}));
    Drain();
    EXPECT_EQ(Frames(), std::vector<std::string>{"01 03 79 AA D1 "});

    // L = 253: 255 bytes, kept whole.
    ctx.ReceiveQueue.Entries.clear();
    frame = WithCheck(B({0x01, 253}) + std::string(252, '\x22'));
    Arrive(frame);
    Drain();
    ASSERT_EQ(ctx.ReceiveQueue.Entries.size(), 1u);
    EXPECT_EQ(ctx.ReceiveQueue.Entries[0].Frame.size(), 255u);
}

TEST_F(Framing, ALengthThatNeverArrivesWaitsUntilTheWorkTextsAreCleared) {
    Arrive(B({0x01, 0x40, 0x79}));
    Drain();
    EXPECT_EQ(ctx.Framing.RxFrame.size(), 2u);
    // The next transmission clears both work texts; the framing starts again.
    ctx.Line.Rx.clear();
    ctx.Framing.RxFrame.clear();
    ctx.Framing.PrefixWindow.clear();
    Arrive(B({0x01, 0x03, 0x79, 0xAA, 0xD1}));
    Drain();
    EXPECT_EQ(Frames(), std::vector<std::string>{"01 03 79 AA D1 "});
}

TEST_F(Framing, PrefixWindowNeverOutgrowsThePrefix) {
    ctx.Global.PREFIX.assign(B({0x10, 0x02}));
    Arrive(std::string(300, '\x10'));
    Drain();
    EXPECT_EQ(Hex(ctx.Framing.PrefixWindow.view()), "10 10 ");
    Arrive(B({0x02, 0x01, 0x03, 0x79, 0xAA, 0xD1}));
    Drain();
    EXPECT_EQ(Frames(), std::vector<std::string>{"01 03 79 AA D1 "});
}
