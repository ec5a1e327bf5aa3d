// The request encoder: the exact frame of every request kind, the group masks, the memory
// writes with their limits, the block item writes and the requests that cannot be built.
#include "protocol/encoder.h"

#include <functional>

#include "protocol/framing.h"
#include "protocol_fixture.h"

using namespace zk;
using namespace zktest;

namespace {

class Encoder : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        Station(1, 5);
    }
    StationRecord& st() { return *ctx.Stations[1]; }

    std::string Encode(std::int32_t kind, std::uint16_t word = 0, std::string_view data = {},
                       const MemoryBlock* block = nullptr) {
        RequestNode r;
        r.Station = 1;
        r.Kind = kind;
        r.Word = word;
        r.Data.assign(data);
        r.Key = block;
        return EncodeRequest(ctx, r).str();
    }
};

// The frame of station 5 (RETRANSLATION 5) from driver 1 around a body, without PREFIX,
// PRESUFFIX and SUFFIX.
std::string Frame(const std::string& body) {
    std::string f = B({0x05, 0x00, 'Y', 0x01, 0x05, 0x01}) + body;
    f[1] = static_cast<char>(f.size() - 1);
    return WithCheck(f);
}

}  // namespace

TEST_F(Encoder, BinaryInputsOfSixteenGiveTheDocumentedFrame) {
    st().NumBinarIn = 16;
    EXPECT_EQ(Hex(Encode(0)), Hex(B({0x05, 0x07, 0x59, 0x01, 0x05, 0x01, 0x42, 0x03, 0x1F})));
}

TEST_F(Encoder, PresuffixCountsInTheLengthAndTheCheckButPrefixAndSuffixDoNot) {
    st().NumBinarIn = 16;
    ctx.Global.PRESUFFIX.assign(B({0x0D}));
    EXPECT_EQ(Hex(Encode(0)), Hex(B({0x05, 0x08, 0x59, 0x01, 0x05, 0x01, 0x42, 0x03, 0x0D, 0x1D})));

    ctx.Global.PREFIX.assign(B({0xFF, 0xFF}));
    ctx.Global.SUFFIX.assign(B({0x0D, 0x0A}));
    EXPECT_EQ(Hex(Encode(0)),
              Hex(B({0xFF, 0xFF, 0x05, 0x08, 0x59, 0x01, 0x05, 0x01, 0x42, 0x03, 0x0D, 0x1D, 0x0D, 0x0A})));
}

TEST_F(Encoder, RetranslationAndAddressesFillTheRoutingItem) {
    st().Retranslation = 9;
    st().NumBinarIn = 8;
    ctx.Global.ADDRESS = 0x21;
    EXPECT_EQ(Hex(Encode(0)), Hex(WithCheck(B({0x09, 0x07, 'Y', 0x21, 0x05, 0x21, 'B', 0x01}))));
}

struct KindCase {
    const char* name;
    std::function<void(StationRecord&)> setup;
    std::int32_t kind;
    std::uint16_t word;
    std::string data;
    std::string body;  // "!" marks a request that cannot be built
};

