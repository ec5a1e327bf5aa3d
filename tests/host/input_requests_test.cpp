// The host's reads: GetInput in its four tiers for every host type, and InputRequest with its
// duplicate check.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "host_fixture.h"
#include "host/commands.h"
#include "protocol/encodings.h"

using namespace zk;
using namespace zktest;

namespace {

// What a read wrote: the first `size` bytes of the value area, or nothing at all.
struct Expect {
    std::int32_t type;
    std::string bytes;  // hexadecimal; empty: the value stays untouched
};

template <typename T>
std::string HexOf(T x) {
    return Hex(std::string_view(reinterpret_cast<const char*>(&x), sizeof x));
}

void ExpectRead(HostFixture& f, std::uint16_t channel, const Expect& e) {
    const ZkHostValue v = f.Get(channel, e.type);
    if (e.bytes.empty()) {
        EXPECT_TRUE(Untouched(v)) << "channel " << channel << " type " << e.type << " wrote " << Hex({reinterpret_cast<const char*>(v.value), 12});
        return;
    }
    const std::string got = Hex(std::string_view(reinterpret_cast<const char*>(v.value), e.bytes.size() / 2));
    EXPECT_EQ(got, e.bytes) << "channel " << channel << " type " << e.type;
    for (std::size_t k = e.bytes.size() / 2; k < sizeof v.value; ++k)
        EXPECT_EQ(v.value[k], kUntouched) << "channel " << channel << " type " << e.type << " byte " << k;
}

// Every type other than `served` leaves the value untouched.
void ExpectOnlyType(HostFixture& f, std::uint16_t channel, std::int32_t served) {
    for (std::int32_t t : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, -1}) {
        if (t == served) continue;
        EXPECT_TRUE(Untouched(f.Get(channel, t))) << "channel " << channel << " type " << t;
    }
}

}  // namespace

TEST(GetInputParameterChannel, EveryHostTypeConvertsTheItemsValue) {
    HostFixture f;
    f.Standard(1);
    ChannelItem& item = f.Item(1, 1200, DirBidir, 0, 32, 0, QqInteger);
    f.Build();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float value;
        std::vector<Expect> reads;
    } cases[] = {
        {300.75f,
         {{2, "00"}, {3, "2C"}, {6, "2C"}, {4, "2C01"}, {7, "2C01"}, {5, "2C010000"}, {8, "FBFFFFFF"},
          {9, HexOf(300.75f)}, {10, HexOf(300.75)}, {0, ""}, {1, ""}, {12, ""}, {13, ""}, {-7, ""}}},
        {1.0f, {{2, "01"}, {3, "01"}, {10, HexOf(1.0)}}},
        {-1.5f, {{2, "00"}, {3, "FF"}, {4, "FFFF"}, {5, "FFFFFFFF"}, {7, "FFFF"}}},
        // NaN reads as 0; huge values saturate before the low bits are taken.
        {nan, {{2, "00"}, {3, "00"}, {5, "00000000"}, {9, HexOf(nan)}}},
        {inf, {{3, "FF"}, {4, "FFFF"}, {5, "FFFFFFFF"}, {10, HexOf(static_cast<double>(inf))}}},
        {-inf, {{3, "00"}, {5, "00000000"}}},
        {3e9f, {{5, "005ED0B2"}, {4, "005E"}}},
    };
    for (const Case& c : cases) {
        item.Value = c.value;
        item.RawValue = -5;
        for (const Expect& e : c.reads) ExpectRead(f, 1200, e);
    }
}

TEST(GetInputParameterChannel, TextGoesIntoTheHostsBufferOnlyWhenThereIsOne) {
    HostFixture f;
    f.Standard(1);
    ChannelItem& item = f.Item(1, 1300, DirRead, 0, 40, 0, QqString);
    f.Build();
    EXPECT_EQ(f.GetText(1300), std::string(32, ' '));  // 32 blanks and a NUL at creation
    item.Text.assign("PUMPA 1");
    std::vector<char> buffer(64, 'x');
    ZkHostValue v = HostValue(HostText);
    char* p = buffer.data();
    std::memcpy(v.value, &p, sizeof p);
    GetInput(*f.rec, 1300, v);
    EXPECT_EQ(std::string(buffer.data()), "PUMPA 1");
    EXPECT_EQ(buffer[33], 'x');  // exactly 33 bytes
    // A null text pointer: nothing is written, nothing breaks.
    ZkHostValue null = HostValue(HostText);
    std::memset(null.value, 0, sizeof null.value);
    GetInput(*f.rec, 1300, null);
    for (std::uint8_t b : null.value) EXPECT_EQ(b, 0);
}

