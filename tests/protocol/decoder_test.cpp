// The response decoder: what each answer item does to the station's data image, the event
// text, the acknowledgements, the QQ answers against their stored requests and the sample
// blocks of a memory-block read.
#include "worker/decoder.h"

#include <bit>
#include <cstring>

#include "base/texts.h"
#include "protocol/encoder.h"
#include "protocol/framing.h"
#include "protocol_fixture.h"

using namespace zk;
using namespace zktest;

namespace {

class Decoder : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        Station(1, 1, "ST1");
        Station(2, 5, "ST5");
    }
    StationRecord& st1() { return *ctx.Stations[1]; }
    StationRecord& st5() { return *ctx.Stations[2]; }

    // A frame without routing item from station `address` with the given items.
    static std::string Plain(std::uint8_t address, const std::string& items) {
        return WithCheck(B({address, static_cast<int>(items.size() + 1)}) + items);
    }
    // A frame with a routing item from station `sender` to `target`, then the items.
    static std::string Routed(std::uint8_t target, std::uint8_t sender, const std::string& items, char letter = 'y') {
        const std::string head = std::string(1, letter) + B({0x00, 0x00, sender});
        return WithCheck(B({target, static_cast<int>(head.size() + items.size() + 1)}) + head + items);
    }

    bool Decode(const std::string& frame, std::string_view request = {}) { return DecodeMess(ctx, frame, request); }

    // The event text after the name part.
    std::string Labels(const StationRecord& s) const {
        const std::string head = std::string(60, ' ') + "<<<-- " + s.Name.str() + " - ";
        const std::string text = ctx.PendingEventText.str();
        if (text.rfind(head, 0) != 0) return "<no head: " + text + ">";
        return text.substr(head.size());
    }

    static std::string Word(unsigned w) { return B({static_cast<int>(w >> 8), static_cast<int>(w & 0xFF)}); }
};

std::string Cp(std::string_view s) { return std::string(s); }

}  // namespace

TEST_F(Decoder, BinaryInputsOfTheDocumentedFrame) {
    st1().BinaryIn[6] = true;
    EXPECT_TRUE(Decode(B({0x01, 0x04, 0x42, 0x01, 0x0F, 0x49})));
    for (int n = 1; n <= 8; ++n) EXPECT_EQ(st1().BinaryIn[static_cast<std::size_t>(n)], n <= 4) << n;
    EXPECT_TRUE(st1().BiFresh);
    EXPECT_EQ(Labels(st1()), "BI ");
    EXPECT_FALSE(ctx.Scheduler.AckPending);
}

TEST_F(Decoder, FramesFromUnknownStationsOrForOthersAreIgnored) {
    ctx.ReceiveQueue.Entries.clear();
    InsertReceived(ctx.ReceiveQueue, B({0x07, 0x04, 0x42, 0x01, 0x0F, 0x4F}), "");
    ClearLog();
    ExtractDATA(ctx);
    EXPECT_TRUE(ctx.ReceiveQueue.Entries.empty());
    EXPECT_EQ(LogLines(), std::vector<std::string>{"ExtractDATA : DecodeMess = 0"});
    EXPECT_TRUE(ctx.PendingEventText.empty());

    EXPECT_FALSE(Decode(Routed(2, 5, B({'B', 0x01, 0xFF}))));  // for another address
    EXPECT_FALSE(Decode(Routed(1, 9, B({'B', 0x01, 0xFF}))));  // from nobody known
    EXPECT_FALSE(Decode(B({0x01, 0x02, 'y', 0x00})));          // routing item cut short
    EXPECT_FALSE(Decode(B({0x01})));
    EXPECT_FALSE(Decode(""));
    EXPECT_FALSE(st5().BinaryIn[1]);
    EXPECT_TRUE(Decode(Routed(1, 5, B({'B', 0x01, 0xFF}))));
    EXPECT_TRUE(st5().BinaryIn[1]);
}

TEST_F(Decoder, ExtractDataDecodesOneEntryPerCall) {
    InsertReceived(ctx.ReceiveQueue, Plain(1, B({'B', 0x01, 0x01})), "");
    InsertReceived(ctx.ReceiveQueue, Plain(5, B({'B', 0x01, 0x01})), "");
    ExtractDATA(ctx);
    EXPECT_TRUE(st1().BinaryIn[1]);
    EXPECT_FALSE(st5().BinaryIn[1]);
    EXPECT_EQ(ctx.ReceiveQueue.Entries.size(), 1u);
    ExtractDATA(ctx);
    EXPECT_TRUE(st5().BinaryIn[1]);
    ExtractDATA(ctx);  // empty: nothing
    const std::vector<std::string> log = LogLines();
    EXPECT_EQ(std::count(log.begin(), log.end(), "ExtractDATA : DecodeMess = 1"), 2);
}

TEST_F(Decoder, AnyAnswerRefreshesTheStationAndStartsTheEventText) {
    StationRecord& s = st1();
    s.SleepLeft = 30.0;
    s.ErrorCount = 7;
    s.ElapsedTime = 12.0;
    s.Unreachable = true;
    ctx.Timers.Answer = 500.0;
    EXPECT_TRUE(Decode(Plain(1, B({'L', 0x00}))));
    EXPECT_EQ(s.SleepLeft, 0.0);
    EXPECT_EQ(s.ErrorCount, 0);
    EXPECT_EQ(s.ElapsedTime, 0.0);
    EXPECT_FALSE(s.Unreachable);
    EXPECT_EQ(ctx.Timers.Answer, 0.0);
    EXPECT_EQ(Labels(s), "");

    // A long name: the text up to the name is cut to 146 characters, then " - ".
    s.Name.assign(std::string(80, 'N'));
    EXPECT_TRUE(Decode(Plain(1, B({'L', 0x00}))));
    EXPECT_EQ(ctx.PendingEventText.str(), std::string(60, ' ') + "<<<-- " + std::string(80, 'N') + " - ");
    EXPECT_EQ(ctx.PendingEventText.size(), 149u);
}