TEST_F(Encoder, EveryKindGivesItsBody) {
    auto on = [](std::initializer_list<int> outputs) {
        return [outputs](StationRecord& s) {
            for (const int n : outputs) s.BinaryOut[static_cast<std::size_t>(n)] = true;
        };
    };
    const std::string never = "!";
    const std::vector<KindCase> cases = {
        {"BI 96: mask 00", [](StationRecord& s) { s.NumBinarIn = 96; }, 0, 0, "", B({'B', 0x00})},
        {"BI 64: mask FF", [](StationRecord& s) { s.NumBinarIn = 64; }, 0, 0, "", B({'B', 0xFF})},
        {"BI 12: mask 01", [](StationRecord& s) { s.NumBinarIn = 12; }, 0, 0, "", B({'B', 0x01})},
        {"BI 7: empty mask, still sent", [](StationRecord& s) { s.NumBinarIn = 7; }, 0, 0, "", B({'B', 0x00})},
        {"BI 0", [](StationRecord&) {}, 0, 0, "", never},
        {"AI area", [](StationRecord& s) { s.NumAnalogIn = 4; s.DefAnalogInAddr = 0x1234; }, 1, 0, "",
         B({'N', 0x34, 0x12, 0x0C})},
        {"AI area 64", [](StationRecord& s) { s.NumAnalogIn = 64; s.DefAnalogInAddr = 0x0100; }, 1, 0, "",
         B({'N', 0x00, 0x01, 0xC0})},
        {"AI area, none", [](StationRecord&) {}, 1, 0, "", never},
        {"CT 16", [](StationRecord& s) { s.NumCounterIn = 16; }, 2, 0, "", B({'C', 0x03})},
        {"CT 48", [](StationRecord& s) { s.NumCounterIn = 48; }, 2, 0, "", B({'C', 0x3F})},
        {"CT 49", [](StationRecord& s) { s.NumCounterIn = 49; }, 2, 0, "", never},
        {"CT 0", [](StationRecord&) {}, 2, 0, "", never},
        {"CT reset 16", [](StationRecord& s) { s.NumCounterIn = 16; }, 3, 0, "", B({'C', 0x83})},
        {"CT reset 49", [](StationRecord& s) { s.NumCounterIn = 49; }, 3, 0, "", never},
        {"BO 16", [&](StationRecord& s) { s.NumBinarOut = 16; on({1, 10, 16})(s); }, 4, 0, "",
         B({'b', 0x03, 0x01, 0x82})},
        {"BO 12: group 1 only", [&](StationRecord& s) { s.NumBinarOut = 12; on({8, 9})(s); }, 4, 0, "",
         B({'b', 0x01, 0x80})},
        {"BO 96: twelve bytes", [&](StationRecord& s) { s.NumBinarOut = 96; on({1, 96})(s); }, 4, 0, "",
         B({'b', 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80})},
        {"BO 0", [](StationRecord&) {}, 4, 0, "", never},
        {"AI 16", [](StationRecord& s) { s.NumAnalogIn = 16; }, 7, 0, "", B({'A', 0x03})},
        {"AI 65", [](StationRecord& s) { s.NumAnalogIn = 65; }, 7, 0, "", never},
        {"AI 0", [](StationRecord&) {}, 7, 0, "", never},
        {"constants read", [](StationRecord&) {}, 8, 0, "", B({'K', 0xFF})},
        {"QQ write", [](StationRecord&) {}, 15, 0, B({0xBA, 0x01, 0x05, 1, 2, 3, 4}),
         B({'Q', 'Q', 0xBA, 0x01, 0x05, 1, 2, 3, 4})},
        {"QQ read", [](StationRecord&) {}, 16, 0, B({0, 32, 0, 0, 32, 1}), B({'Q', 'q', 0, 32, 0, 0, 32, 1})},
        {"QN samples 72", [](StationRecord&) {}, 72, 0x80BA, "", B({'Q', 'N', 72, 0xBA, 0x80, 0xBA})},
        {"QN samples 144", [](StationRecord&) {}, 144, 0x8000, "", B({'Q', 'N', 144, 0x00, 0x80, 0xBA})},
        {"QN history 241", [](StationRecord&) {}, 241, 0x1234, B({192, 7}), B({'Q', 'N', 241, 0x34, 0x12, 192})},
        {"QN history without a count", [](StationRecord&) {}, 247, 0x1234, "", never},
        {"all of group 1 on", [](StationRecord&) {}, 255, 0, "", B({'b', 0x01, 0xFF})},
        {"kind 10: empty body", [](StationRecord&) {}, 10, 0, "", ""},
        {"kind 11: empty body", [](StationRecord&) {}, 11, 0, "", ""},
        {"kind 14: empty body", [](StationRecord&) {}, 14, 0, "", ""},
        {"unknown kind 100", [](StationRecord&) {}, 100, 0, "", ""},
        {"unknown kind 300", [](StationRecord&) {}, 300, 0, "", ""},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.name);
        StationRecord& s = st();
        s = StationRecord();
        s.Address = 5;
        s.Retranslation = 5;
        c.setup(s);
        const std::string frame = Encode(c.kind, c.word, c.data);
        if (c.body == never) {
            EXPECT_EQ(frame, "");
        } else {
            EXPECT_EQ(Hex(frame), Hex(Frame(c.body)));
            EXPECT_TRUE(XorCheck(frame));
        }
    }
}

TEST_F(Encoder, MemoryWritesAreLimitedAndCut) {
    struct Case {
        std::uint8_t type;
        double value;
        std::string tail;  // after "n" and the address
    };
    const std::vector<Case> cases = {
        {1, -5.0, B({0x01, 0x00})},         {1, 300.0, B({0x01, 0xFF})},
        {1, 2.9, B({0x01, 0x02})},          {1, 255.0, B({0x01, 0xFF})},
        {2, 70000.0, B({0x02, 0xFF, 0xFF})}, {2, 513.7, B({0x02, 0x01, 0x02})},
        {2, -1.0, B({0x02, 0x00, 0x00})},   {3, 100.0, B({0x03, 0x46, 0x90, 0x00})},
        {3, -1.0, B({0x03, 0xC0, 0x00, 0x00})},
    };
    st().NumMemoryOut = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " value " << c.value);
        st().MemoryOut[3] = MemoryEntry{0x0456, c.value, c.type};
        EXPECT_EQ(Hex(Encode(5, 3)), Hex(Frame(B({'n', 0x56, 0x04}) + c.tail)));
    }
    // Another type code: the frame goes out without a body.
    st().MemoryOut[3] = MemoryEntry{0x0456, 1.0, 9};
    EXPECT_EQ(Hex(Encode(5, 3)), Hex(Frame("")));
}