TEST(GetInputSystemChannels, EachServesItsOwnTypeAndEndsTheSearch) {
    HostFixture f;
    DriverContext& ctx = f.ctx;
    // A station whose implicit numbers lie on the system channels: none of them is reached.
    StationRecord& s = f.Standard(1, 96, 96, 64, 48, 45, 100);
    s.BlockBase[KindAnalog] = 60004;          // 60004..60067
    s.BlockBase[KindBinaryOut] = 60100;       // 60100..60195
    s.BlockBase[KindMemoryOut] = 60196;       // 60196..60295
    s.BlockBase[KindCounter] = 65399;         // 65399..65446
    s.BlockBase[KindBinaryIn] = 65447;        // 65447..65535 (cut)
    s.Analog.fill(42.0);
    s.BinaryOut.fill(true);
    s.MemoryOut.fill(MemoryEntry{0, 42.0, 3});
    for (auto& c : s.Counters) c.Value = 42.0;
    s.BinaryIn.fill(true);
    f.Build();

    ctx.Table.TableRow = 3;
    TextRow& row = ctx.Table.TextTable[2];
    for (int k = 0; k < 7; ++k) row.State[k] = static_cast<std::uint8_t>(0x11 * (k + 1));
    row.Cells[0].assign(FloatToStationReal(100.0).view());     // 46 90 00
    row.Cells[7].assign(FloatToStationReal(-0.75).view());     // BF 80 00
    row.Cells[1].assign(std::string_view("\x81\x02\x40", 3));
    ctx.Table.MbActive = true;
    ctx.Table.MbFileFlag = true;
    ctx.Modem.ModemReady = true;
    ctx.Timing.PassInterval = 12.5;
    ctx.History.HdbStation = 0x12345;
    ctx.History.HdbNumber = 3;
    ctx.History.HdbWritePos = 1234;
    ctx.History.HdbTop = 5678;
    ctx.History.HdbReadState = zk::HdbReadState::Finished;
    ctx.History.HdbReadTime = 1.5;
    ctx.History.HdbReadTimeout = 600.0;
    ctx.History.HdbItem13 = -9;
    ctx.History.HdbCapacity = 50000;
    ctx.History.HdbUserPos = 49999;
    for (int k = 0; k < 6; ++k) ctx.History.HdbDate[k] = static_cast<std::uint16_t>(2000 + k);
    ctx.TestValue = 3.25;
    ctx.TestChannel = 777;
    ctx.TestFlag = true;
    std::uint8_t hostBuffer[64];
    ctx.HostBuffer = hostBuffer;

    struct Case {
        std::uint16_t channel;
        Expect read;
    } cases[] = {
        {60004, {3, "11"}},
        {60009, {3, "66"}},
        {60010, {10, HexOf(100.0)}},
        {60017, {10, HexOf(-0.75)}},
        {60018, {2, "01"}},
        {60022, {2, "01"}},
        // Cell 1 (bits 0..23) and cell 2 (bits 24..47): byte 0 bit 0 of cell 2 is 60124.
        {60100, {2, "00"}},
        {60124, {2, "01"}},
        {60131, {2, "01"}},
        {60133, {2, "01"}},
        {60134, {2, "00"}},
        {60146, {2, "01"}},
        {60294, {2, "01"}},
        {65399, {10, HexOf(12.5)}},
        {65400, {7, "4523"}},
        {65401, {7, "0300"}},
        {65402, {5, HexOf<std::uint32_t>(1234)}},
        {65403, {5, HexOf<std::uint32_t>(5678)}},
        {65404, {7, "FF00"}},
        {65405, {10, HexOf(1.5)}},
        {65406, {10, HexOf(600.0)}},
        {65409, {8, HexOf<std::int32_t>(-9)}},
        {65414, {8, HexOf<std::int32_t>(50000)}},
        {65410, {4, HexOf<std::uint16_t>(49999)}},
        {65416, {4, HexOf<std::uint16_t>(2000)}},
        {65421, {4, HexOf<std::uint16_t>(2005)}},
        {65533, {10, HexOf(3.25)}},
        {65534, {10, HexOf(777.0)}},
        {65535, {2, "01"}},
    };
    for (const Case& c : cases) {
        ExpectRead(f, c.channel, c.read);
        ExpectOnlyType(f, c.channel, c.read.type);
    }
    // History record channels without a browsable record: handled, nothing written.
    for (std::uint16_t ch : std::initializer_list<std::uint16_t>{65411, 65412, 65413}) ExpectOnlyType(f, ch, -100);

    // 65532: the buffer descriptor, and the search goes on.
    ZkHostValue d = f.Get(65532, HostBuffer);
    EXPECT_EQ(d.value[0], 9);
    EXPECT_EQ(As<std::uint16_t>(ZkHostValue{0, {d.value[1], d.value[2]}}), 66);
    std::uint8_t* address = nullptr;
    std::memcpy(&address, d.value + 3, sizeof address);
    EXPECT_EQ(address, hostBuffer);
    EXPECT_EQ(As<std::uint8_t>(f.Get(65532, HostBoolean)), 1);  // binary input 86 of the station
    // 65407, 65408 and 65415 are no system channels for reading: the station's points answer.
    for (std::uint16_t ch : std::initializer_list<std::uint16_t>{65407, 65408, 65415}) EXPECT_EQ(As<double>(f.Get(ch, HostDouble)), 42.0) << ch;
    // Neighbours of the system ranges belong to the station.
    EXPECT_EQ(As<double>(f.Get(60067, HostDouble)), 42.0);
    EXPECT_EQ(As<double>(f.Get(60292, HostDouble)), 42.0);
}