TEST_F(Decoder, AnalogItemScalesRawWordsWithinTheirRange) {
    StationRecord& s = st1();
    for (int n = 1; n <= 8; ++n) s.AnalogLimits[static_cast<std::size_t>(n)] = AnalogLimit{100.0, 0.0, 0.0, 0};
    s.AnalogLimits[3].Offset = -20.0;
    s.AnalogLimits[4] = AnalogLimit{50.0, 10.0, 0.0, 0};
    const std::string words = Word(0x8FFF) + Word(0x0100) + Word(0x0010) + Word(0x807F) + Word(0x00FF) +
                              Word(0x0000) + Word(0x8000) + Word(0x0033);
    EXPECT_TRUE(Decode(Plain(1, B({'A', 0x01}) + words)));
    EXPECT_DOUBLE_EQ(s.Analog[1], 100.0);  // range 4095, raw 4095
    EXPECT_DOUBLE_EQ(s.Analog[2], 100.0);  // 256 limited to 255: the upper limit
    EXPECT_DOUBLE_EQ(s.Analog[3], 0.0);    // 16 - 20 limited to 0: the lower limit
    EXPECT_DOUBLE_EQ(s.Analog[4], 10.0 + 40.0 * 127 / 4095);
    EXPECT_DOUBLE_EQ(s.Analog[5], 100.0);
    EXPECT_DOUBLE_EQ(s.Analog[6], 0.0);
    EXPECT_DOUBLE_EQ(s.Analog[8], 100.0 * 0x33 / 255);
    EXPECT_EQ(s.AnalogLimits[1].LastRaw, 4095);
    EXPECT_EQ(s.AnalogLimits[2].LastRaw, 255);
    EXPECT_EQ(s.AnalogLimits[3].LastRaw, 0);
    EXPECT_TRUE(s.AiFresh);
    EXPECT_EQ(Labels(s), Cp(text::kLabelAiMorvel));
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "AI Word : 36863"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "ADSM      10.00 : ADHM      50.00"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "AI  1 :     100.00"), log.end());
}

TEST_F(Decoder, AnalogGroupsFollowTheMaskBits) {
    StationRecord& s = st1();
    std::string words;
    for (int i = 0; i < 16; ++i) words += Word(static_cast<unsigned>(i < 8 ? 255 : 0));
    EXPECT_TRUE(Decode(Plain(1, B({'A', 0x82}) + words)));  // groups 2 and 8
    EXPECT_DOUBLE_EQ(s.Analog[9], 100.0);
    EXPECT_DOUBLE_EQ(s.Analog[16], 100.0);
    EXPECT_DOUBLE_EQ(s.Analog[57], 0.0);
    EXPECT_DOUBLE_EQ(s.Analog[1], 0.0);
}

TEST_F(Decoder, BinaryItemsWithMasksAndAllTwelveGroups) {
    StationRecord& s = st1();
    EXPECT_TRUE(Decode(Plain(1, B({'B', 0x05, 0x80, 0x01}))));  // groups 1 and 3
    EXPECT_TRUE(s.BinaryIn[8]);
    EXPECT_TRUE(s.BinaryIn[17]);
    EXPECT_FALSE(s.BinaryIn[18]);

    std::string all = B({'B', 0x00});
    for (int g = 0; g < 12; ++g) all.push_back(static_cast<char>(g == 11 ? 0x80 : 0x01));
    EXPECT_TRUE(Decode(Plain(1, all)));
    EXPECT_TRUE(s.BinaryIn[1]);
    EXPECT_TRUE(s.BinaryIn[81]);
    EXPECT_FALSE(s.BinaryIn[8]);
    EXPECT_TRUE(s.BinaryIn[96]);

    // Outputs are walked, not stored; the walk goes on behind them.
    s.BinaryOut[1] = false;
    EXPECT_TRUE(Decode(Plain(1, B({'b', 0x01, 0xFF, 'B', 0x01, 0x00}))));
    EXPECT_FALSE(s.BinaryOut[1]);
    EXPECT_FALSE(s.BinaryIn[1]);
    EXPECT_EQ(Labels(s), "BO BI ");
}

TEST_F(Decoder, CounterResetAddsOrReplacesByMode) {
    StationRecord& s = st1();
    for (int n = 1; n <= 16; ++n) s.Counters[static_cast<std::size_t>(n)] = CounterEntry{10.0, 0.5, 0.0, 2, 40};
    s.Counters[2].Mode = 1;
    EXPECT_TRUE(Decode(Plain(1, B({'C', 0x81}))));
    EXPECT_DOUBLE_EQ(s.Counters[1].Value, 30.0);
    EXPECT_EQ(s.Counters[1].RawCount, 0);
    EXPECT_DOUBLE_EQ(s.Counters[2].Value, 20.0);  // mode 1: replaced, raw count kept
    EXPECT_EQ(s.Counters[2].RawCount, 40);
    EXPECT_DOUBLE_EQ(s.Counters[9].Value, 10.0);  // group 2 not in the mask
    EXPECT_EQ(s.Counters[9].RawCount, 40);
    EXPECT_TRUE(s.CtcFresh);
    EXPECT_EQ(Labels(s), Cp(text::kLabelCtcReset));
}