TEST_F(Encoder, MemoryRequestsOutsideTheTablesAreNotBuilt) {
    st().NumMemoryOut = 3;
    st().NumMemoryIn = 3;
    for (const int entry : {0, 101, 65535}) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(Encode(5, static_cast<std::uint16_t>(entry)), "");
        EXPECT_EQ(Encode(6, static_cast<std::uint16_t>(entry)), "");
    }
    st().NumMemoryOut = 0;
    st().NumMemoryIn = 0;
    EXPECT_EQ(Encode(5, 1), "");
    EXPECT_EQ(Encode(6, 1), "");
}

TEST_F(Encoder, MemoryInputReadsAndTheirLogLines) {
    st().NumMemoryIn = 45;
    st().MemoryIn[1] = MemoryEntry{528, 0.0, 3};
    st().MemoryIn[2] = MemoryEntry{0x0210, 0.0, 2};
    EXPECT_EQ(Hex(Encode(6, 2)), Hex(Frame(B({'N', 0x10, 0x02, 0x02}))));
    st().WholeBlockRead = true;
    EXPECT_EQ(Hex(Encode(6, 2)), Hex(Frame(B({'N', 0x10, 0x02, 135}))));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "CodeMess MI, adr :   528",
                              "CodeMess : STadr:005 typ:006",
                              "CodeMess MI whole block, adr :   528",
                              "CodeMess : STadr:005 typ:006",
                          }));
}

TEST_F(Encoder, EveryRequestWritesOneLogLineAlsoWhenItCannotBeBuilt) {
    st().Address = 123;
    Encode(0);  // no binary inputs: not built
    Encode(0x1FF);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"CodeMess : STadr:123 typ:000", "CodeMess : STadr:123 typ:255"}));
}

TEST_F(Encoder, ConstantsWriteSendsTheFirstEightMemoryOutputs) {
    for (int n = 1; n <= 8; ++n) st().MemoryOut[static_cast<std::size_t>(n)].Value = n;
    std::string body = B({'k', 0xFF});
    for (int n = 1; n <= 8; ++n) body += FloatToStationReal(n).view();
    EXPECT_EQ(Hex(Encode(9)), Hex(Frame(body)));
}

TEST_F(Encoder, MemoryBlockReadAndItemWrites) {
    MemoryBlock& block = Block(st(), 0x0300, {1, 6, 2});
    EXPECT_EQ(Hex(Encode(17, 0, "", &block)), Hex(Frame(B({'N', 0x00, 0x03, 6}))));
    EXPECT_EQ(Encode(17), "");

    struct Case {
        std::uint16_t item;
        std::string data;
        std::string body;
    };
    const std::vector<Case> cases = {
        {1, B({0x7F, 0x55}), B({'n', 0x00, 0x03, 1, 0x7F})},
        {2, B({0x40, 0x80, 0x00}), B({'n', 0x01, 0x03, 3, 0x40, 0x80, 0x00})},
        {3, B({0x34, 0x12}), B({'n', 0x04, 0x03, 2, 0x34, 0x12})},
        {3, B({0x34}), B({'n', 0x04, 0x03, 2, 0x34, 0x00})},  // short data: zeros
        {3, "", B({'n', 0x04, 0x03, 2, 0x00, 0x00})},
        {0, B({1}), "!"},
        {4, B({1}), "!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        const std::string frame = Encode(18, c.item, c.data, &block);
        EXPECT_EQ(Hex(frame), c.body == "!" ? "" : Hex(Frame(c.body)));
    }
    EXPECT_EQ(Encode(18, 1, B({1})), "");  // no block

    MemoryBlock& odd = Block(st(), 0x0400, {1, 9, 2, 0});
    EXPECT_EQ(Hex(Encode(18, 1, B({5}), &odd)), Hex(Frame(B({'n', 0x00, 0x04, 1, 5}))));
    EXPECT_EQ(Encode(18, 2, B({5}), &odd), "");  // its own type is unknown
    EXPECT_EQ(Encode(18, 3, B({5, 6}), &odd), "");  // an unknown type before it
}

TEST_F(Encoder, AFrameThatDoesNotFitIsNotBuilt) {
    // 6 header bytes + "QQ" + 200 data + PRESUFFIX 1 + check 1 = 210; the PREFIX and SUFFIX decide.
    const std::string data(200, '\x01');
    ctx.Global.PRESUFFIX.assign(B({0x0D}));
    ctx.Global.PREFIX.assign(std::string(40, '\xFF'));
    ctx.Global.SUFFIX.assign(std::string(5, '\x0A'));
    const std::string fits = Encode(15, 0, data);
    ASSERT_EQ(fits.size(), 255u);
    EXPECT_TRUE(XorCheck(fits.substr(40, 210)));
    EXPECT_EQ(static_cast<std::uint8_t>(fits[41]), 208);
    ctx.Global.SUFFIX.assign(std::string(6, '\x0A'));
    EXPECT_EQ(Encode(15, 0, data), "");
}

TEST_F(Encoder, UndefinedStationsGetNoFrame) {
    RequestNode r;
    r.Kind = 8;
    for (const int index : {0, 2, 101, 255}) {
        r.Station = static_cast<std::uint8_t>(index);
        EXPECT_EQ(EncodeRequest(ctx, r).str(), "") << index;
    }
}