TEST(GetInputSystemChannels, TableReadsFollowTableRowAndStayInsideTheTable) {
    HostFixture f;
    f.ctx.Table.TextTable[527].State[0] = 0x5A;
    f.ctx.Table.TableRow = 528;
    ExpectRead(f, 60004, {3, "5A"});
    f.ctx.Table.TableRow = 529;  // only a bad write could leave it here
    ExpectRead(f, 60004, {3, ""});
    ExpectRead(f, 60010, {10, ""});
}

TEST(GetInputSystemChannels, HistoryRecordOnlyWhileItCanBeBrowsed) {
    HostFixture f;
    StationRecord& s = f.Standard(2);
    f.Standard(1);
    f.Build();
    s.Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
    std::uint8_t* r = s.Hdb.get() + 49999 * kHdbRecordSize;
    const std::uint8_t record[10] = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x80, 0x3F};
    std::memcpy(r, record, sizeof record);
    f.ctx.History.HdbStation = 2;
    f.ctx.History.HdbUserPos = 49999;
    ExpectRead(f, 65411, {4, "3412"});
    ExpectRead(f, 65412, {5, "78563412"});
    ExpectRead(f, 65413, {9, HexOf(1.0f)});
    // An infinite sample reads as the fallback -1.
    const std::uint8_t inf[4] = {0x00, 0x00, 0x80, 0x7F};
    std::memcpy(r + 6, inf, 4);
    ExpectRead(f, 65413, {9, HexOf(-1.0f)});

    struct Blocked {
        const char* why;
        std::function<void(DriverContext&)> set;
    } blocked[] = {
        {"position 50000", [](DriverContext& c) { c.History.HdbUserPos = 50000; }},
        {"copy in progress", [](DriverContext& c) { c.History.HdbFlag = true; }},
        {"station 0", [](DriverContext& c) { c.History.HdbStation = 0; }},
        {"station not defined", [](DriverContext& c) { c.History.HdbStation = 3; }},
        {"no buffer", [](DriverContext& c) { c.History.HdbStation = 1; }},
    };
    for (const Blocked& b : blocked) {
        f.ctx.History.HdbStation = 2;
        f.ctx.History.HdbUserPos = 49999;
        f.ctx.History.HdbFlag = false;
        b.set(f.ctx);
        EXPECT_TRUE(Untouched(f.Get(65411, HostU16))) << b.why;
        EXPECT_TRUE(Untouched(f.Get(65412, HostU32))) << b.why;
        EXPECT_TRUE(Untouched(f.Get(65413, HostFloat))) << b.why;
    }
}

