// The host's writes: parameter items, the system channels and their commands, and every kind
// of implicit station channel, with matching and mismatching types.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/ioctl.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <thread>

#include "host_fixture.h"
#include "line/pty.h"
#include "line/serial.h"
#include "history/history.h"
#include "host/commands.h"
#include "host/system_channels.h"
#include "host/station_channels.h"
#include "worker/line_commands.h"
#include "line/modem.h"
#include "protocol/encodings.h"

using namespace zk;
using namespace zktest;

namespace {

constexpr std::uint32_t kAllTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0xFFFFFFFF};

// The whole observable state that a write may change, as text, to tell "nothing happened".
std::string Snapshot(HostFixture& f) {
    DriverContext& c = f.ctx;
    std::string out;
    for (const auto& r : Requests(c.WriteQueue)) out += "W" + r + ";";
    for (const auto& r : Requests(c.ReadQueue)) out += "R" + r + ";";
    for (const auto& m : c.Modem.CommandQueue) out += "M" + std::to_string(m.Kind) + m.Number.str() + ";";
    out += std::to_string(f.rec->Window->EventList.size()) + ";";
    for (int n = 1; n <= c.StationCount; ++n) {
        const StationRecord& s = *c.Stations[static_cast<std::size_t>(n)];
        for (std::size_t i = 1; i <= 96; ++i) out += s.BinaryOut[i] ? '1' : '0';
        for (std::size_t i = 1; i <= 100; ++i) out += FormatReal(1, 3, s.MemoryOut[i].Value) + ",";
        for (std::size_t i = 1; i <= 48; ++i) out += FormatReal(1, 3, s.Counters[i].Value) + ",";
        out += std::to_string(s.TimeoutCount) + "," + std::to_string(s.RequestCount) + "," + std::to_string(s.CallCode);
        out += std::string{s.BiFresh, s.AiFresh, s.CtcFresh, s.MemFresh, s.ControlError, s.ActiveReport,
                           s.DialRequested, s.OnLine, s.Unreachable, s.AwaitingAnswer};
        for (const auto& b : s.MemoryBlocks)
            for (const auto& cell : b->Cells) out += Hex(cell.view());
        for (const auto& item : s.Channels) out += FormatReal(1, 3, item->Value) + std::to_string(item->RawValue);
    }
    out += std::to_string(c.SentCount.load()) + std::to_string(c.InputsSuspended.load()) +
           std::to_string(c.Table.MbRequestStation) + std::to_string(c.Table.MbKindIndex) + std::to_string(c.Table.TableRow) +
           std::to_string(c.Table.MbActive.load()) + std::to_string(c.Table.MbFileFlag) + std::to_string(c.Table.MbAltKinds.load()) +
           std::to_string(c.Global.BEEP.load()) + std::to_string(c.History.HdbStation) + std::to_string(c.History.HdbNumber) +
           std::to_string(static_cast<int>(c.History.HdbReadState)) + std::to_string(c.History.HdbReadTimeout) + std::to_string(c.History.HdbUserPos) +
           std::to_string(c.TestValue) + std::to_string(c.TestChannel) + std::to_string(c.TestFlag) +
           std::to_string(static_cast<int>(c.Scheduler.TxState.load()));
    return out;
}

}  // namespace

// ---- Parameter items ------------------------------------------------------------------------

TEST(OutputParameterChannel, EveryHostTypeStoresShowsAndQueuesTheWrite) {
    struct Case {
        std::uint32_t type;
        std::uint64_t bits;
        float value;         // Value after the store
        std::int32_t raw;    // RawValue after the store
        const char* shown;   // the number in the event line
    } cases[] = {
        {2, 0xFF, -1.0f, 0, "-1.00"},  // the first byte read as signed
        {3, 0x1FF, 255.0f, 0, "255.00"},
        {4, 0x1FFFF, 65535.0f, 0, "65535.00"},
        {5, 0xFFFFFFFFull, 4294967296.0f, 0, "4294967296.00"},
        {6, 0x80, -128.0f, 0, "-128.00"},
        {7, 0x8000, -32768.0f, 0, "-32768.00"},
        {8, 0xFFFFFFFE, 0.0f, -2, "0.00"},
        {9, Bits(2.5f), 2.5f, 0, "2.50"},
        {10, Bits(-0.126), -0.126f, 0, "-0.13"},
        {10, Bits(1e300), std::numeric_limits<float>::infinity(), 0, "inf"},
    };
    for (const Case& c : cases) {
        HostFixture f;
        f.Standard(1).Name.assign("STANICE A");
        ChannelItem& item = f.Item(1, 1200, DirRead, 0x0A, 0x20, 0xFF, QqLongint);  // a READ item is written too
        f.Build();
        f.Put(1200, c.type, c.bits);
        EXPECT_EQ(item.Value, c.value) << c.type;
        EXPECT_EQ(item.RawValue, c.raw) << c.type;
        EXPECT_EQ(f.LastEvent(), std::string("STANICE A - QQ[0A.20.FF]=") + c.shown) << c.type;
        EXPECT_EQ(Requests(f.ctx.WriteQueue), std::vector<std::string>{"1 15 0 0A20FF" + Hex({reinterpret_cast<const char*>(&c.raw), 4})})
            << c.type;
    }
    // Types without a store do nothing at all.
    for (std::uint32_t type : {0u, 1u, 11u, 12u, 13u, 0xFFFFFFFFu}) {
        HostFixture f;
        f.Standard(1);
        f.Item(1, 1200, DirWrite, 0, 0, 0, QqWord);
        f.Build();
        const std::string before = Snapshot(f);
        f.Put(1200, type, ~0ull);
        EXPECT_EQ(Snapshot(f), before) << type;
    }
}

TEST(OutputParameterChannel, TheWritesValueBytesFollowTheItemsType) {
    struct Case {
        std::uint8_t itemType;
        std::uint32_t hostType;
        std::uint64_t bits;
        const char* data;  // the queued write's data, empty: nothing queued
    } cases[] = {
        {QqByte, 10, Bits(300.9), "0000012C010000"},
        {QqWord, 10, Bits(-2.5), "000001FEFFFFFF"},
        {QqInteger, 7, 0xFFFF, "000001FFFFFFFF"},
        {QqCardinal, 10, Bits(std::nan("")), "00000100000000"},
        {QqCardinal, 10, Bits(1e30), "000001FFFFFFFF"},  // the float's infinity saturates
        {QqLongint, 8, 0x12345678, "00000178563412"},
        {QqLongint, 10, Bits(5.0), "00000100000000"},  // Value changes; RawValue is what goes
        {QqReal, 10, Bits(1.0), "0000010000803F"},
        {9, 10, Bits(1.0), "00000100000000"},  // an unknown item type writes zeros
        {QqString, 10, Bits(1.0), ""},         // a STRING item stores and shows, queues nothing
    };
    for (const Case& c : cases) {
        HostFixture f;
        f.Standard(1);
        f.Item(1, 1200, DirBidir, 0, 0, 1, c.itemType);
        f.Build();
        f.Put(1200, c.hostType, c.bits);
        const auto queued = Requests(f.ctx.WriteQueue);
        if (*c.data) EXPECT_EQ(queued, std::vector<std::string>{std::string("1 15 0 ") + c.data}) << int{c.itemType};
        else EXPECT_TRUE(queued.empty());
        EXPECT_NE(f.LastEvent().find(" - QQ[00.00.01]="), std::string::npos);
    }
}

