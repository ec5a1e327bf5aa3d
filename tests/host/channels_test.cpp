// Channel resolution: the index answers exactly as the plain search in tier order does, over
// configurations whose numbers clash in every tier.
#include <gtest/gtest.h>

#include <random>

#include "host_fixture.h"
#include "support/par_files.h"

using namespace zk;
using namespace zktest;

namespace {

// The plain search, written from the search order: stations in index order (empty slots
// skipped), each station's items from the head.
bool LinearFind(DriverContext& ctx, std::uint16_t ch, ParamChannel& out) {
    for (int n = 1; n <= ctx.StationCount; ++n) {
        StationRecord* s = ctx.Stations[static_cast<std::size_t>(n)].get();
        if (!s) continue;
        for (const auto& item : s->Channels)
            if (item->Channel == ch) {
                out = {n, item.get()};
                return true;
            }
    }
    return false;
}

int GroupCount(const StationRecord& s, int kind) {
    switch (kind) {
        case 1: return s.NumBinarIn;
        case 2: return s.NumBinarOut;
        case 3: return s.NumAnalogIn;
        case 4: return s.NumCounterIn;
        case 5: return s.NumMemoryIn;
        case 6: return s.NumMemoryOut;
        default: return 4;  // kind 12
    }
}

// The implicit-channel search: ranges 1, 2, 3, 4, 6, 5; singles 7, 36, 8, 9, 10, 11; range 12;
// singles 13..33, 37, 38; then the memory blocks in list order. The first hit ends it.
bool LinearResolve(DriverContext& ctx, std::uint16_t ch, StationChannel& out) {
    const long number = ch;
    for (int n = 1; n <= ctx.StationCount; ++n) {
        StationRecord* s = ctx.Stations[static_cast<std::size_t>(n)].get();
        if (!s) continue;
        auto range = [&](int kind) {
            const long base = s->BlockBase[static_cast<std::size_t>(kind)];
            const long i = number - base + 1;
            if (i < 1 || i > GroupCount(*s, kind)) return false;
            out = {n, kind, static_cast<int>(i), nullptr};
            return true;
        };
        auto single = [&](int kind) {
            if (number != s->BlockBase[static_cast<std::size_t>(kind)]) return false;
            out = {n, kind, 1, nullptr};
            return true;
        };
        for (int kind : {1, 2, 3, 4, 6, 5})
            if (range(kind)) return true;
        for (int kind : {7, 36, 8, 9, 10, 11})
            if (single(kind)) return true;
        if (range(12)) return true;
        for (int kind = 13; kind <= 33; ++kind)
            if (single(kind)) return true;
        if (single(37) || single(38)) return true;
        for (const auto& block : s->MemoryBlocks) {
            if (number == block->ChannelRead) {
                out = {n, 35, 1, block.get()};
                return true;
            }
            const long k = number - block->Channel + 1;
            if (k >= 1 && k <= static_cast<long>(block->Types.size())) {
                out = {n, 34, static_cast<int>(k), block.get()};
                return true;
            }
        }
    }
    return false;
}

void ExpectIndexEqualsLinear(DriverContext& ctx) {
    std::lock_guard lock(ctx.Lock);
    BuildChannelIndex(ctx);
    int params = 0, implicit = 0;
    for (std::uint32_t c = 0; c <= 65535; ++c) {
        const auto ch = static_cast<std::uint16_t>(c);
        ParamChannel a, b;
        const bool fa = FindChannel(ctx, ch, a), fb = LinearFind(ctx, ch, b);
        ASSERT_EQ(fa, fb) << "tier 1, channel " << c;
        if (fa) {
            ASSERT_EQ(a.Station, b.Station) << c;
            ASSERT_EQ(a.Item, b.Item) << c;
            ++params;
        }
        StationChannel x, y;
        const bool fx = ResolveStationChannel(ctx, ch, x), fy = LinearResolve(ctx, ch, y);
        ASSERT_EQ(fx, fy) << "tier 3, channel " << c;
        if (fx) {
            ASSERT_EQ(x.Station, y.Station) << c;
            ASSERT_EQ(x.Kind, y.Kind) << c;
            ASSERT_EQ(x.Index, y.Index) << c;
            ASSERT_EQ(x.Block, y.Block) << c;
            ++implicit;
        }
    }
    EXPECT_GT(params, 0);
    EXPECT_GT(implicit, 0);
}

}  // namespace