TEST(GetInputStationChannels, EveryKindWithItsTypeAndNoOther) {
    HostFixture f;
    f.Standard(1);
    StationRecord& s = f.Standard(2, 16, 8, 4, 4, 3, 5);  // a = 500
    s.BinaryIn[3] = true;
    s.InvertIn[4] = true;  // point 4 is false, inverted
    s.BinaryOut[2] = true;
    s.Analog[4] = -12.5;
    s.Counters[1].Value = 1e6;
    s.MemoryIn[3].Value = 0.25;
    s.MemoryOut[5].Value = 77.0;
    s.TimeoutCount = 7;
    s.RequestCount = 4000000000u;
    s.ErrorReportCount = 8;
    s.ElapsedTime = 9.5;
    s.SleepLeft = 10.5;
    s.ErrorCount = 11;
    s.AwaitingAnswer = true;
    s.Unreachable = true;
    s.BiFresh = true;
    s.CtcFresh = true;
    s.ActiveReport = true;
    s.DialRequested = true;
    s.OnLine = true;
    s.CallCode = 0xDEADBEEF;
    s.BlockBase[KindNameChannel] = 990;
    s.BlockBase[KindCallCode] = 991;
    f.Build();

    struct Case {
        std::uint16_t channel;
        Expect read;
    } cases[] = {
        {503, {2, "01"}},   {504, {2, "01"}},   {505, {2, "00"}},   {598, {2, "01"}},
        {599, {2, "00"}},   {696, {10, HexOf(-12.5)}}, {757, {10, HexOf(1e6)}}, {907, {10, HexOf(0.25)}},
        {809, {10, HexOf(77.0)}}, {950, {10, HexOf(7.0)}}, {981, {10, HexOf(4e9)}}, {951, {10, HexOf(8.0)}},
        {952, {10, HexOf(9.5)}}, {953, {10, HexOf(10.5)}}, {954, {10, HexOf(11.0)}},
        {964, {2, "01"}},  // kind 17
        {965, {2, "01"}},  // kind 18
        {966, {2, "01"}},  // kind 19
        {967, {2, "00"}},  // kind 20
        {968, {2, "01"}},  // kind 21
        {969, {2, "00"}},  // kind 22
        {970, {2, "00"}},  // kind 23
        {979, {2, "01"}},  // kind 32
        {977, {2, "01"}},  // kind 30
        {978, {2, "01"}},  // kind 31
        {991, {5, "EFBEADDE"}},
    };
    for (const Case& c : cases) {
        ExpectRead(f, c.channel, c.read);
        ExpectOnlyType(f, c.channel, c.read.type);
    }
    // The kinds written by the host only give nothing for any type.
    for (std::uint16_t ch : std::initializer_list<std::uint16_t>{960, 961, 962, 963, 971, 972, 973, 974, 975, 976, 980}) ExpectOnlyType(f, ch, -100);
    // Points past a group's count are no channels of the station.
    EXPECT_TRUE(Untouched(f.Get(517, HostBoolean)));
    // Texts: the display lines and the name.
    EXPECT_EQ(f.GetText(956), "<line 1>");
    EXPECT_EQ(f.GetText(959), "<line 4>");
    s.Name.assign(std::string(80, 'N'));
    EXPECT_EQ(f.GetText(990, 81), std::string(80, 'N'));
    std::memset(s.DisplayLines[1].data(), 'D', 256);  // no NUL: the text ends at 255 characters
    EXPECT_EQ(f.GetText(957), std::string(255, 'D'));
    ExpectOnlyType(f, 956, HostText);
}

TEST(GetInputStationChannels, MemoryBlockElementsByElementType) {
    HostFixture f;
    f.Standard(1);
    MemoryBlock& b = f.Block(1, 3000, 3001, "123456", "111111");
    b.Cells[0].assign(std::string_view("\xF0", 1));
    b.Cells[1].assign(std::string_view("\x34\x12", 2));
    b.Cells[2].assign(std::string_view("\xFE\xFF", 2));
    b.Cells[3].assign(std::string_view("\x78\x56\x34\x12", 4));
    b.Cells[4].assign(std::string_view("\xFF\xFF\xFF\xFF", 4));
    b.Cells[5].assign(FloatToStationReal(-100.0).view());
    f.Build();
    const std::pair<std::uint16_t, Expect> cases[] = {
        {3001, {3, "F0"}}, {3002, {4, "3412"}}, {3003, {7, "FEFF"}}, {3004, {5, "78563412"}},
        {3005, {8, "FFFFFFFF"}}, {3006, {10, HexOf(-100.0)}},
    };
    for (const auto& [channel, read] : cases) {
        ExpectRead(f, channel, read);
        ExpectOnlyType(f, channel, read.type);
    }
    ExpectOnlyType(f, 3000, -100);  // the block's own number is written only
    EXPECT_TRUE(Untouched(f.Get(3007, HostU8)));
}