TEST_F(Decoder, CounterReadStoresRawCountsAndAppliesThemForStationsWithAPhone) {
    StationRecord& s = st1();
    std::string words;
    for (unsigned i = 1; i <= 8; ++i) words += Word(0x0100 + i);
    for (int n = 1; n <= 16; ++n) s.Counters[static_cast<std::size_t>(n)] = CounterEntry{1.0, 2.0, 0.0, 3, 0};
    EXPECT_TRUE(Decode(Plain(1, B({'C', 0x02}) + words)));  // group 2
    EXPECT_EQ(s.Counters[9].RawCount, 0x0101);
    EXPECT_EQ(s.Counters[16].RawCount, 0x0108);
    EXPECT_DOUBLE_EQ(s.Counters[9].Value, 1.0);
    EXPECT_EQ(Labels(s), Cp(text::kLabelCtc));

    s.PhoneNumber.assign("123");
    EXPECT_TRUE(Decode(Plain(1, B({'C', 0x02}) + words)));
    EXPECT_DOUBLE_EQ(s.Counters[9].Value, 1.0 + 2.0 * 0x0101);
    EXPECT_EQ(s.Counters[9].RawCount, 0);
}

TEST_F(Decoder, ErrorReportsWithAndWithoutText) {
    StationRecord& s = st1();
    EXPECT_TRUE(Decode(Plain(1, B({'E', 5}))));
    EXPECT_EQ(Labels(s), Cp(u8"chyba č.5 (Spojení přerušeno) "_cp));
    EXPECT_TRUE(s.Unreachable);
    EXPECT_EQ(s.ErrorReportCount, 1u);
    EXPECT_EQ(s.RetryCount, 1);
    EXPECT_TRUE(Decode(Plain(1, B({'E', 9, 'E', 0}))));
    EXPECT_EQ(Labels(s), Cp(u8"chyba č.9 () chyba č.0 (Příjem pasiv. hlášení OK) "_cp));
    EXPECT_EQ(s.ErrorReportCount, 3u);
}

TEST_F(Decoder, ActiveReportInARoutedFrameIsAcknowledgedWithTheItemsEchoed) {
    StationRecord& s = st5();
    ctx.Scheduler.HoldPolling = true;
    ctx.Global.PREFIX.assign(B({0xFF, 0xFF}));
    ctx.Global.SUFFIX.assign(B({0x0D}));
    const std::string frame = WithCheck(B({0x01, 0x08, 'Y', 0x07, 0x02, 0x05, 'H', 'L', 0x00}));
    EXPECT_TRUE(Decode(frame));
    EXPECT_TRUE(s.ActiveReport);
    EXPECT_TRUE(s.OnLine);
    EXPECT_FALSE(ctx.Scheduler.HoldPolling);
    EXPECT_EQ(Labels(s), Cp(text::kLabelActiveReport));
    ASSERT_TRUE(ctx.Scheduler.AckPending);
    const std::string ack = WithCheck(B({0x07, 0x08, 'y', 0x00, 0x05, 0x00, 'H', 'L', 0x00}));
    EXPECT_EQ(Hex(ctx.Scheduler.AckText.view()), Hex(B({0xFF, 0xFF}) + ack + B({0x0D})));
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Answer : AH"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "SEND : " + Hex(ctx.Scheduler.AckText.view())), log.end());

    // Another answer without an acknowledgement clears the flag.
    EXPECT_TRUE(Decode(Plain(5, B({'L', 0}))));
    EXPECT_FALSE(ctx.Scheduler.AckPending);
}

TEST_F(Decoder, ControlErrorInAPlainFrameIsAcknowledgedWithTheFrameItself) {
    const std::string frame = Plain(5, B({'X'}));
    EXPECT_TRUE(Decode(frame));
    EXPECT_TRUE(st5().ControlError);
    EXPECT_EQ(Labels(st5()), Cp(text::kLabelControlError));
    EXPECT_TRUE(ctx.Scheduler.AckPending);
    EXPECT_EQ(Hex(ctx.Scheduler.AckText.view()), Hex(frame));

    // A lower-case routing item is echoed unchanged as well.
    const std::string routed = Routed(1, 5, B({'X'}));
    EXPECT_TRUE(Decode(routed));
    EXPECT_EQ(Hex(ctx.Scheduler.AckText.view()), Hex(routed));
}

TEST_F(Decoder, ConstantsAreStoredAsMemoryOutputs) {
    StationRecord& s = st1();
    const std::string items = B({'K', 0x05}) + std::string(FloatToStationReal(2.0).view()) +
                              std::string(FloatToStationReal(-100.0).view());
    EXPECT_TRUE(Decode(Plain(1, items)));
    EXPECT_DOUBLE_EQ(s.MemoryOut[1].Value, 2.0);
    EXPECT_DOUBLE_EQ(s.MemoryOut[3].Value, -100.0);
    EXPECT_DOUBLE_EQ(s.MemoryOut[2].Value, 0.0);
    EXPECT_TRUE(s.MemFresh);

    s.MemFresh = false;
    EXPECT_TRUE(Decode(Plain(1, B({'k', 0x01, 0x40, 0x00, 0x00, 'R', 0x00}))));
    EXPECT_DOUBLE_EQ(s.MemoryOut[1].Value, 2.0);
    EXPECT_FALSE(s.MemFresh);
    EXPECT_EQ(Labels(s), Cp(text::kLabelDecodeKo));
}