TEST(ChannelIndex, HandBuiltClashesResolveAsTheSearchOrderSays) {
    HostFixture f;
    // Station 1: the standard numbering, all groups full.
    f.Standard(1, 96, 96, 64, 48, 45, 100);
    // Station 2: its binary inputs start inside station 1's, its outputs overlap its own inputs,
    // its singles sit inside its ranges, its display range covers singles, its numbers reach
    // past 65535.
    StationRecord& s2 = f.Standard(2, 96, 96, 64, 48, 45, 100);
    s2.BlockBase[KindBinaryIn] = 50;
    s2.BlockBase[KindBinaryOut] = 600;          // inside its own inputs' reach? no: 600..695
    s2.BlockBase[KindAnalog] = 650;             // overlaps its outputs: outputs win (kind 2 first)
    s2.BlockBase[KindMemoryOut] = 700;          // kind 6 is searched before kind 5
    s2.BlockBase[KindMemoryIn] = 720;           // overlaps kind 6
    s2.BlockBase[KindErrorNoAnswer] = 610;      // inside the outputs: the range wins
    s2.BlockBase[KindMsgCounter] = 2000;
    s2.BlockBase[KindErrorInMess] = 2000;       // same number as kind 36, which comes first
    s2.BlockBase[KindVideo] = 2001;             // 2001..2004
    s2.BlockBase[KindOutReadBi] = 2002;         // inside the display range: the range wins
    s2.BlockBase[KindNameChannel] = 2100;
    s2.BlockBase[KindCallCode] = 2100;          // kind 37 first
    s2.BlockBase[KindCounter] = 65500;          // 65500..65547: cut at 65535
    // Slot 3 is empty; slot 4 defines the same numbers again.
    f.Station(3);
    f.ctx.Stations[3].reset();
    StationRecord& s4 = f.Standard(4, 20, 20, 20, 20, 20, 20);
    s4.BlockBase = s2.BlockBase;
    s4.BlockBase[KindOutReadKi] = 3000;         // only station 4 has it
    // Memory blocks: a block's read number inside an earlier block's elements, elements over
    // implicit numbers, blocks clashing across stations.
    f.Block(2, 4000, 3990, "123456", "123123");  // 3990..3995, read 4000
    f.Block(2, 3992, 4000, "66", "22");          // read inside the first; elements at 4000 (taken), 4001
    f.Block(2, 3001, 1, "11", "33");             // elements on station 1's numbers
    f.Block(4, 3000, 3998, "1111", "2222");      // read on station 4's own kind 26: the single wins
    // Parameter items: duplicates in a station and across stations, on system and implicit numbers.
    f.Item(1, 501, DirRead, 0, 1, 0, QqWord);
    f.Item(1, 501, DirRead, 0, 1, 1, QqWord);  // second item of the same number: never found
    f.Item(2, 501, DirRead, 0, 2, 0, QqWord);  // higher station: never found
    f.Item(2, 60004, DirBidir, 0, 3, 0, QqReal);
    f.Item(4, 65532, DirBidir, 0, 4, 0, QqReal);
    f.Item(4, 0, DirRead, 0, 5, 0, QqByte);

    ExpectIndexEqualsLinear(f.ctx);

    // The clashes above, answered by name.
    std::lock_guard lock(f.ctx.Lock);
    ParamChannel p;
    ASSERT_TRUE(FindChannel(f.ctx, 501, p));
    EXPECT_EQ(p.Station, 1);
    EXPECT_EQ(p.Item->Address[2], 0);
    StationChannel h;
    ASSERT_TRUE(ResolveStationChannel(f.ctx, 60, h));
    EXPECT_EQ(h.Station, 1);  // station 1's range wins over station 2's
    ASSERT_TRUE(ResolveStationChannel(f.ctx, 2000, h));
    EXPECT_EQ(h.Kind, KindMsgCounter);
    ASSERT_TRUE(ResolveStationChannel(f.ctx, 2002, h));
    EXPECT_EQ(h.Kind, KindVideo);
    EXPECT_EQ(h.Index, 2);
    ASSERT_TRUE(ResolveStationChannel(f.ctx, 3000, h));
    EXPECT_EQ(h.Station, 4);
    EXPECT_EQ(h.Kind, KindOutReadKi);
    ASSERT_TRUE(ResolveStationChannel(f.ctx, 3992, h));
    EXPECT_EQ(h.Kind, KindMemoryElement);
    EXPECT_EQ(h.Index, 3);
    ASSERT_TRUE(ResolveStationChannel(f.ctx, 65535, h));
    EXPECT_EQ(h.Kind, KindCounter);
    EXPECT_EQ(h.Index, 36);
}