TEST(GetInputDriverChannels, CountersAndQueueLengths) {
    HostFixture f;
    DriverContext& ctx = f.ctx;
    ctx.SentCount = 11.0;
    ctx.SinceAnswer = 2.5;
    ctx.Scheduler.OutKind = 16;
    ctx.Scheduler.FullSleepLeft = 30.0;
    ctx.Framing.ReceivedCount = 13.0;
    ctx.Scheduler.OutStation = 4;
    ctx.Scheduler.TxState = zk::TxState::Receiving;
    ctx.Framing.AcceptedCount = 12.0;
    ctx.SinceTransmit = 0.5;
    AppendRequest(ctx.ReadQueue, 1, 16, 0, "abc", nullptr);
    AppendRequest(ctx.ReadQueue, 1, 16, 0, "abd", nullptr);
    AppendRequest(ctx.WriteQueue, 1, 4, 1, {}, nullptr);
    const std::pair<std::uint16_t, double> cases[] = {
        {486, 11.0}, {488, 0.0}, {489, 2.5}, {490, 3.0}, {491, 16.0}, {492, 30.0}, {493, 13.0},
        {494, 4.0},  {495, 2.0}, {497, 1.0}, {498, 12.0}, {499, 0.5},
    };
    for (const auto& [channel, value] : cases) {
        ExpectRead(f, channel, {10, HexOf(value)});
        ExpectOnlyType(f, channel, HostDouble);
    }
    // The heap in use (0 where a sanitizer replaces the allocator).
    const ZkHostValue heap = f.Get(496, HostI32);
    EXPECT_FALSE(Untouched(heap));
    EXPECT_GE(As<std::int32_t>(heap), 0);
    ExpectOnlyType(f, 496, HostI32);
    ExpectOnlyType(f, 487, -100);
    ExpectOnlyType(f, 485, -100);
    ExpectOnlyType(f, 500, -100);
    // A station range over the driver-wide numbers comes first.
    StationRecord& s = f.Standard(1, 96, 96, 64, 48, 45, 100);
    s.BlockBase[KindAnalog] = 480;
    s.Analog.fill(5.0);
    f.Build();
    ExpectRead(f, 486, {10, HexOf(5.0)});
}

TEST(GetInputParameterChannel, WinsOverEveryOtherTier) {
    HostFixture f;
    StationRecord& s = f.Standard(1);
    s.BinaryIn[1] = true;
    f.Item(1, 1, DirRead, 0, 0, 1, QqWord).Value = 2.0f;
    f.Item(1, 60018, DirRead, 0, 0, 2, QqWord).Value = 3.0f;
    f.Item(1, 489, DirRead, 0, 0, 3, QqWord).Value = 4.0f;
    f.Build();
    ExpectRead(f, 1, {10, HexOf(2.0)});
    ExpectRead(f, 1, {2, "00"});  // the item's value is not 1.0
    ExpectRead(f, 60018, {10, HexOf(3.0)});
    ExpectRead(f, 489, {10, HexOf(4.0)});
}