TEST_F(Decoder, MemoryAnswerAtTheAnalogAreaSetsOnlyWholeReals) {
    StationRecord& s = st1();
    s.DefAnalogInAddr = 0x0200;
    const std::string data = std::string(FloatToStationReal(1.5).view()) + std::string(FloatToStationReal(3.0).view());
    EXPECT_TRUE(Decode(Plain(1, B({'N', 0x00, 0x02, 6}) + data)));
    EXPECT_DOUBLE_EQ(s.Analog[1], 1.5);
    EXPECT_DOUBLE_EQ(s.Analog[2], 3.0);
    EXPECT_DOUBLE_EQ(s.Analog[3], 0.0);
    EXPECT_TRUE(s.AiFresh);
    EXPECT_EQ(Labels(s), Cp(text::kLabelDecodeAi));
}

TEST_F(Decoder, MemoryAnswersForMemoryInputs) {
    StationRecord& s = st1();
    s.DefAnalogInAddr = 0x7000;
    s.NumMemoryIn = 3;
    s.MemoryIn[1] = MemoryEntry{0x0100, 0.0, 1};
    s.MemoryIn[2] = MemoryEntry{0x0110, 0.0, 2};
    s.MemoryIn[3] = MemoryEntry{0x0120, 0.0, 3};
    EXPECT_TRUE(Decode(Plain(1, B({'N', 0x00, 0x01, 1, 0xC8}))));
    EXPECT_DOUBLE_EQ(s.MemoryIn[1].Value, 200.0);
    EXPECT_EQ(Labels(s), Cp(text::kLabelMi) + "1");
    EXPECT_TRUE(Decode(Plain(1, B({'N', 0x10, 0x01, 2, 0x34, 0x12}))));
    EXPECT_DOUBLE_EQ(s.MemoryIn[2].Value, 0x1234);
    EXPECT_TRUE(Decode(Plain(1, B({'N', 0x20, 0x01, 3, 0x46, 0x90, 0x00}))));
    EXPECT_DOUBLE_EQ(s.MemoryIn[3].Value, 100.0);
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "decodeMess MI : index   3 adr 0120 value  100.0"), log.end());

    // The whole block at the first entry's address.
    s.WholeBlockRead = true;
    s.MemFresh = false;
    std::string data;
    for (const double v : {1.0, 2.0, 3.0}) data += FloatToStationReal(v).view();
    EXPECT_TRUE(Decode(Plain(1, B({'N', 0x00, 0x01, 9}) + data)));
    EXPECT_DOUBLE_EQ(s.MemoryIn[1].Value, 1.0);
    EXPECT_DOUBLE_EQ(s.MemoryIn[2].Value, 2.0);
    EXPECT_DOUBLE_EQ(s.MemoryIn[3].Value, 3.0);
    EXPECT_TRUE(s.MemFresh);
    EXPECT_EQ(Labels(s), Cp(text::kLabelMiBlock));
}

TEST_F(Decoder, MemoryAnswerFillsTheCellsOfEveryBlockAtItsAddress) {
    StationRecord& s = st1();
    s.DefAnalogInAddr = 0x7000;
    MemoryBlock& a = Block(s, 0x0300, {1, 6, 2, 4});
    MemoryBlock& b = Block(s, 0x0300, {2});
    MemoryBlock& other = Block(s, 0x0400, {1});
    EXPECT_TRUE(Decode(Plain(1, B({'N', 0x00, 0x03, 7, 0x11, 0x40, 0x80, 0x00, 0x34, 0x12, 0x99}))));
    EXPECT_EQ(Hex(a.Cells[0].view()), "11 ");
    EXPECT_EQ(Hex(a.Cells[1].view()), "40 80 00 ");
    EXPECT_EQ(Hex(a.Cells[2].view()), "34 12 ");
    EXPECT_EQ(Hex(a.Cells[3].view()), "00 00 00 00 ");  // one byte left: not a whole element
    EXPECT_EQ(Hex(b.Cells[0].view()), "11 40 ");
    EXPECT_EQ(Hex(other.Cells[0].view()), "00 00 00 00 ");
    EXPECT_EQ(Labels(s), Cp(text::kLabelMb) + "0300) " + Cp(text::kLabelMb) + "0300) ");

    MemoryBlock& odd = Block(s, 0x0500, {1, 9, 1});
    EXPECT_TRUE(Decode(Plain(1, B({'N', 0x00, 0x05, 3, 0x01, 0x02, 0x03}))));
    EXPECT_EQ(Hex(odd.Cells[0].view()), "01 ");
    EXPECT_EQ(Hex(odd.Cells[2].view()), "00 00 00 00 ");  // stopped at the unknown type
}

TEST_F(Decoder, WriteAnswersAndSkippedItemsLetTheWalkGoOn) {
    StationRecord& s = st1();
    EXPECT_TRUE(Decode(Plain(1, B({'n', 0x34, 0x12, 2, 0xAA, 0xBB, 'Q', '!', '1', 'Q', 'H', '0', 'Q', 'H', '1', 1, 2,
                                   3, 4, 5, 'L', 0, 'R', 0, 'y', 0, 0, 0, 'B', 0x01, 0x01}))));
    EXPECT_EQ(Labels(s), Cp(text::kLabelMemoryWrite) + "1234 " + Cp(text::kLabelPassword) + "BI ");
    EXPECT_TRUE(s.BinaryIn[1]);
}