// ---- System channels ------------------------------------------------------------------------

TEST(OutputSystemChannels, EachActsOnlyForItsTypeAndEndsTheSearch) {
    struct Case {
        std::uint16_t channel;
        std::uint32_t type;
        std::uint64_t bits;
        std::function<void(HostFixture&)> check;
    };
    const Case cases[] = {
        {486, 10, Bits(41.0), [](HostFixture& f) { EXPECT_EQ(f.ctx.SentCount.load(), 41.0); }},
        {487, 2, 1, [](HostFixture& f) { EXPECT_TRUE(f.ctx.InputsSuspended.load()); }},
        {60000, 3, 2, [](HostFixture& f) { EXPECT_EQ(f.ctx.Table.MbRequestStation, 2); }},
        {60001, 3, 3, [](HostFixture& f) { EXPECT_EQ(f.ctx.Table.MbKindIndex, 3); }},
        {60002, 4, 528, [](HostFixture& f) { EXPECT_EQ(f.ctx.Table.TableRow, 528); }},
        {60003, 2, 0,
         [](HostFixture& f) {
             EXPECT_TRUE(f.ctx.Table.MbActive.load());
             EXPECT_EQ(f.ctx.ReadQueue.Count, 88u);
             EXPECT_EQ(f.ctx.Table.TextTable[5].State[0], 0);
         }},
        {60021, 2, 0, [](HostFixture& f) { EXPECT_TRUE(f.ctx.Table.MbFileFlag); }},
        {60022, 2, 1, [](HostFixture& f) { EXPECT_TRUE(f.ctx.Table.MbFileFlag); }},
        {60292, 2, 1, [](HostFixture& f) { EXPECT_TRUE(f.ctx.Table.MbAltKinds.load()); }},
        {60293, 2, 1,
         [](HostFixture& f) {
             ASSERT_EQ(f.ctx.Modem.CommandQueue.size(), 1u);
             EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Kind, ModemInit);
             EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Block.Command.str(), "ATX3\r");
             EXPECT_EQ(f.LastEvent(), "Inicializace AT-modemu...");
         }},
        {60295, 2, 1,
         [](HostFixture& f) {
             ASSERT_EQ(f.ctx.Modem.CommandQueue.size(), 1u);
             EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Kind, ModemHangUp);
             EXPECT_EQ(f.LastEvent(), "Zavěšení linky...");
         }},
        {65398, 2, 1, [](HostFixture& f) { EXPECT_TRUE(f.ctx.Global.BEEP.load()); }},
        {65400, 7, 2,
         [](HostFixture& f) {
             EXPECT_EQ(f.ctx.History.HdbStation, 2);
             EXPECT_EQ(f.ctx.History.HdbReadState, zk::HdbReadState::Chosen);
         }},
        {65401, 7, 8,
         [](HostFixture& f) {
             EXPECT_EQ(f.ctx.History.HdbNumber, 8);
             EXPECT_EQ(f.ctx.History.HdbReadState, zk::HdbReadState::Chosen);
         }},
        {65406, 10, Bits(120.0), [](HostFixture& f) { EXPECT_EQ(f.ctx.History.HdbReadTimeout, 120.0); }},
        {65407, 2, 0,
         [](HostFixture& f) {
             EXPECT_EQ(f.ctx.History.HdbReadState, zk::HdbReadState::PositionQuery);
             EXPECT_EQ(Requests(f.ctx.ReadQueue), std::vector<std::string>{"1 16 0 000001BA010DBA010EBA0105"});
             EXPECT_EQ(f.LastEvent(), "Start čtení HDB");
         }},
        {65410, 4, 49999, [](HostFixture& f) { EXPECT_EQ(f.ctx.History.HdbUserPos, 49999); }},
        {65415, 2, 0,
         [](HostFixture& f) {
             const std::string saved = ReadFile(HistoryFilePath(f.ctx.DriverName.view(), 2));
             ASSERT_EQ(saved.size(), kHdbBytes);
             EXPECT_EQ(static_cast<std::uint8_t>(saved[0]), 0x42);
         }},
        {65531, 2, 0,
         [](HostFixture& f) {
             EXPECT_EQ(f.ctx.ReadQueue.Count, 0u);
             EXPECT_EQ(f.ctx.WriteQueue.Count, 0u);
             EXPECT_EQ(f.ctx.Scheduler.TxState.load(), zk::TxState::Choose);
             EXPECT_TRUE(f.ctx.Framing.LastTxMessage.empty());
             EXPECT_TRUE(f.ctx.Framing.RxFrame.empty());
         }},
        {65533, 10, Bits(2.5), [](HostFixture& f) { EXPECT_EQ(f.ctx.TestValue, 2.5); }},
        {65534, 10, Bits(501.9), [](HostFixture& f) { EXPECT_EQ(f.ctx.TestChannel, 501); }},
        {65535, 2, 1,
         [](HostFixture& f) {
             EXPECT_TRUE(f.ctx.TestFlag);
             EXPECT_FALSE(f.ctx.Stations[1]->BinaryIn[1]);  // test value 0 at channel 1
         }},
    };
    auto setUp = [](HostFixture& f) {
        // A station whose implicit single "read binary inputs" (kind 25) sits on each system
        // channel in turn would queue a read if the search went on.
        f.Serve();
        f.Standard(1);
        f.Standard(2);
        f.ctx.Scheduler.TxState = zk::TxState::Pause;
        f.ctx.Framing.LastTxMessage.assign("last");
        f.ctx.Framing.RxFrame.assign("xy");
        f.ctx.Stations[1]->BinaryIn[1] = true;
        AppendRequest(f.ctx.WriteQueue, 2, 4, 1, {}, nullptr);
        // Station 2 keeps a history buffer, saved only by 65415, under a name no other test uses.
        f.ctx.DriverName.assign("zkout" + std::to_string(::getpid()) + "_");
        f.ctx.Stations[2]->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
        f.ctx.Stations[2]->Hdb[0] = 0x42;
    };
    for (const Case& c : cases) {
        for (std::uint32_t type : kAllTypes) {
            HostFixture f;
            setUp(f);
            f.ctx.Stations[2]->BlockBase[KindOutReadBi] = c.channel;
            f.Build();
            const std::string before = Snapshot(f);
            f.Put(c.channel, type, c.bits);
            if (type == c.type) {
                c.check(f);
            } else {
                EXPECT_EQ(Snapshot(f), before) << c.channel << " type " << type;
            }
            for (const RequestNode* n = f.ctx.ReadQueue.Head; n; n = n->Next)
                EXPECT_NE(n->Kind, 0) << "the search went on to the station's channel " << c.channel;
            const std::string history = HistoryFilePath(f.ctx.DriverName.view(), 2);
            EXPECT_EQ(Exists(history), c.channel == 65415 && type == c.type) << c.channel << " type " << type;
            std::filesystem::remove(history);
        }
    }
}

