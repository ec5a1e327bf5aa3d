// The stations behind the modem, driven over a real pseudo-terminal with hand-built request
// frames and answered byte for byte.
#include <gtest/gtest.h>

#include "zksim/sim_line.h"

namespace zktest {
namespace {

Bytes Routed(uint8_t st, const Bytes& items) { return RoutedAnswer(st, items); }

zksim::LineDef TestLine() {
    zksim::LineDef line;
    zksim::StationDef s5;
    s5.address = 5;
    s5.retranslation = 5;
    s5.phone = "123";
    s5.numBinaryIn = 16;
    s5.numBinaryOut = 8;
    s5.numAnalogIn = 4;
    s5.numCounterIn = 16;
    s5.analogAddress = 256;
    s5.memoryIn.assign(100, {});
    s5.memoryOut.assign(100, {});
    s5.memoryIn[0] = {0x300, 2};
    s5.memoryOut[0] = {0x200, 1};
    s5.memoryOut[2] = {0x210, 3};
    s5.qqItems.push_back({0, 32, 0, 3});
    s5.blocks.push_back({0x400, {1, 6, 2}});
    zksim::StationDef s7 = s5;  // behind station 5, same telephone number
    s7.address = 7;
    s7.blocks.clear();
    line.stations = {s5, s7};
    return line;
}

class Stations : public ::testing::Test {
protected:
    static zksim::SimOptions Options(zksim::Layout layout = zksim::Layout::Routed) {
        zksim::SimOptions o = FastOptions();
        o.line = TestLine();
        o.layout = layout;
        return o;
    }
    void SetUp() override {
        line_ = std::make_unique<SimLine>(Options());
        line_->Dial();
        auto& sim = line_->sim;
        for (int p : {1, 2, 3, 4, 9}) sim.SetBinaryIn(5, p, true);
    }
    SimLine& line() { return *line_; }
    std::unique_ptr<SimLine> line_;
};

TEST_F(Stations, AnswersTheBinaryInputRequestOfTheDriversExample) {
    // 16 binary inputs, station 5 through 5, driver 1: the driver's frame ends in check 1F
    const Bytes request = B({0x05, 0x07, 0x59, 0x01, 0x05, 0x01, 0x42, 0x03, 0x1F});
    EXPECT_EQ(RequestFrame(5, 1, 5, "B\x03"), request);
    EXPECT_EQ(line().Ask(request, 11), B({0x01, 0x09, 0x79, 0x05, 0x01, 0x05, 0x42, 0x03, 0x0F, 0x01, 0x3F}));
    EXPECT_EQ(line().sim.Requests(), std::vector<Bytes>{request});
}

TEST_F(Stations, AnswersEveryRequestKindInTheDecodersItemFormats) {
    auto& sim = line().sim;
    sim.SetAnalogValue(5, 1, 1.0);
    sim.SetAnalogValue(5, 2, -100.0);
    sim.SetAnalogValue(5, 3, 0.5);
    sim.SetAnalogRaw(5, 1, 0x8FFF);
    sim.SetAnalogRaw(5, 2, 0x0100);
    sim.SetCounter(5, 1, 0x1234);
    sim.SetCounter(5, 9, 7);
    sim.SetMemoryIn(5, 1, 513);
    for (int k = 1; k <= 8; ++k) sim.SetConstant(5, k, k == 1 ? 1.0 : k == 2 ? 3.0 : 0.0);
    sim.SetQqLong(5, 0, 32, 0, 1234);
    sim.SetBlockItem(5, 1, 2, 2.0);  // the REAL after the BYTE: at 0x401
    const Bytes zeros12(12, '\0');
    const Bytes eightZeroReals(18, '\0');

    struct Case {
        const char* what;
        Bytes body;
        Bytes items;
    };
    const Case cases[] = {
        {"analog area as station reals", B({'N', 0x00, 0x01, 0x0C}),
         B({'N', 0x00, 0x01, 0x0C, 0x40, 0x00, 0x00, 0xC6, 0x90, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00})},
        {"analog raw words, high byte first", B({'A', 0x01}),
         B({'A', 0x01, 0x8F, 0xFF, 0x01, 0x00}) + zeros12},
        {"counters of two groups", B({'C', 0x03}),
         B({'C', 0x03, 0x12, 0x34}) + Bytes(14, '\0') + B({0x00, 0x07}) + Bytes(14, '\0')},
        {"binary inputs, all 96", B({'B', 0x00}), B({'B', 0x00, 0x0F, 0x01}) + Bytes(10, '\0')},
        {"memory input word", B({'N', 0x00, 0x03, 0x02}), B({'N', 0x00, 0x03, 0x02, 0x01, 0x02})},
        {"memory block", B({'N', 0x00, 0x04, 0x06}), B({'N', 0x00, 0x04, 0x06, 0x00, 0x41, 0x00, 0x00, 0x00, 0x00})},
        {"constants", B({'K', 0xFF}), B({'K', 0xFF, 0x40, 0x00, 0x00, 0x41, 0x80, 0x00}) + eightZeroReals},
        {"QQ read with an item the station does not hold", B({'Q', 'q', 0, 32, 0, 9, 9, 9}),
         B({'Q', 'q', 0xD2, 0x04, 0x00, 0x00, 0xBE, 0xBE, 0xBE, 0xBE})},
        {"a request the station does not know", B({'Z', 0x01}), B({'E', 0x06})},
        {"an empty request", Bytes(), Bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes expected = Routed(5, c.items);
        EXPECT_EQ(zksim::HexText(line().Ask(RequestFrame(5, 1, 5, c.body), expected.size())),
                  zksim::HexText(expected));
    }
}

TEST_F(Stations, WritesChangeTheImageAndAreEchoed) {
    auto& sim = line().sim;
    struct Case {
        const char* what;
        Bytes body;
        Bytes items;
    };
    const Case cases[] = {
        {"binary outputs", B({'b', 0x01, 0x05}), B({'b', 0x01, 0x05})},
        {"memory output byte", B({'n', 0x00, 0x02, 0x01, 0x2A}), B({'n', 0x00, 0x02, 0x01, 0x2A})},
        {"memory output real", B({'n', 0x10, 0x02, 0x03, 0x46, 0x90, 0x00}), B({'n', 0x10, 0x02, 0x03, 0x46, 0x90, 0x00})},
        {"constants", B({'k', 0x01, 0xC0, 0x00, 0x00}), B({'k', 0x01, 0xC0, 0x00, 0x00})},
        {"QQ write", B({'Q', 'Q', 0xBA, 0x01, 0x05, 0x10, 0x27, 0x00, 0x00}),
         B({'Q', 'Q', 0xBA, 0x01, 0x05, 0x10, 0x27, 0x00, 0x00})},
        {"counters read and reset carry no counts", B({'C', 0x81}), B({'C', 0x81})},
    };
    sim.SetCounter(5, 1, 99);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes expected = Routed(5, c.items);
        EXPECT_EQ(zksim::HexText(line().Ask(RequestFrame(5, 1, 5, c.body), expected.size())),
                  zksim::HexText(expected));
    }
    bool on = false;
    EXPECT_TRUE(sim.BinaryOut(5, 1, on) && on);
    EXPECT_TRUE(sim.BinaryOut(5, 2, on) && !on);
    EXPECT_TRUE(sim.BinaryOut(5, 3, on) && on);
    double v = 0;
    EXPECT_TRUE(sim.MemoryOut(5, 1, v));
    EXPECT_EQ(v, 42.0);
    EXPECT_TRUE(sim.MemoryOut(5, 3, v));
    EXPECT_EQ(v, 100.0);
    EXPECT_TRUE(sim.Constant(5, 1, v));
    EXPECT_EQ(v, -1.0);
    std::array<uint8_t, 4> qq{};
    EXPECT_TRUE(sim.Qq(5, 0xBA, 1, 5, qq));
    EXPECT_EQ(qq, (std::array<uint8_t, 4>{0x10, 0x27, 0x00, 0x00}));
    uint16_t count = 1;
    EXPECT_TRUE(sim.Counter(5, 1, count));
    EXPECT_EQ(count, 0);
    // what was written reads back
    const Bytes readBack = Routed(5, B({'Q', 'q', 0x10, 0x27, 0x00, 0x00}));
    EXPECT_EQ(line().Ask(RequestFrame(5, 1, 5, B({'Q', 'q', 0xBA, 0x01, 0x05})), readBack.size()), readBack);
}

TEST_F(Stations, ReadsSampleTablesAndTheHistoryAreaThroughQN) {
    auto& sim = line().sim;
    sim.SetSampleRow(5, 1, 7, {24, 5, 17, 13, 45, 30}, 0x02, {1.0, -1.0, 0.5, 0, 0, 0, 0, 100.0});
    sim.SetHistoryRecord(5, 1, 0x0102, 0x01020304, 1.0f);

    // row 7 is the first row of the second block of 186 bytes (8000h + 186)
    const Bytes sampleRequest = RequestFrame(5, 1, 5, B({'Q', 'N', 0x48, 0xBA, 0x80, 0xBA}));
    const Bytes answer = line().Ask(sampleRequest, 6 + 6 + 186 + 1 + 1);
    ASSERT_EQ(answer.size(), 200u);
    EXPECT_EQ(answer.substr(0, 12), B({0x01, 0xC6, 'y', 5, 1, 5, 'Q', 'N', 0x48, 0xBA, 0x80, 0xBA}));
    EXPECT_EQ(answer.substr(12, 31), B({0x24, 0x05, 0x17, 0x13, 0x45, 0x30, 0x02, 0x40, 0x00, 0x00, 0xC0, 0x00, 0x00,
                                        0x3F, 0x00, 0x00}) +
                                         Bytes(12, '\0') + B({0x46, 0x90, 0x00}));
    EXPECT_EQ(answer.substr(43, 155), Bytes(155, '\0'));
    EXPECT_EQ(answer[198], '\0');                  // the status byte after the data
    EXPECT_EQ(zksim::XorOf(answer), 0);            // the check byte closes the frame
    // the alternative kind of the same table reads the same rows
    const Bytes alt = line().Ask(RequestFrame(5, 1, 5, B({'Q', 'N', 0x88, 0xBA, 0x80, 0xBA})), 200);
    EXPECT_EQ(alt.substr(12, 31), answer.substr(12, 31));

    // history record 1 at F00000 + 10
    const Bytes history = Routed(5, B({'Q', 'N', 0xF0, 0x0A, 0x00, 0x0A, 0x02, 0x01, 0x04, 0x03, 0x02, 0x01, 0x00,
                                       0x00, 0x80, 0x3F, 0x00}));
    EXPECT_EQ(zksim::HexText(line().Ask(RequestFrame(5, 1, 5, B({'Q', 'N', 0xF0, 0x0A, 0x00, 0x0A})), history.size())),
              zksim::HexText(history));

    // a history engineer's ring replaces the image
    sim.SetHistoryReader(5, [](uint32_t address, uint8_t* out, size_t count) {
        for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((address >> 16) + i);
    });
    const Bytes hooked = Routed(5, B({'Q', 'N', 0xF3, 0x00, 0x10, 0x02, 0xF3, 0xF4, 0x00}));
    EXPECT_EQ(line().Ask(RequestFrame(5, 1, 5, B({'Q', 'N', 0xF3, 0x00, 0x10, 0x02})), hooked.size()), hooked);
}

TEST_F(Stations, AStationBehindAnotherAnswersWithItsOwnAddress) {
    line().sim.SetBinaryIn(7, 1, true);
    line().sim.SetBinaryIn(7, 3, true);
    line().sim.SetBinaryIn(7, 6, true);
    line().sim.SetBinaryIn(7, 8, true);
    const Bytes request = B({0x05, 0x07, 0x59, 0x01, 0x07, 0x01, 0x42, 0x01, 0x1F});
    EXPECT_EQ(line().Ask(request, 10), B({0x01, 0x08, 0x79, 0x07, 0x01, 0x07, 0x42, 0x01, 0xA5, 0x97}));
}

TEST_F(Stations, FramesTheStationsCannotTakeGetNoAnswer) {
    const Bytes good = RequestFrame(5, 1, 5, B({'B', 0x01}));
    Bytes badCheck = RequestFrame(5, 1, 5, B({'B', 0x03}));
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    const Bytes unknownStation = RequestFrame(9, 1, 9, B({'B', 0x01}));
    const Bytes unknownRoute = RequestFrame(0x33, 1, 5, B({'B', 0x01}));
    // each is followed by a good request; the first thing that comes back is its answer
    for (const Bytes& bad : {badCheck, unknownStation, unknownRoute}) {
        SCOPED_TRACE(zksim::HexText(bad));
        const Bytes expected = Routed(5, B({'B', 0x01, 0x0F}));
        EXPECT_EQ(line().Ask(bad + good, expected.size()), expected);
    }
    EXPECT_EQ(line().sim.Status().badFrames, 1u);
}

TEST(StationLayouts, TheShortLayoutAndTheLinesFramingBytes) {
    // the decoder's example: station 1, points 1..4 on, answered without a routing item
    zksim::SimOptions o = FastOptions();
    o.layout = zksim::Layout::Short;
    o.line = TestLine();
    o.line.stations[0].address = 1;
    o.line.stations[0].retranslation = 1;
    {
        SimLine line(o);
        line.Dial();
        for (int p = 1; p <= 4; ++p) line.sim.SetBinaryIn(1, p, true);
        EXPECT_EQ(line.Ask(B({0x01, 0x07, 0x59, 0x01, 0x01, 0x01, 0x42, 0x01, 0x1D}), 6),
                  B({0x01, 0x04, 0x42, 0x01, 0x0F, 0x49}));
    }
    // PREFIX FF FF, SUFFIX 0D 0A and PRESUFFIX 0D as a parameter file gives them
    o.layout = zksim::Layout::Routed;
    o.line.prefix = B({0xFF, 0xFF});
    o.line.suffix = "\r\n";
    o.line.presuffix = "\r";
    SimLine line(o);
    line.Dial();
    for (int p = 1; p <= 4; ++p) line.sim.SetBinaryIn(1, p, true);
    line.sim.SetBinaryIn(1, 9, true);
    const Bytes request = B({0xFF, 0xFF, 0x01, 0x08, 0x59, 0x01, 0x01, 0x01, 0x42, 0x03, 0x0D, 0x1D, 0x0D, 0x0A});
    EXPECT_EQ(zksim::XorOf(request.substr(2, 10)), 0);
    // noise and a lone FF before the prefix are passed over
    const Bytes answer = B({0xFF, 0xFF, 0x01, 0x09, 0x79, 0x01, 0x01, 0x01, 0x42, 0x03, 0x0F, 0x01, 0x3F, 0x0D, 0x0A});
    EXPECT_EQ(zksim::HexText(line.Ask(B({0x00, 0xFF, 0x13}) + request, answer.size())), zksim::HexText(answer));
}

struct FaultCase {
    const char* what;
    zksim::Fault fault;
    Bytes expected;  // what arrives for the spoilt answer (before the next, good one)
};

TEST(StationFaults, SpoilTheNextAnswersAsInjected) {
    const Bytes good = B({0x01, 0x08, 0x79, 0x05, 0x01, 0x05, 0x42, 0x01, 0x0F, 0x3D});
    Bytes badCheck = good;
    badCheck.back() = static_cast<char>(0x3D ^ 0x5A);
    zksim::Fault silence, bad, garbage, address, truncated, slow, other;
    silence.silence = true;
    bad.badCheck = true;
    garbage.garbageBefore = B({0x00, 0x13});
    garbage.garbageAfter = B({0xAA});
    address.wrongAddress = 6;
    truncated.truncate = 4;
    slow.delayMs = 50;
    other.station = 7;
    other.silence = true;
    const FaultCase cases[] = {
        {"silence", silence, Bytes()},
        {"a wrong check byte", bad, badCheck},
        {"garbage around the frame", garbage, B({0x00, 0x13}) + good + B({0xAA})},
        {"another station's address", address, B({0x01, 0x08, 0x79, 0x06, 0x01, 0x06, 0x42, 0x01, 0x0F, 0x3D})},
        {"a truncated frame", truncated, good.substr(0, 4)},
        {"a slow answer", slow, good},
        {"a fault of another station", other, good},
    };
    zksim::SimOptions o = FastOptions();
    o.line = TestLine();
    SimLine line(o);
    line.Dial();
    for (int p = 1; p <= 4; ++p) line.sim.SetBinaryIn(5, p, true);
    const Bytes request = RequestFrame(5, 1, 5, B({'B', 0x01}));
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        line.sim.InjectFault(c.fault);
        // the spoilt answer, then the next answer is good again
        const Bytes got = line.Ask(request + request, c.expected.size() + good.size());
        EXPECT_EQ(zksim::HexText(got), zksim::HexText(c.expected + good));
    }
    // a lasting fault until cleared
    zksim::Fault always;
    always.count = -1;
    always.badCheck = true;
    line.sim.InjectFault(always);
    EXPECT_EQ(line.Ask(request + request, 2 * good.size()), badCheck + badCheck);
    line.sim.ClearFaults();
    EXPECT_EQ(line.Ask(request, good.size()), good);

    // the carrier drops instead of the answer
    zksim::Fault drop;
    drop.dropCarrier = true;
    line.sim.InjectFault(drop);
    EXPECT_EQ(line.Ask(request, 14), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(line.sim.Status().mode, zksim::ModemMode::Command);
    EXPECT_FALSE(line.sim.Status().connected);
}

}  // namespace
}  // namespace zktest