TEST_F(Decoder, AnUnknownLetterOrAnItemThatDoesNotFitEndsTheWalk) {
    StationRecord& s = st1();
    EXPECT_TRUE(Decode(Plain(1, B({'Z', 'B', 0x01, 0x01}))));
    EXPECT_FALSE(s.BinaryIn[1]);
    struct Case {
        const char* name;
        std::string items;
    };
    const std::vector<Case> cases = {
        {"B short of a group byte", B({'B', 0x03, 0x01})},
        {"B without its mask", B({'B'})},
        {"B of all groups short", B({'B', 0x00, 0x01})},
        {"A short of words", B({'A', 0x01, 0x00, 0xFF})},
        {"C short of words", B({'C', 0x01, 0x00})},
        {"K short of a real", B({'K', 0x01, 0x40, 0x00})},
        {"N longer than the frame", B({'N', 0x00, 0x02, 9, 0x40, 0x00, 0x00})},
        {"n longer than the frame", B({'n', 0x00, 0x02, 9})},
        {"QN longer than the frame", B({'Q', 'N', 72, 0x00, 0x80, 186, 1, 2})},
        {"QH1 short", B({'Q', 'H', '1', 1})},
        {"routing item short", B({'L', 0, 'y', 0})},
    };
    s.DefAnalogInAddr = 0x0200;
    ctx.Table.MbKindIndex = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.BinaryIn = {};
        s.Analog = {};
        EXPECT_TRUE(Decode(Plain(1, c.items)));
        EXPECT_EQ(Labels(s), "");
        EXPECT_FALSE(s.BinaryIn[1]);
        EXPECT_EQ(s.Analog[1], 0.0);
        EXPECT_EQ(s.MemoryOut[1].Value, 0.0);
    }
}

TEST_F(Decoder, SampleBlocksFillTableRowsAndTheHostBufferHeader) {
    std::vector<std::uint8_t> host(kHostBufferSize + 64, 0xEE);
    ctx.HostBuffer = host.data();
    std::memset(host.data(), 0, kHostBufferSize);
    ctx.Table.MbKindIndex = 1;
    ctx.Table.MbActive = true;
    auto samples = [](std::uint8_t seed) {
        std::string data;
        for (int j = 0; j < 6; ++j) {
            data += B({0x24, 0x12, 0x31, 0x23, 0x59, 0x5A, seed + j});  // BCD date and time, state
            for (int c = 0; c < 8; ++c) data += B({0x40 + c, seed, j});
        }
        data += B({0x00});  // the byte after the data
        return data;
    };
    auto qn = [&](int kind, unsigned address, std::uint8_t seed) {
        return Plain(1, B({'Q', 'N', kind, static_cast<int>(address & 0xFF), static_cast<int>(address >> 8), 186}) +
                            samples(seed) + B({'B', 0x01, 0x01}));
    };

    EXPECT_TRUE(Decode(qn(72, 32768 + 186, 0x10)));
    EXPECT_EQ(Labels(st1()), Cp(u8"vzorky (7 až 12) BI "_cp));
    const TextRow& row7 = ctx.Table.TextTable[6];
    EXPECT_EQ((std::vector<int>(row7.State, row7.State + 7)), (std::vector<int>{24, 12, 31, 23, 59, 5, 0x10}));
    EXPECT_EQ(Hex(row7.Cells[7].view()), "47 10 00 ");
    EXPECT_EQ(Hex(ctx.Table.TextTable[11].Cells[0].view()), "40 10 05 ");
    EXPECT_EQ(ctx.Table.TextTable[12].State[6], 0);  // row 13 untouched
    std::uint32_t rows = 0, state = 0;
    std::memcpy(&rows, host.data() + 8, 4);
    EXPECT_EQ(rows, 12u);
    EXPECT_TRUE(ctx.Table.MbActive);

    // The last block: rows 523..528 end the read.
    EXPECT_TRUE(Decode(qn(136, 32768 + 87 * 186, 0x20)));
    EXPECT_EQ(ctx.Table.TextTable[527].State[6], 0x25);
    std::memcpy(&rows, host.data() + 8, 4);
    std::memcpy(&state, host.data() + 24, 4);
    EXPECT_EQ(rows, 528u);
    EXPECT_EQ(state, 2u);
    EXPECT_FALSE(ctx.Table.MbActive);

    // Rows past the table (and before it) are not written anywhere.
    std::memset(host.data() + 8, 0, 4);
    const std::vector<std::uint8_t> before(host.begin(), host.end());
    for (const unsigned address : {32768u + 88 * 186, 32768u + 176 * 186, 32768u - 186}) {
        EXPECT_TRUE(Decode(qn(72, address, 0x30)));
    }
    EXPECT_EQ(host, before);
    EXPECT_EQ(ctx.Table.TextTable[527].State[6], 0x25);

    // Another kind table, a misaligned address or another count: no samples.
    for (const auto& [kind, address] : std::vector<std::pair<int, unsigned>>{{76, 32768}, {72, 32769}}) {
        EXPECT_TRUE(Decode(qn(kind, address, 0x40)));
        EXPECT_EQ(ctx.Table.TextTable[0].State[6], 0);
        EXPECT_EQ(Labels(st1()), "BI ");
    }

    // Without a host buffer only the table is written.
    ctx.HostBuffer = nullptr;
    EXPECT_TRUE(Decode(qn(72, 32768, 0x50)));
    EXPECT_EQ(ctx.Table.TextTable[0].State[6], 0x50);
}