TEST(OutputSystemChannels, ChannelsThatAreNoSystemChannelsForWritingFallThrough) {
    for (std::uint16_t ch : std::initializer_list<std::uint16_t>{60294, 65402, 65403, 65404, 65405, 65409, 65411, 65532}) {
        HostFixture f;
        f.Standard(1).BlockBase[KindOutReadBi] = ch;
        f.Build();
        f.Put(ch, HostBoolean, 1);
        EXPECT_EQ(Requests(f.ctx.ReadQueue), std::vector<std::string>{"1 0 1 "}) << ch;
    }
}

TEST(OutputSystemChannels, SettingsOutsideTheirRangeTakeTheirDefaults) {
    HostFixture f;
    f.Standard(1);
    f.Standard(2);
    const struct {
        std::uint16_t channel;
        std::uint32_t type;
        std::uint64_t bits;
        std::function<bool(DriverContext&)> holds;
    } cases[] = {
        {60001, 3, 7, [](DriverContext& c) { return c.Table.MbKindIndex == 1; }},
        {60001, 3, 0, [](DriverContext& c) { return c.Table.MbKindIndex == 1; }},
        {60002, 4, 0, [](DriverContext& c) { return c.Table.TableRow == 1; }},
        {60002, 4, 529, [](DriverContext& c) { return c.Table.TableRow == 1; }},
        {65400, 7, 3, [](DriverContext& c) { return c.History.HdbReadState == zk::HdbReadState::Idle && c.History.HdbStation == 1; }},
        {65400, 7, 0xFFFF, [](DriverContext& c) { return c.History.HdbReadState == zk::HdbReadState::Idle && c.History.HdbStation == 1; }},
        {65401, 7, 9, [](DriverContext& c) { return c.History.HdbReadState == zk::HdbReadState::Idle && c.History.HdbNumber == 1; }},
        {65534, 10, Bits(-1.0), [](DriverContext& c) { return c.TestChannel == 65535; }},
        {65534, 10, Bits(std::nan("")), [](DriverContext& c) { return c.TestChannel == 0; }},
        {65534, 10, Bits(1e300), [](DriverContext& c) { return c.TestChannel == 65535; }},
        // Reals that the driver keeps as finite numbers refuse NaN and infinities.
        {486, 10, Bits(std::nan("")), [](DriverContext& c) { return c.SentCount.load() == 0.0; }},
        {65533, 10, Bits(std::numeric_limits<double>::infinity()), [](DriverContext& c) { return c.TestValue == 0.0; }},
        {65406, 10, Bits(-std::numeric_limits<double>::infinity()), [](DriverContext& c) { return c.History.HdbReadTimeout == 600.0; }},
    };
    for (const auto& c : cases) {
        f.ctx.Table.MbKindIndex = 2;
        f.ctx.Table.TableRow = 5;
        f.ctx.History.HdbReadState = zk::HdbReadState::Start;
        f.Put(c.channel, c.type, c.bits);
        EXPECT_TRUE(c.holds(f.ctx)) << c.channel << " " << c.bits;
    }
}

TEST(OutputSystemChannels, ModemCommandsOnlyForTheValueOne) {
    HostFixture f;
    f.Serve();  // the commands are taken only while the worker runs
    f.ctx.Modem.LineConnected = true;
    f.Put(60293, HostBoolean, 2);
    f.Put(60295, HostBoolean, 0);
    f.Put(60295, HostBoolean, 2);
    f.Put(60293, HostBoolean, 0x100);  // only the first byte counts: 0
    EXPECT_TRUE(f.ctx.Modem.CommandQueue.empty());
    EXPECT_TRUE(f.ctx.Modem.LineConnected.load());
    EXPECT_TRUE(f.Events().empty());
    // The value 1 (with anything in the bytes behind it) does it.
    f.Put(60293, HostBoolean, 0x101);
    ASSERT_EQ(f.ctx.Modem.CommandQueue.size(), 1u);
    EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Kind, ModemInit);
    f.Put(60295, HostBoolean, 1);
    ASSERT_EQ(f.ctx.Modem.CommandQueue.size(), 1u);
    EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Kind, ModemHangUp);
    EXPECT_FALSE(f.ctx.Modem.LineConnected.load());
    EXPECT_EQ(f.Events(), (std::vector<std::string>{"Inicializace AT-modemu...", "Zavěšení linky..."}));
}

TEST(OutputSystemChannels, HistoryReadOutStartsAndStopsOnlyInTheirStates) {
    HostFixture f;
    f.Standard(1);
    f.Standard(2);
    f.ctx.History.HdbStation = 2;
    f.ctx.History.HdbNumber = 4;
    for (int state : {1, 2, 3, 4, 5, 9}) {
        f.ctx.History.HdbReadState = static_cast<zk::HdbReadState>(state);
        f.Put(65407, HostBoolean, 1);
        EXPECT_EQ(f.ctx.History.HdbReadState, static_cast<zk::HdbReadState>(state));
    }
    EXPECT_EQ(f.ctx.ReadQueue.Count, 0u);
    for (int state : {0, 6, 7, 8, 255}) {
        f.ctx.History.HdbReadState = static_cast<zk::HdbReadState>(state);
        f.Put(65407, HostBoolean, 0);
        EXPECT_EQ(f.ctx.History.HdbReadState, zk::HdbReadState::PositionQuery);
        EXPECT_EQ(Requests(f.ctx.ReadQueue).back(), "2 16 0 000001BA010DBA010EBA0108");
        EmptyQueue(f.ctx.ReadQueue);
    }
    // Interrupting: only while the position query or the reading runs.
    AppendRequest(f.ctx.ReadQueue, 2, 240, 1, {}, nullptr);
    for (int state : {0, 1, 6, 7, 8, 255}) {
        f.ctx.History.HdbReadState = static_cast<zk::HdbReadState>(state);
        f.Put(65408, HostBoolean, 1);
        EXPECT_EQ(f.ctx.History.HdbReadState, static_cast<zk::HdbReadState>(state));
    }
    EXPECT_EQ(f.ctx.ReadQueue.Count, 1u);
    f.ctx.History.HdbReadState = zk::HdbReadState::Reading;
    f.Put(65408, HostBoolean, 1);
    EXPECT_EQ(f.ctx.History.HdbReadState, zk::HdbReadState::Interrupted);
    EXPECT_EQ(f.ctx.ReadQueue.Count, 0u);
    EXPECT_EQ(f.LastEvent(), "Přerušeno čtení HDB");
}