TEST(ChannelIndex, RandomCrowdedConfigurationsResolveAsTheSearchOrderSays) {
    std::mt19937 random(20070820);
    for (int round = 0; round < 4; ++round) {
        HostFixture f;
        auto number = [&] { return static_cast<std::uint16_t>(random() % 3000); };
        auto count = [&](int cap) { return static_cast<std::uint8_t>(random() % (cap + 1)); };
        const int stations = 30 + round * 20;
        for (int n = 1; n <= stations; ++n) {
            StationRecord& s = f.Station(n);
            s.NumBinarIn = count(96);
            s.NumBinarOut = count(96);
            s.NumAnalogIn = count(64);
            s.NumCounterIn = count(48);
            s.NumMemoryIn = count(45);
            s.NumMemoryOut = count(100);
            for (int kind = 1; kind <= 38; ++kind)
                if (kind != 34 && kind != 35) s.BlockBase[static_cast<std::size_t>(kind)] = number();
            for (int k = 0, items = static_cast<int>(random() % 6); k < items; ++k)
                f.Item(n, number(), DirBidir, 0, 0, static_cast<std::uint8_t>(k), QqWord);
            for (int k = 0, blocks = static_cast<int>(random() % 3); k < blocks; ++k)
                f.Block(n, number(), number(), std::string(1 + random() % 40, '2'), std::string(40, '3'));
        }
        for (int n = 2; n <= stations; n += 7) f.ctx.Stations[static_cast<std::size_t>(n)].reset();
        ExpectIndexEqualsLinear(f.ctx);
    }
}

TEST(ChannelIndex, StandardNumberingOfTheSecondStation) {
    HostFixture f;
    f.Standard(1);
    f.Standard(2);
    f.Build();
    std::lock_guard lock(f.ctx.Lock);
    struct Case {
        std::uint16_t channel;
        int station, kind, index;
    } cases[] = {
        {0, 1, KindNameChannel, 1}, {1, 1, KindBinaryIn, 1},      {501, 2, KindBinaryIn, 1},
        {597, 2, KindBinaryOut, 1}, {693, 2, KindAnalog, 1},      {757, 2, KindCounter, 1},
        {805, 2, KindMemoryOut, 1}, {905, 2, KindMemoryIn, 1},    {950, 2, KindErrorNoAnswer, 1},
        {951, 2, KindErrorInMess, 1}, {954, 2, KindErrCount, 1}, {956, 2, KindVideo, 1},
        {959, 2, KindVideo, 4},     {960, 2, KindOutReadAiMorvel, 1}, {978, 2, KindInConnectedModem, 1},
        {980, 2, KindOutWriteAllBoMo, 1},
        {981, 2, KindMsgCounter, 1},
    };
    for (const Case& c : cases) {
        StationChannel h;
        ASSERT_TRUE(ResolveStationChannel(f.ctx, c.channel, h)) << c.channel;
        EXPECT_EQ(h.Station, c.station) << c.channel;
        EXPECT_EQ(h.Kind, c.kind) << c.channel;
        EXPECT_EQ(h.Index, c.index) << c.channel;
    }
    StationChannel h;
    EXPECT_FALSE(ResolveStationChannel(f.ctx, 517, h));  // past station 2's 16 binary inputs
    EXPECT_FALSE(ResolveStationChannel(f.ctx, 1001, h));  // station 3 is not defined
}

TEST(ChannelIndex, InitReplacesTheIndexWithItsStations) {
    HostFixture f;
    f.Standard(1);
    f.Item(1, 77, DirRead, 0, 0, 0, QqWord);
    f.Build();
    ZkHostValue v = f.Get(77, HostDouble);
    EXPECT_EQ(As<double>(v), 0.0);
    // Init resets the stations (the items the index pointed at are gone) and loads afresh.
    TempDir dir;
    WriteFile(dir.file("drv.par"), MakeParFile());
    const std::string name = dir.file("drv.par");
    char text[256] = "D1";
    Init(*f.rec, static_cast<std::int32_t>(name.size()), name.c_str(), text, 0, 0, 0);
    v = f.Get(77, HostDouble);
    EXPECT_TRUE(Untouched(v));
    Done(*f.rec);
}