class QqRead : public Decoder {
protected:
    void SetUp() override {
        Decoder::SetUp();
        // A prefix of three bytes and a pre-suffix: the request's items are found behind them.
        ctx.Global.PREFIX.assign(B({0xFF, 0xFF, 0xFF}));
        ctx.Global.PRESUFFIX.assign(B({0x0D}));
        ctx.Global.SUFFIX.assign(B({0x0A}));
        StationRecord& s = st5();
        Channel(s, 1, QqByte, DirRead, 0, 32, 1);
        Channel(s, 2, QqWord, DirBidir, 0, 32, 2);
        Channel(s, 3, QqInteger, DirRead, 0, 32, 3);
        Channel(s, 4, QqCardinal, DirRead, 0, 32, 4);
        Channel(s, 5, QqLongint, DirRead, 0, 32, 5);
        Channel(s, 6, QqReal, DirRead, 0, 32, 6);
        Channel(s, 7, QqString, DirRead, 0, 40, 10);
        Channel(s, 8, QqWord, DirWrite, 0, 32, 8);
    }

    std::string Request(const std::string& items) {
        RequestNode r;
        r.Station = 2;
        r.Kind = ReqChannelRead;
        r.Data.assign(items);
        return EncodeRequest(ctx, r).str();
    }
    std::string Answer(const std::string& values, char letter = 'q') {
        return Routed(1, 5, std::string("Q") + letter + values);
    }
    ChannelItem& item(int n) { return *st5().Channels[static_cast<std::size_t>(n - 1)]; }
};

TEST_F(QqRead, ValuesGoToTheChannelItemsByType) {
    const std::string request = Request(B({0, 32, 1, 0, 32, 2, 0, 32, 3, 0, 32, 4, 0, 32, 5, 0, 32, 6, 0, 40, 12, 0,
                                           32, 8, 0, 99, 9}));
    ASSERT_FALSE(request.empty());
    const std::string values = B({0xFF, 0xFF, 0xFF, 0xFF}) +  // byte: signed
                               B({0x34, 0x12, 0x00, 0x00}) +  // word
                               B({0x00, 0x00, 0x00, 0x80}) +  // integer
                               B({0xFF, 0xFF, 0xFF, 0xFF}) +  // cardinal: unsigned
                               B({0x87, 0xD6, 0x12, 0x00}) +  // longint 1234567
                               B({0x00, 0x00, 0x80, 0x3F}) +  // real 1.0
                               B({'A', 0xDF, 0x7E, 'z'}) +    // text chunk 2
                               B({0x01, 0x00, 0x00, 0x00}) +  // write-only item: untouched
                               B({0x01, 0x00, 0x00, 0x00});   // no such item
    EXPECT_TRUE(Decode(Answer(values), request));
    EXPECT_EQ(item(1).Value, -1.0f);
    EXPECT_EQ(item(2).Value, 4660.0f);
    EXPECT_EQ(item(3).Value, -2147483648.0f);
    EXPECT_EQ(item(4).Value, 4294967295.0f);
    EXPECT_EQ(item(5).Value, 1234567.0f);
    EXPECT_EQ(item(5).RawValue, 1234567);
    EXPECT_EQ(item(6).Value, 1.0f);
    EXPECT_EQ(item(7).Text.str(), std::string(8, ' ') + "A\xB0>z" + std::string(20, ' ') + '\0');
    EXPECT_EQ(item(8).Value, 0.0f);
    EXPECT_EQ(Labels(st5()), Cp(u8"QQ/čtení (9x) "_cp));
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "QQ Data Decode : Start"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "QQ item : 0 32 6 = 00 00 80 3F "), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "QQ Real =  :  1.00000000000000E+0000"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "QQ Data Decode : End"), log.end());
}

TEST_F(QqRead, TheInvalidMarkerGivesEachTypeItsInvalidValue) {
    item(7).Text.assign("ABCDEFGH" + std::string(24, ' ') + '\0');
    const std::string request =
        Request(B({0, 32, 1, 0, 32, 2, 0, 32, 3, 0, 32, 4, 0, 32, 5, 0, 32, 6, 0, 40, 10}));
    std::string values;
    for (int i = 0; i < 7; ++i) values += B({0xBE, 0xBE, 0xBE, 0xBE});
    EXPECT_TRUE(Decode(Answer(values, 'x'), request));
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(item(n).Value, -12345.0f) << n;
    EXPECT_EQ(item(4).Value, 65536.0f);
    EXPECT_EQ(item(5).Value, -12345.0f);
    EXPECT_EQ(item(5).RawValue, -12345);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(item(6).Value), 0x00010000u);
    EXPECT_EQ(item(7).Text.str().substr(0, 8), "ABCDEFGH");
}

TEST_F(QqRead, ASpecialSingleGivesTheDecodersFallback) {
    const std::string request = Request(B({0, 32, 6}));
    EXPECT_TRUE(Decode(Answer(B({0x00, 0x00, 0x80, 0x7F})), request));
    EXPECT_EQ(item(6).Value, -1e37f);
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "QQ Real =  : +infinity"), log.end());
}

TEST_F(QqRead, ACountThatDoesNotMatchTheRequestChangesNothing) {
    const std::string request = Request(B({0, 32, 1, 0, 32, 2}));
    EXPECT_TRUE(Decode(Answer(B({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0})), request));
    EXPECT_EQ(item(1).Value, 0.0f);
    EXPECT_EQ(item(2).Value, 0.0f);
    EXPECT_EQ(Labels(st5()), "");
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "QQ Data : Sync error!"), log.end());
}