TEST(OutputSystemChannels, TestInjectionUsesTheStandardNumbering) {
    HostFixture f;
    f.Standard(1);
    StationRecord& s2 = f.Standard(2);
    f.Build();
    const struct {
        double channel;
        double value;
        std::function<bool()> holds;
    } cases[] = {
        {505, 1.0, [&] { return s2.BinaryIn[5]; }},
        {505, 0.0, [&] { return !s2.BinaryIn[5]; }},
        {596, 2.0, [&] { return s2.BinaryIn[96]; }},
        {693, -3.5, [&] { return s2.Analog[1] == -3.5; }},
        {756, 9.0, [&] { return s2.Analog[64] == 9.0; }},
    };
    for (const auto& c : cases) {
        f.Put(65534, HostDouble, Bits(c.channel));
        f.Put(65533, HostDouble, Bits(c.value));
        f.Put(65535, HostBoolean, 1);
        EXPECT_TRUE(c.holds()) << c.channel;
    }
    // Outside the two point ranges, or outside the defined stations: nothing.
    for (double channel : {500.0, 597.0, 692.0, 757.0, 1005.0}) {
        const std::string before = Snapshot(f);
        const auto analog = s2.Analog;
        const auto binary = f.ctx.Stations[3]->BinaryIn;
        f.Put(65534, HostDouble, Bits(channel));
        f.Put(65535, HostBoolean, 1);
        EXPECT_EQ(s2.Analog, analog) << channel;
        EXPECT_EQ(f.ctx.Stations[3]->BinaryIn, binary) << channel;
    }
    // A cleared flag injects nothing.
    f.Put(65534, HostDouble, Bits(510.0));
    f.Put(65535, HostBoolean, 0);
    EXPECT_FALSE(s2.BinaryIn[10]);
}

// ---- Memory-block table ---------------------------------------------------------------------

TEST(MemoryBlockRead, QueuesTheEightyEightBlocksWithTheChosenKinds) {
    struct Case {
        std::uint8_t kindIndex;
        bool alt;
        int kind;
    } cases[] = {{1, false, 0x48}, {2, false, 0x4C}, {3, false, 0x50}, {1, true, 0x88}, {2, true, 0x8C}, {3, true, 0x90}};
    for (const Case& c : cases) {
        HostFixture f;
        f.Standard(1);
        f.Standard(2);
        std::vector<std::uint8_t> buffer(kHostBufferSize, 0xAA);
        SetBufferAddr(*f.rec, kHostBufferId, buffer.data());
        f.Put(60000, HostU8, 2);
        f.Put(60001, HostU8, c.kindIndex);
        f.Put(60292, HostBoolean, c.alt);
        f.ctx.Table.TextTable[9].State[3] = 7;
        f.Put(60003, HostBoolean, 0);  // whatever the value
        EXPECT_EQ(f.ctx.Table.TextTable[9].State[3], 0);
        EXPECT_EQ(f.ctx.Table.MbStation, 2);
        EXPECT_TRUE(f.ctx.Table.MbActive.load());
        const auto queued = Requests(f.ctx.ReadQueue);
        ASSERT_EQ(queued.size(), 88u);
        EXPECT_EQ(queued.front(), "2 " + std::to_string(c.kind) + " 32768 ");
        EXPECT_EQ(queued[1], "2 " + std::to_string(c.kind) + " 32954 ");
        EXPECT_EQ(queued.back(), "2 " + std::to_string(c.kind) + " 48950 ");
        std::uint32_t rowCounter, readState;
        std::memcpy(&rowCounter, buffer.data() + 8, 4);
        std::memcpy(&readState, buffer.data() + 24, 4);
        EXPECT_EQ(rowCounter, 0u);
        EXPECT_EQ(readState, 1u);
    }
}

TEST(MemoryBlockRead, NoStationNoRead) {
    for (std::uint8_t station : std::initializer_list<std::uint8_t>{0, 3, 255}) {
        HostFixture f;
        f.Standard(1);
        f.Standard(2);
        f.Put(60000, HostU8, station);
        f.Put(60003, HostBoolean, 1);
        EXPECT_FALSE(f.ctx.Table.MbActive.load()) << int{station};
        EXPECT_EQ(f.ctx.ReadQueue.Count, 0u);
        EXPECT_EQ(f.ctx.Table.MbStation, 1);
    }
}

TEST(MemoryBlockFile, HoldsTheTableRowsAsThirtyOneByteRecords) {
    HostFixture f;
    StationRecord& s = f.Standard(1);
    s.Address = 113;  // station code B3
    f.ctx.Table.MbStation = 1;
    f.ctx.Table.MbKindIndex = 2;
    for (int r = 0; r < kTableRows; ++r) {
        TextRow& row = f.ctx.Table.TextTable[static_cast<std::size_t>(r)];
        for (int k = 0; k < 7; ++k) row.State[k] = static_cast<std::uint8_t>(r * 7 + k);
        for (int c = 0; c < 8; ++c) {
            const char cell[3] = {static_cast<char>(r), static_cast<char>(c), static_cast<char>(r + c)};
            row.Cells[static_cast<std::size_t>(c)].assign(std::string_view(cell, 3));
        }
    }
    f.ctx.Table.TextTable[0].State[0] = 17;
    f.ctx.Table.TextTable[0].State[1] = 5;
    f.ctx.Table.TextTable[0].State[2] = 23;
    f.Put(60021, HostBoolean, 1);
    const std::string name = f.dir.file("B3270523.CUC");
    ASSERT_TRUE(Exists(name));
    const std::string bytes = ReadFile(name);
    ASSERT_EQ(bytes.size(), 528u * 31u);
    for (int r = 0; r < kTableRows; ++r) {
        const TextRow& row = f.ctx.Table.TextTable[static_cast<std::size_t>(r)];
        std::string expected(reinterpret_cast<const char*>(row.State), 7);
        for (const auto& cell : row.Cells) expected += cell.view();
        ASSERT_EQ(bytes.substr(static_cast<std::size_t>(r) * 31, 31), expected) << "row " << r + 1;
    }
    EXPECT_EQ(As<std::uint8_t>(f.Get(60022, HostBoolean)), 1);

    // The row state comes from row 2 when the station has parameter-file channels.
    f.Item(1, 1200, DirRead, 0, 0, 0, QqWord);
    f.ctx.Table.TextTable[1].State[0] = 4;
    f.ctx.Table.TextTable[1].State[1] = 0;
    f.ctx.Table.TextTable[1].State[2] = 9;
    EXPECT_EQ(MemoryBlockFileName(f.ctx), f.dir.file("B32") + "40009.CUC");
}