TEST(InputRequest, QueuesOneReadPerAddressWhileTheStationIsAwake) {
    HostFixture f;
    f.Standard(1);
    StationRecord& s2 = f.Standard(2);
    f.Item(1, 1200, DirRead, 0, 32, 0, QqWord);
    f.Item(1, 1201, DirWrite, 0, 32, 4, QqWord);
    f.Item(1, 1202, DirBidir, 0, 32, 8, QqReal);
    f.Item(1, 1203, DirRead, 1, 2, 250, QqString);
    f.Item(2, 1204, DirRead, 0, 32, 0, QqWord);  // same address, other station
    f.Build();
    f.Request(1200);
    f.Request(1200);  // already queued behind nothing: still one read
    f.Request(1201);  // WRITE: nothing
    f.Request(1202);
    f.Request(1203);  // STRING: eight addresses, the third byte counting up (and wrapping)
    f.Request(1204);
    f.Request(9999);  // unknown
    EXPECT_EQ(Requests(f.ctx.ReadQueue),
              (std::vector<std::string>{"1 16 0 002000", "1 16 0 002008", "1 16 0 0102FA", "1 16 0 0102FB",
                                        "1 16 0 0102FC", "1 16 0 0102FD", "1 16 0 0102FE", "1 16 0 0102FF",
                                        "1 16 0 010200", "1 16 0 010201", "2 16 0 002000"}));
    EXPECT_TRUE(f.ctx.WriteQueue.Head == nullptr);

    // A sleeping station queues nothing; suspended inputs queue nothing.
    EmptyQueue(f.ctx.ReadQueue);
    s2.SleepLeft = 30.0;
    f.Request(1204);
    EXPECT_EQ(f.ctx.ReadQueue.Count, 0u);
    s2.SleepLeft = 0.0;
    f.ctx.InputsSuspended = true;
    f.Request(1204);
    EXPECT_EQ(f.ctx.ReadQueue.Count, 0u);
    f.ctx.InputsSuspended = false;
    f.Request(1204);
    EXPECT_EQ(f.ctx.ReadQueue.Count, 1u);
}

TEST(InputRequest, WakesTheWorkerForEveryReadChannelAndForNoWriteItem) {
    HostFixture f;
    f.Standard(1);
    StationRecord& s2 = f.Standard(2);
    f.Item(1, 1200, DirRead, 0, 32, 0, QqWord);
    f.Item(1, 1201, DirWrite, 0, 32, 4, QqWord);
    f.Item(1, 1202, DirBidir, 0, 32, 8, QqWord);
    f.Item(2, 1204, DirRead, 0, 32, 0, QqWord);
    f.Build();
    s2.SleepLeft = 30.0;
    struct Case {
        const char* name;
        std::uint16_t channel;
        bool suspended;
        bool woken;
        std::size_t queued;  // reads queued by the request
    };
    const Case cases[] = {
        {"a READ item", 1200, false, true, 1},
        {"the same item again, already queued", 1200, false, true, 0},
        {"a BIDIR item", 1202, false, true, 1},
        {"an item of a sleeping station", 1204, false, true, 0},
        {"a WRITE item", 1201, false, false, 0},
        {"no such item", 9999, false, false, 0},
        {"inputs suspended", 1202, true, false, 0},
    };
    f.rec->Wake.Wait(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.ctx.InputsSuspended = c.suspended;
        const std::size_t before = f.ctx.ReadQueue.Count;
        f.Request(c.channel);
        EXPECT_EQ(f.rec->Wake.Wait(0), c.woken);
        EXPECT_EQ(f.ctx.ReadQueue.Count - before, c.queued);
        if (c.channel == 1202 && !c.suspended) EmptyQueue(f.ctx.ReadQueue);
    }
}

TEST(InputRequest, AMergedReadCountsForEveryAddressInIt) {
    HostFixture f;
    f.Standard(1);
    for (int k = 0; k < 3; ++k) f.Item(1, static_cast<std::uint16_t>(1300 + k), DirRead, 0, 40, static_cast<std::uint8_t>(k), QqWord);
    f.Build();
    for (int k = 0; k < 3; ++k) f.Request(static_cast<std::uint16_t>(1300 + k));
    // The scheduler merges the three reads into one request.
    RequestNode* head = f.ctx.ReadQueue.Head;
    MergeRequests(f.ctx.ReadQueue, head, head->Next);
    MergeRequests(f.ctx.ReadQueue, head, head->Next);
    ASSERT_EQ(Requests(f.ctx.ReadQueue), std::vector<std::string>{"1 16 0 002800002801002802"});
    for (int k = 0; k < 3; ++k) f.Request(static_cast<std::uint16_t>(1300 + k));
    EXPECT_EQ(f.ctx.ReadQueue.Count, 1u);
    {
        std::lock_guard lock(f.ctx.Lock);
        EXPECT_TRUE(IsReadQueued(f.ctx, 1, *f.ctx.Stations[1]->Channels[1]));
        EXPECT_FALSE(IsReadQueued(f.ctx, 2, *f.ctx.Stations[1]->Channels[1]));
    }
    // Once the merged request has been served, each item is read again.
    RemoveRequest(f.ctx.ReadQueue, f.ctx.ReadQueue.Head);
    f.Request(1301);
    EXPECT_EQ(Requests(f.ctx.ReadQueue), std::vector<std::string>{"1 16 0 002801"});
}