TEST_F(QqRead, AnswersToOtherRequestsOrToNoRequestStoreNothing) {
    RequestNode r;
    r.Station = 2;
    r.Kind = ReqChannelWrite;
    r.Data.assign(B({0, 32, 1, 5, 0, 0, 0}));
    const std::string write = EncodeRequest(ctx, r).str();
    EXPECT_TRUE(Decode(Answer(B({7, 0, 0, 0})), write));
    EXPECT_TRUE(Decode(Answer(B({7, 0, 0, 0})), "garbage"));
    EXPECT_TRUE(Decode(Answer(B({7, 0, 0, 0})), ""));
    EXPECT_EQ(item(1).Value, 0.0f);
    EXPECT_FALSE(st5().ActiveReport);
}

TEST_F(QqRead, FindQqChannelTakesTheFirstHitInListOrder) {
    int chunk = -1;
    EXPECT_EQ(FindQqChannel(st5(), 0, 40, 10, chunk), &item(7));
    EXPECT_EQ(chunk, 0);
    EXPECT_EQ(FindQqChannel(st5(), 0, 40, 17, chunk), &item(7));
    EXPECT_EQ(chunk, 7);
    EXPECT_EQ(FindQqChannel(st5(), 0, 40, 18, chunk), nullptr);
    EXPECT_EQ(FindQqChannel(st5(), 0, 40, 9, chunk), nullptr);
    EXPECT_EQ(FindQqChannel(st5(), 0, 32, 4, chunk), &item(4));
    EXPECT_EQ(chunk, 0);
    Channel(st5(), 9, QqByte, DirRead, 0, 32, 4);
    EXPECT_EQ(FindQqChannel(st5(), 0, 32, 4, chunk), &item(4));
    // A text item near the end of the address range.
    Channel(st5(), 10, QqString, DirRead, 1, 1, 250);
    EXPECT_EQ(FindQqChannel(st5(), 1, 1, 255, chunk), &item(10));
    EXPECT_EQ(chunk, 5);
}

TEST_F(QqRead, ActiveReportOfAStationThatCalled) {
    ctx.AnsweredCall = true;
    ctx.Scheduler.HoldPolling = true;
    EXPECT_TRUE(Decode(Answer(B({0x78, 0x56, 0x34, 0x12})), ""));
    EXPECT_TRUE(st5().ActiveReport);
    EXPECT_TRUE(st5().OnLine);
    EXPECT_EQ(st5().CallCode, 0x12345678u);
    EXPECT_FALSE(ctx.Scheduler.HoldPolling);
    EXPECT_EQ(Labels(st5()), Cp(text::kLabelTl2Report));
    EXPECT_TRUE(Decode(Answer(B({0xBE, 0xBE, 0xBE, 0xBE})), ""));
    EXPECT_EQ(st5().CallCode, 65536u);
    EXPECT_TRUE(Decode(Answer(B({0x01})), ""));
    EXPECT_EQ(st5().CallCode, 65536u);  // fewer than four bytes: kept
}

TEST_F(QqRead, WriteAnswerEndsTheWalk) {
    EXPECT_TRUE(Decode(Answer(B({'B', 0x01, 0x01}), 'Q'), ""));
    EXPECT_EQ(Labels(st5()), Cp(text::kLabelQqWritten));
    EXPECT_FALSE(st5().BinaryIn[1]);
    EXPECT_TRUE(Decode(Answer(B({}), 'X'), "x"));
    EXPECT_EQ(Labels(st5()), Cp(text::kLabelQqWritten));
}

TEST_F(QqRead, AFrameThroughTheFramingAndTheDecoder) {
    // The whole road: request sent, answer received from the line, decoded on the next pass.
    ctx.Framing.LastTxMessage.assign(Request(B({0, 32, 2})));
    const std::string answer = Answer(B({0x10, 0x00, 0x00, 0x00}));
    for (const char c : ctx.Global.PREFIX.str() + answer + ctx.Global.SUFFIX.str())
        ctx.Line.Rx.push_back(static_cast<std::uint8_t>(c));
    int stored = 0;
    for (int call = 0; call < 10; ++call) stored += ReceiveFrame(ctx) ? 1 : 0;
    EXPECT_EQ(stored, 1);
    ExtractDATA(ctx);
    EXPECT_EQ(item(2).Value, 16.0f);
}

namespace {

// A frame stored while another station's request waited for its answer: a report the station
// sent on its own, or an answer whose address was spoilt on the line. Only reports are taken.
class AnswerOfAnotherStation : public Decoder {
protected:
    void SetUp() override {
        Decoder::SetUp();
        Station(3, 6, "ST6");  // the station asked
        st5().BinaryIn.fill(false);
        st5().Unreachable = true;
        ctx.ErrorTotal = 0.0;
        ctx.PendingEventText.clear();
    }
    StationRecord& st6() { return *ctx.Stations[3]; }
};

}  // namespace