TEST(MemoryBlockFile, StationCodes) {
    HostFixture f;
    f.Standard(1);
    f.ctx.Table.MbStation = 1;
    const std::pair<std::uint8_t, const char*> cases[] = {{0, "00"}, {7, "07"}, {99, "99"}, {100, "A0"},
                                                           {109, "A9"}, {110, "B0"}, {255, "P5"}};
    for (const auto& [address, code] : cases) {
        f.ctx.Stations[1]->Address = address;
        EXPECT_EQ(MemoryBlockFileName(f.ctx), f.dir.path() + "/" + code + "1" + "00000.CUC");
    }
}

TEST(MemoryBlockFile, AFailedSaveIsReportedThroughTheFlag) {
    HostFixture f;
    f.Standard(1).Address = 5;
    f.ctx.Table.MbStation = 1;
    f.ctx.Table.MbFileFlag = true;
    // The directory does not exist: nothing is written.
    f.ctx.Global.CUC_PATH.assign(f.dir.path() + "/missing/");
    f.Put(60021, HostBoolean, 0);
    EXPECT_FALSE(f.ctx.Table.MbFileFlag);
    EXPECT_EQ(As<std::uint8_t>(f.Get(60022, HostBoolean)), 0);
    // The rows do not reach the file (a full device): the flag says so.
    f.ctx.Global.CUC_PATH.assign(f.dir.path() + "/");
    ASSERT_EQ(symlink("/dev/full", f.dir.file("05100000.CUC").c_str()), 0);
    f.ctx.Table.MbFileFlag = true;
    f.Put(60021, HostBoolean, 0);
    EXPECT_FALSE(f.ctx.Table.MbFileFlag);
}

// ---- Hang-up ---------------------------------------------------------------------------------

TEST(HangUp, ReplacesTheModemsCommandsOrAbandonsTheDialInProgress) {
    HostFixture f;
    f.Standard(1);
    StationRecord& s2 = f.Standard(2);
    StationRecord& s3 = f.Standard(3);
    ModemRecord& m = f.ctx.Modem;
    m.PendingText.assign("ATDP");
    m.ReplyText.assign("RING");
    m.Pausing = true;
    m.LineConnected = true;
    m.ModemState = zk::ModemState::AwaitingReply;
    QueueDial(m, "123");
    s2.DialRequested = true;
    s3.DialRequested = true;
    s3.OnLine = true;
    s3.AwaitingAnswer = true;
    {
        std::lock_guard lock(f.ctx.Lock);
        PortActions port;
        EXPECT_EQ(HangUp(f.ctx, port), 3);
        EXPECT_TRUE(port.SendReturn);  // the dial in progress is abandoned by a carriage return
        EXPECT_FALSE(port.Purge);
    }
    EXPECT_EQ(m.CommandQueue.size(), 1u);  // the dial stays; its reply will tell the failure
    EXPECT_TRUE(m.PendingText.empty());
    EXPECT_TRUE(m.ReplyText.empty());
    EXPECT_FALSE(m.Pausing);
    EXPECT_FALSE(m.LineConnected.load());
    for (StationRecord* s : {&s2, &s3}) {
        EXPECT_FALSE(s->DialRequested);
        EXPECT_FALSE(s->OnLine);
        EXPECT_FALSE(s->AwaitingAnswer);
    }
    // Nobody waits for a dial: the hang-up command replaces whatever was queued.
    m.LineConnected = true;
    {
        std::lock_guard lock(f.ctx.Lock);
        PortActions port;
        EXPECT_EQ(HangUp(f.ctx, port), 0);
        EXPECT_FALSE(port.SendReturn);
    }
    ASSERT_EQ(m.CommandQueue.size(), 1u);
    EXPECT_EQ(m.CommandQueue.front().Kind, ModemHangUp);
    EXPECT_EQ(m.CommandQueue.front().Block.Command.str(), "~~~+++~~~ATH0\r~~");
    EXPECT_EQ(m.ModemState, zk::ModemState::TakeCommand);
}

// ---- Implicit station channels ------------------------------------------------------------

namespace {

struct KindCase {
    const char* what;
    std::uint16_t channel;  // station 2, standard numbering (a = 500)
    std::uint32_t type;
    std::uint64_t bits;
    bool online;
    std::vector<std::string> writes, reads;
    const char* event;  // the last event line, "" for none
    std::function<void(StationRecord&)> check;
};

void SetUpStation(HostFixture& f, bool online) {
    f.Standard(1);
    StationRecord& s = f.Standard(2, 16, 8, 4, 4, 3, 5);
    s.Name.assign(zk::Utf8ToCp1250("ČERPADLO"));
    s.OnLine = online;
    s.PhoneNumber.clear();
    s.BlockBase[KindNameChannel] = 990;
    s.BlockBase[KindCallCode] = 991;
    f.Block(2, 3000, 3001, "123456", "222221");
    f.Build();
}

}  // namespace

TEST(OutputStationChannels, EveryKindQueuesShowsAndStoresAsItShould) {
    const KindCase cases[] = {
        {"BO on", 598, 2, 1, false, {"2 4 1 "}, {}, "ČERPADLO - BO2=1", [](StationRecord& s) { EXPECT_TRUE(s.BinaryOut[2]); }},
        {"BO past the count", 605, 2, 1, true, {}, {}, "", nullptr},
        {"MO", 807, 10, Bits(12.345), true, {"2 5 3 "}, {}, "ČERPADLO - MO3=12.35",
         [](StationRecord& s) { EXPECT_EQ(s.MemoryOut[3].Value, 12.345); }},
        {"MO off line", 807, 10, Bits(-1.0), false, {}, {}, "ČERPADLO - MO3=-1.00", nullptr},
        {"MO NaN", 807, 10, Bits(std::nan("")), true, {}, {}, "", nullptr},
        {"CT", 758, 10, Bits(99.5), true, {}, {}, "", [](StationRecord& s) { EXPECT_EQ(s.Counters[2].Value, 99.5); }},
        {"CT infinite", 758, 10, Bits(std::numeric_limits<double>::infinity()), true, {}, {}, "", [](StationRecord& s) { EXPECT_EQ(s.Counters[2].Value, 0.0); }},
        {"AI is read only", 693, 10, Bits(5.0), true, {}, {}, "", [](StationRecord& s) { EXPECT_EQ(s.Analog[1], 0.0); }},
        {"BI is read only", 501, 2, 1, true, {}, {}, "", [](StationRecord& s) { EXPECT_FALSE(s.BinaryIn[1]); }},
        {"MI is read only", 905, 10, Bits(5.0), true, {}, {}, "", nullptr},
        {"write all BO and MO", 980, 2, 0, true, {"2 4 1 ", "2 5 1 ", "2 5 2 ", "2 5 3 ", "2 5 4 ", "2 5 5 "}, {}, "", nullptr},
        {"write all off line", 980, 2, 1, false, {}, {}, "", nullptr},
        {"read BI", 972, 2, 1, false, {}, {"2 0 1 "}, "ČERPADLO - BI", nullptr},
        {"read MI", 973, 2, 1, true, {}, {"2 6 1 ", "2 6 2 ", "2 6 3 "}, "ČERPADLO -  3 x MI", nullptr},
        {"read MI off line", 973, 2, 1, false, {}, {}, "", nullptr},
        {"write KO", 974, 2, 1, true, {"2 9 1 "}, {}, "ČERPADLO - KO", nullptr},
        {"read AI kolmet", 960, 2, 1, true, {}, {"2 7 1 "}, "ČERPADLO - AI kolmet", nullptr},
        {"read AI tervak", 975, 2, 1, true, {}, {"2 1 1 "}, "ČERPADLO - AI tervak", nullptr},
        {"read CT", 961, 2, 1, true, {}, {"2 2 1 "}, "ČERPADLO - CT", nullptr},
        {"write BO", 962, 2, 1, true, {"2 4 1 "}, {}, "ČERPADLO - BO", nullptr},
        {"write BO off line", 962, 2, 1, false, {}, {}, "", nullptr},
        {"status flag 19", 966, 2, 1, true, {}, {}, "", [](StationRecord& s) { EXPECT_TRUE(s.BiFresh); }},
        {"status flag 23", 970, 2, 1, true, {}, {}, "", [](StationRecord& s) { EXPECT_TRUE(s.ControlError); }},
        {"status flag 32", 979, 2, 1, true, {}, {}, "", [](StationRecord& s) { EXPECT_TRUE(s.ActiveReport); }},
        {"element BYTE", 3001, 3, 0x1F0, true, {"2 18 1 F0 +key"}, {}, "", nullptr},
        {"element WORD", 3002, 4, 0x1234, false, {}, {}, "",
         [](StationRecord& s) { EXPECT_EQ(Hex(s.MemoryBlocks[0]->Cells[1].view()), "3412"); }},
        {"element INTEGER", 3003, 7, 0xFFFE, true, {"2 18 3 FEFF +key"}, {}, "", nullptr},
        {"element CARDINAL", 3004, 5, 0x12345678, true, {"2 18 4 78563412 +key"}, {}, "", nullptr},
        {"element LONGINT", 3005, 8, 0xFFFFFFFF, true, {"2 18 5 FFFFFFFF +key"}, {}, "", nullptr},
        {"element INPUT", 3006, 10, Bits(1.0), true, {}, {}, "", nullptr},
        {"element type mismatch still writes the cell", 3003, 5, 7, true, {"2 18 3 00000000 +key"}, {}, "", nullptr},
        {"block read", 3000, 2, 0, false, {}, {"2 17 1  +key"}, "ČERPADLO - čtení MB (memory block)", nullptr},
        {"time-out count", 950, 10, Bits(42.9), false, {}, {}, "ČERPADLO - nastavení počítadla chyb = 42",
         [](StationRecord& s) { EXPECT_EQ(s.TimeoutCount, 42u); }},
        {"time-out count NaN", 950, 10, Bits(std::nan("")), false, {}, {}, "ČERPADLO - nastavení počítadla chyb = 0", nullptr},
        {"time-out count huge", 950, 10, Bits(1e300), false, {}, {}, "ČERPADLO - nastavení počítadla chyb = 4294967295", nullptr},
        {"messages count", 981, 10, Bits(7.0), false, {}, {}, "ČERPADLO - nastavení počítadla zpráv = 7",
         [](StationRecord& s) { EXPECT_EQ(s.RequestCount, 7u); }},
        {"call code", 991, 5, 0xFFFFFFFF, false, {}, {}, "ČERPADLO - nastavení AH/CallCode = 4294967295",
         [](StationRecord& s) { EXPECT_EQ(s.CallCode, 0xFFFFFFFFu); }},
        {"name is read only", 990, 11, 0, true, {}, {}, "", nullptr},
        {"display is read only", 956, 11, 0, true, {}, {}, "", nullptr},
        {"counters read only kinds", 951, 10, Bits(1.0), true, {}, {}, "", nullptr},
        {"restart kind does nothing", 971, 2, 1, true, {}, {}, "", nullptr},
    };
    for (const KindCase& c : cases) {
        HostFixture f;
        SetUpStation(f, c.online);
        f.Put(c.channel, c.type, c.bits);
        EXPECT_EQ(Requests(f.ctx.WriteQueue), c.writes) << c.what;
        EXPECT_EQ(Requests(f.ctx.ReadQueue), c.reads) << c.what;
        EXPECT_EQ(f.LastEvent(), c.event) << c.what;
        if (c.check) c.check(*f.ctx.Stations[2]);
        // Any other type does nothing at all (the memory-block elements still write their cell).
        for (std::uint32_t type : kAllTypes) {
            if (type == c.type || c.channel >= 3001) continue;
            HostFixture g;
            SetUpStation(g, c.online);
            const std::string before = Snapshot(g);
            g.Put(c.channel, type, c.bits);
            EXPECT_EQ(Snapshot(g), before) << c.what << " type " << type;
        }
    }
}

TEST(OutputStationChannels, ASecondWriteOfAnElementSendsTheLatestValue) {
    HostFixture f;
    SetUpStation(f, true);
    AppendRequest(f.ctx.WriteQueue, 1, 4, 1, {}, nullptr);  // being served: the element's writes wait
    f.Put(3002, HostU16, 0x1111);
    f.Put(3002, HostU16, 0x2222);
    EXPECT_EQ(Requests(f.ctx.WriteQueue), (std::vector<std::string>{"1 4 1 ", "2 18 2 2222 +key"}));
    EXPECT_EQ(As<std::uint16_t>(f.Get(3002, HostU16)), 0x2222);
    // Once the first is being served, a second write queues behind it with its own value.
    RemoveRequest(f.ctx.WriteQueue, f.ctx.WriteQueue.Head);
    f.Put(3002, HostU16, 0x3333);
    EXPECT_EQ(Requests(f.ctx.WriteQueue), (std::vector<std::string>{"2 18 2 2222 +key", "2 18 2 3333 +key"}));
}