TEST_F(AnswerOfAnotherStation, DataItemsAreDroppedAndCountedReportsAreTaken) {
    const std::string bits = B({'B', 0x01, 0xFF});
    struct Case {
        const char* name;
        std::string frame;
        bool known;
        bool report;   // the station's active-report flag and an acknowledgement
        double errors;
    };
    const Case cases[] = {
        {"binary inputs of station 5", Routed(1, 5, bits), true, false, 1.0},
        {"plain layout", Plain(5, bits), true, false, 1.0},
        {"an active report alone", Routed(1, 5, "H", 'Y'), true, true, 0.0},
        {"binary inputs and an active report", Routed(1, 5, bits + "H", 'Y'), true, true, 1.0},
        {"an address no station has", Routed(1, 9, bits), false, false, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        st5().ActiveReport = false;
        ctx.Scheduler.AckPending = false;
        EXPECT_EQ(DecodeMess(ctx, c.frame, "request of ST6", 3), c.known);
        for (int n = 1; n <= 8; ++n) EXPECT_FALSE(st5().BinaryIn[static_cast<std::size_t>(n)]) << n;
        EXPECT_FALSE(st5().BiFresh);
        for (int n = 1; n <= 8; ++n) EXPECT_FALSE(st6().BinaryIn[static_cast<std::size_t>(n)]) << n;
        EXPECT_EQ(ctx.ErrorTotal.load(), c.errors);
        EXPECT_EQ(st5().ActiveReport, c.report);
        EXPECT_EQ(ctx.Scheduler.AckPending, c.report);
        // Only a report wakes the station and is shown.
        EXPECT_EQ(st5().Unreachable, !c.report);
        EXPECT_EQ(ctx.PendingEventText.empty(), !c.report);
    }
}

TEST_F(AnswerOfAnotherStation, AnErrorReportAndAControlErrorAreTaken) {
    EXPECT_TRUE(DecodeMess(ctx, Routed(1, 5, B({'E', 5})), "request of ST6", 3));
    EXPECT_EQ(st5().ErrorReportCount, 1u);
    EXPECT_TRUE(st5().Unreachable);
    EXPECT_TRUE(DecodeMess(ctx, Routed(1, 5, "X", 'Y'), "request of ST6", 3));
    EXPECT_TRUE(st5().ControlError);
    EXPECT_TRUE(ctx.Scheduler.AckPending);
    EXPECT_EQ(ctx.ErrorTotal.load(), 0.0);
}

TEST_F(AnswerOfAnotherStation, ALateQqAnswerAfterAnAnsweredCallIsNoCallReport) {
    // Station 5's read timed out; its answer comes while station 6's request waits.
    ctx.AnsweredCall = true;
    st5().CallCode = 7;
    const std::string late = Routed(1, 5, std::string("Qq") + B({0x4E, 0x61, 0xBC, 0x00}));
    EXPECT_TRUE(DecodeMess(ctx, late, "request of ST6", 3));
    EXPECT_FALSE(st5().ActiveReport);
    EXPECT_FALSE(st5().OnLine);
    EXPECT_EQ(st5().CallCode, 7u);
    EXPECT_TRUE(st5().Unreachable);  // nothing taken: the station is not refreshed
    EXPECT_TRUE(ctx.PendingEventText.empty());
    EXPECT_EQ(ctx.ErrorTotal.load(), 1.0);
    EXPECT_FALSE(ctx.Scheduler.AckPending);
    // The same frame with no request waiting is the station's call report.
    EXPECT_TRUE(DecodeMess(ctx, late, {}));
    EXPECT_TRUE(st5().ActiveReport);
    EXPECT_TRUE(st5().OnLine);
    EXPECT_EQ(st5().CallCode, 12345678u);
}

TEST_F(AnswerOfAnotherStation, TheStationAskedTakesItsAnswerWhereAnotherHasTheSameAddress) {
    st6().Address = 5;  // stations 2 and 3 both answer as 5, behind different numbers
    EXPECT_TRUE(DecodeMess(ctx, Routed(1, 5, B({'B', 0x01, 0x0F})), "request of ST6", 3));
    EXPECT_TRUE(st6().BinaryIn[1]);
    EXPECT_FALSE(st5().BinaryIn[1]);
    EXPECT_EQ(ctx.ErrorTotal.load(), 0.0);
    // Without a request waiting, the first station with the address takes it, as before.
    EXPECT_TRUE(DecodeMess(ctx, Routed(1, 5, B({'B', 0x01, 0x0F})), {}));
    EXPECT_TRUE(st5().BinaryIn[1]);
}

TEST_F(AnswerOfAnotherStation, TheFramingKeepsTheRequestForTheRealAnswer) {
    ctx.Global.PREFIX.clear();
    ctx.Scheduler.Outstanding = true;
    ctx.Scheduler.OutStation = 3;
    ctx.Framing.LastTxMessage.assign("request of ST6");
    auto feed = [&](const std::string& frame) {
        for (const char c : frame) ctx.Line.Rx.push_back(static_cast<std::uint8_t>(c));
        int stored = 0;
        bool foreign = false;
        for (int call = 0; call < 10; ++call) {
            bool f = false;
            if (ReceiveFrame(ctx, &f)) {
                ++stored;
                foreign = f;
            }
        }
        EXPECT_EQ(stored, 1);
        return foreign;
    };
    EXPECT_TRUE(feed(Routed(1, 5, B({'B', 0x01, 0xFF}))));
    EXPECT_EQ(ctx.Framing.LastTxMessage.view(), "request of ST6");
    EXPECT_FALSE(feed(Routed(1, 6, B({'B', 0x01, 0x01}))));
    EXPECT_TRUE(ctx.Framing.LastTxMessage.empty());
    ASSERT_EQ(ctx.ReceiveQueue.Entries.size(), 2u);
    EXPECT_EQ(ctx.ReceiveQueue.Entries[0].Station, 3);
    EXPECT_EQ(ctx.ReceiveQueue.Entries[1].Request.view(), "request of ST6");
    ExtractDATA(ctx);
    ExtractDATA(ctx);
    EXPECT_FALSE(st5().BinaryIn[1]);
    EXPECT_TRUE(st6().BinaryIn[1]);
    EXPECT_EQ(ctx.ErrorTotal.load(), 1.0);
}