TEST(OutputStationChannels, WritingAllOutputsIsLoggedOnlyWhenItQueues) {
    const struct {
        bool online;
        std::uint8_t binaryOutputs;
        std::size_t writes;
        bool logged;
    } cases[] = {{true, 8, 6, true}, {true, 0, 5, true}, {false, 8, 0, false}};
    for (const auto& c : cases) {
        HostFixture f;
        SetUpStation(f, c.online);
        f.ctx.Stations[2]->NumBinarOut = c.binaryOutputs;
        const std::string log = f.dir.file("zk.log");
        f.ctx.Log.LogFileName.assign(log);
        f.ctx.Log.LogEnabled = true;
        f.Put(980, HostBoolean, 1);  // kind 33 of station 2
        EXPECT_EQ(f.ctx.WriteQueue.Count, c.writes);
        const std::string text = Exists(log) ? ReadFile(log) : "";
        const std::string line = " Stanice no.2 : reinit BO+MO\r\n";
        EXPECT_EQ(text.size() >= line.size() && text.compare(text.size() - line.size(), line.size(), line) == 0, c.logged)
            << text;
    }
}

TEST(OutputStationChannels, BinaryOutputsChangeOnlyOnANewValue) {
    HostFixture f;
    SetUpStation(f, true);
    f.Put(597, HostBoolean, 1);
    f.Put(597, HostBoolean, 1);
    f.Put(597, HostBoolean, 2);  // still true
    EXPECT_EQ(f.Events().size(), 1u);
    EXPECT_EQ(f.ctx.WriteQueue.Count, 1u);
    f.Put(597, HostBoolean, 0);
    EXPECT_EQ(f.LastEvent(), "ČERPADLO - BO1=0");
    // A station with its own telephone number queues no write for a binary output.
    f.ctx.Stations[2]->PhoneNumber.assign("0123456");
    EmptyQueue(f.ctx.WriteQueue);
    f.Put(597, HostBoolean, 1);
    EXPECT_EQ(f.ctx.WriteQueue.Count, 0u);
    EXPECT_EQ(f.LastEvent(), "ČERPADLO - BO1=1");
    // The same memory-output value twice: once.
    f.Put(805, HostDouble, Bits(3.0));
    f.Put(805, HostDouble, Bits(3.0));
    EXPECT_EQ(Requests(f.ctx.WriteQueue), std::vector<std::string>{"2 5 1 "});
}

TEST(OutputStationChannels, MinputReadsVariantsAndTheKiModel) {
    HostFixture f;
    SetUpStation(f, true);
    StationRecord& s = *f.ctx.Stations[2];
    s.WholeBlockRead = true;
    f.Put(973, HostBoolean, 1);
    EXPECT_EQ(Requests(f.ctx.ReadQueue), std::vector<std::string>{"2 6 1 "});
    EXPECT_EQ(f.LastEvent(), "ČERPADLO -  3 x MI");
    EmptyQueue(f.ctx.ReadQueue);
    s.KiFlag = true;
    f.Put(973, HostBoolean, 1);
    EXPECT_EQ(Requests(f.ctx.ReadQueue), std::vector<std::string>{"2 8 1 "});
    EXPECT_EQ(f.LastEvent(), "ČERPADLO - KI");
}

TEST(OutputStationChannels, EventLinesKeepTheFullNameAndCutAt255) {
    HostFixture f;
    SetUpStation(f, true);
    f.ctx.Stations[2]->Name.assign(std::string(80, 'N'));
    f.Put(981, HostDouble, Bits(1.0));
    EXPECT_EQ(f.LastEvent(), std::string(80, 'N') + " - nastavení počítadla zpráv = 1");
    f.Put(805, HostDouble, Bits(1e200));
    EXPECT_EQ(zk::Utf8ToCp1250(f.LastEvent()).size(), 255u);
}

TEST(OutputStationChannels, ConnectingDialsAfterReopeningThePort) {
    HostFixture f;
    Pty pty;
    f.ctx.Com.DEVICE.assign(pty.name());
    f.Serve();
    SetUpStation(f, false);
    StationRecord& s = *f.ctx.Stations[2];
    s.PhoneNumber.assign("0123456");
    // Kind 29 (out_connect_modem) is a + 476 in the standard numbering.
    f.Put(976, HostBoolean, 1);
    EXPECT_TRUE(f.rec->SerialPort->Active());
    ASSERT_EQ(f.ctx.Modem.CommandQueue.size(), 1u);
    EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Kind, ModemDial);
    EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Number.str(), "0123456");
    EXPECT_TRUE(s.DialRequested);
}

TEST(OutputStationChannels, ASecondDialWhileDiallingOrConnectedIsNotQueued) {
    HostFixture f;
    Pty pty;
    f.ctx.Com.DEVICE.assign(pty.name());
    f.Serve();
    SetUpStation(f, false);
    StationRecord& s = *f.ctx.Stations[2];
    s.PhoneNumber.assign("0123456");
    f.Standard(3).PhoneNumber.assign("0123456");  // behind the same number
    f.Standard(4).PhoneNumber.assign("999");
    f.Build();
    struct Case {
        const char* name;
        std::function<void()> before;
        std::uint16_t channel;
        std::size_t dials;  // queued after the write
    };
    const Case cases[] = {
        {"dial queued", [&] { s.DialRequested = true; }, 976, 0},
        {"connected", [&] { s.OnLine = true; }, 976, 0},
        {"the station with the same number is dialling", [&] { s.DialRequested = true; }, 1476, 0},
        {"the station with the same number is connected", [&] { s.OnLine = true; }, 1476, 0},
        {"another number", [&] { s.OnLine = true; }, 1976, 1},
        {"neither", [] {}, 976, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int n = 1; n <= 4; ++n) {
            f.ctx.Stations[static_cast<std::size_t>(n)]->DialRequested = false;
            f.ctx.Stations[static_cast<std::size_t>(n)]->OnLine = false;
        }
        f.ctx.Modem.CommandQueue.clear();
        c.before();
        f.Put(c.channel, HostBoolean, 1);
        EXPECT_EQ(f.ctx.Modem.CommandQueue.size(), c.dials);
    }
}

TEST(OutputStationChannels, ADialWhosePortDoesNotOpenIsNotQueued) {
    HostFixture f;
    f.Serve();
    SetUpStation(f, false);
    StationRecord& s = *f.ctx.Stations[2];
    s.PhoneNumber.assign("0123456");
    f.Put(976, HostBoolean, 1);  // the fixture's device does not exist
    EXPECT_FALSE(f.rec->SerialPort->Active());
    EXPECT_TRUE(f.ctx.Modem.CommandQueue.empty());
    EXPECT_FALSE(s.DialRequested);
    EXPECT_EQ(f.LastEvent(), "Chyba při otevření portu !");
}

TEST(OutputStationChannels, WithoutARunningWorkerNothingTouchesTheLine) {
    // Before Init, after a failed Init and after Done.
    HostFixture f;
    Pty pty;
    f.ctx.Com.DEVICE.assign(pty.name());
    SetUpStation(f, false);
    f.Put(976, HostBoolean, 1);
    f.Put(976, HostBoolean, 0);
    f.Put(60293, HostBoolean, 1);
    f.Put(60295, HostBoolean, 1);
    EXPECT_FALSE(f.rec->SerialPort->Active());
    EXPECT_TRUE(f.ctx.Modem.CommandQueue.empty());
    EXPECT_FALSE(f.ctx.Stations[2]->DialRequested);
}

TEST(OutputStationChannels, DisconnectingHangsUpAndMarksTheWaitingStation) {
    HostFixture f;
    f.Serve();
    SetUpStation(f, true);
    StationRecord& s = *f.ctx.Stations[2];
    AppendRequest(f.ctx.ReadQueue, 2, 16, 0, "abc", nullptr);
    AppendRequest(f.ctx.WriteQueue, 2, 4, 1, {}, nullptr);
    f.ctx.Scheduler.TxState = zk::TxState::Sending;
    s.DialRequested = true;
    f.Put(976, HostBoolean, 0);
    EXPECT_EQ(f.ctx.ReadQueue.Count, 0u);
    EXPECT_EQ(f.ctx.WriteQueue.Count, 0u);
    EXPECT_EQ(f.ctx.Scheduler.TxState.load(), zk::TxState::Choose);
    EXPECT_FALSE(s.DialRequested);
    EXPECT_FALSE(s.OnLine);
    EXPECT_TRUE(s.Unreachable);
    // Connected, nobody dialling: the hang-up command is queued and nobody is marked.
    s.Unreachable = false;
    s.OnLine = true;
    f.Put(976, HostBoolean, 0);
    ASSERT_EQ(f.ctx.Modem.CommandQueue.size(), 1u);
    EXPECT_EQ(f.ctx.Modem.CommandQueue.front().Kind, ModemHangUp);
    EXPECT_FALSE(s.OnLine);
    EXPECT_FALSE(s.Unreachable);
}

// ---- Clearing the queues and purging the line -------------------------------------------------

TEST(ClearingTheQueues, TheCommandsThatClearThemPurgeTheLine) {
    struct Case {
        const char* name;
        std::uint16_t channel;
        HdbReadState state;  // of the history read-out before the write
        bool clears;
    };
    const Case cases[] = {
        {"clear the queues", 65531, HdbReadState::Finished, true},
        {"interrupt the history read-out while reading", 65408, HdbReadState::Reading, true},
        {"interrupt it while the positions are asked", 65408, HdbReadState::PositionQuery, true},
        {"nothing to interrupt", 65408, HdbReadState::Chosen, false},
        {"interrupted already", 65408, HdbReadState::Interrupted, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostFixture f;
        f.Standard(1);
        f.ctx.History.HdbReadState = c.state;
        AppendRequest(f.ctx.WriteQueue, 1, 4, 1, {}, nullptr);
        AppendRequest(f.ctx.ReadQueue, 1, 0, 1, {}, nullptr);
        f.ctx.Scheduler.TxState = zk::TxState::Receiving;
        PortActions port;
        {
            std::lock_guard lock(f.ctx.Lock);
            EXPECT_TRUE(OutputSystemChannel(*f.rec, c.channel, HostBoolean, HostBits{0}, port));
        }
        EXPECT_EQ(port.Purge, c.clears);
        EXPECT_FALSE(port.SendReturn);
        EXPECT_EQ(f.ctx.WriteQueue.Count + f.ctx.ReadQueue.Count, c.clears ? 0u : 2u);
        EXPECT_EQ(f.ctx.Scheduler.TxState.load(), c.clears ? zk::TxState::Choose : zk::TxState::Receiving);
    }
}

// The purge reaches the port: it ends a write in progress on another thread (the far end reads
// nothing, so the write waits). Disconnecting a station whose dial waits purges first and then
// sends the carriage return that abandons the dial.
TEST(ClearingTheQueues, ThePurgeEndsAWriteInProgressAndComesBeforeTheCarriageReturn) {
    struct Case {
        const char* name;
        std::uint16_t channel;
        std::uint64_t value;
        bool carriageReturn;
    };
    const Case cases[] = {
        {"clear the queues", 65531, 1, false},
        {"interrupt the history read-out", 65408, 1, false},
        {"disconnect the station", 976, 0, true},  // kind 29 of station 2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostFixture f;
        Pty pty;
        f.ctx.Com.DEVICE.assign(pty.name());
        f.Serve();
        SetUpStation(f, false);
        f.ctx.Stations[2]->PhoneNumber.assign("0123456");
        f.ctx.History.HdbReadState = HdbReadState::Reading;
        f.Put(976, HostBoolean, 1);  // opens the port and queues the dial: the dial waits
        ASSERT_TRUE(f.rec->SerialPort->Active());
        ASSERT_TRUE(f.ctx.Stations[2]->DialRequested);

        std::atomic<bool> returned{false};
        const std::string big(1 << 20, 'x');
        std::thread writer([&] {
            f.rec->SerialPort->WriteString(big);
            returned = true;
        });
        ASSERT_TRUE(Eventually([&] {
            int n = 0;
            ::ioctl(pty.master(), FIONREAD, &n);
            return n > 0;
        }));
        // The far end starts reading once the write has ended.
        std::string received;
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            Eventually([&] { return returned.load() || stop.load(); });
            Eventually([&] {
                received += pty.Drain();
                return (!received.empty() && received.back() == '\r') || stop.load();
            });
        });
        f.Put(c.channel, HostBoolean, c.value);
        const bool ended = Eventually([&] { return returned.load(); });
        EXPECT_TRUE(ended);
        if (!ended) f.rec->SerialPort->SetActive(false);  // ends the write
        writer.join();
        if (!c.carriageReturn || !ended) stop = true;  // nothing more comes
        reader.join();
        EXPECT_LT(received.size(), big.size());  // the write ended before all of it went out
        if (c.carriageReturn) {
            ASSERT_FALSE(received.empty());
            EXPECT_EQ(received.back(), '\r');
            EXPECT_EQ(received.find('\r'), received.size() - 1);
            EXPECT_FALSE(f.ctx.Stations[2]->DialRequested);
        }
    }
}
