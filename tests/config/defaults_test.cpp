// The defaults every start begins from and the preparation of the stations.
#include "config/defaults.h"
#include "host/records.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/encodings.h"

using namespace zk;

class Defaults : public ::testing::Test {
protected:
    void SetUp() override { ResetContext(ctx); }
    DriverContext ctx;
};

TEST_F(Defaults, AllHundredStationsExistWithTheirDefaultNames) {
    for (int n = 1; n <= 100; ++n) {
        ASSERT_NE(ctx.Stations[n], nullptr);
        EXPECT_EQ(ctx.Stations[n]->Name.view(), "NAME_" + std::to_string(n));
    }
    const StationRecord& s42 = *ctx.Stations[42];
    for (int kind = 1; kind <= 38; ++kind) EXPECT_EQ(s42.BlockBase[kind], 0);
    EXPECT_TRUE(s42.Channels.empty());
    EXPECT_TRUE(s42.MemoryBlocks.empty());
    EXPECT_EQ(s42.AnalogLimits[1].Upper, 100.0);
    EXPECT_EQ(s42.AnalogLimits[64].Lower, 0.0);
    EXPECT_EQ(s42.Hdb, nullptr);
}

TEST_F(Defaults, SettingsTheFileMayLeaveOut) {
    EXPECT_EQ(ctx.Global.SLEEP_COUNT, 100);
    EXPECT_EQ(ctx.Global.SLEEP_TIME, 0.0);
    EXPECT_EQ(ctx.Global.IDLE_TIME, 10);
    EXPECT_EQ(ctx.Global.NUM_MORVEL_ERROR, 1);
    EXPECT_EQ(ctx.Global.CUC_PATH.view(), RootDirectory());
    EXPECT_EQ(ctx.Global.DEF_ANALOG_IN_ADDR, 65535);
    EXPECT_FALSE(ctx.Global.STAY_IN_QUEUE_ON_TIMEOUT);
    EXPECT_FALSE(ctx.Global.BEEP);
    EXPECT_FALSE(ctx.Global.PrstynekRun);
    EXPECT_EQ(ctx.Scheduler.MergeLimit, 60);
    EXPECT_EQ(ctx.DriverName.view(), "ZKDKRMOD");
    EXPECT_EQ(ctx.Scheduler.LineCode, 222);
    EXPECT_EQ(ctx.Scheduler.RingStation, 1);
    EXPECT_EQ(ctx.Scheduler.RingBlock, 0);
    EXPECT_EQ(ctx.Scheduler.RingItem, 1);
    EXPECT_EQ(ctx.Table.TableRow, 1);
    EXPECT_EQ(ctx.Table.MbKindIndex, 1);
    EXPECT_EQ(ctx.History.HdbStation, 1);
    EXPECT_EQ(ctx.History.HdbNumber, 1);
    EXPECT_EQ(ctx.History.HdbReadTimeout, 600.0);
    EXPECT_EQ(ctx.TestChannel, 1);
    EXPECT_EQ(ctx.Modem.InitBlock.Command.view(), "ATX3\r");
    EXPECT_EQ(ctx.Modem.HangupBlock.Command.view(), "~~~+++~~~ATH0\r~~");
    EXPECT_EQ(ctx.Modem.RingsToAnswer, 6);
    EXPECT_TRUE(ctx.Modem.RingText.empty());
}

TEST_F(Defaults, KeyCodeTable) {
    ASSERT_EQ(ctx.KeyCodes.size(), 27u);
    EXPECT_EQ(ctx.KeyCodes.view(), std::string_view("\x8C" "ABCDE\xFEG789\r456+-123F\x8C.0E\n\t", 27));
}

TEST_F(Defaults, TextTableCellsHoldTheStationRealOfZero) {
    for (int r : {0, 263, 527}) {
        const TextRow& row = ctx.Table.TextTable[r];
        for (int i = 0; i < 7; ++i) EXPECT_EQ(row.State[i], 0);
        for (const auto& cell : row.Cells) {
            EXPECT_EQ(cell.view(), std::string_view("\0\0\0", 3));
            EXPECT_EQ(StationRealToFloat(cell.view()), 0.0);
        }
    }
}

TEST_F(Defaults, PrepareStationsClearsTheImageAndSetsTheDisplayLines) {
    StationRecord& s = *ctx.Stations[42];
    s.BinaryIn[3] = true;
    s.Analog[7] = 5.5;
    s.MemoryIn[45].Value = 1.0;
    s.MemoryOut[100].Value = 2.0;
    s.ErrorCount = 9;
    s.SleepLeft = 3.0;
    s.CallCode = 77;
    s.RequestCount = 5;
    s.Counters[4].Value = 5.0;
    s.Counters[4].RawCount = 12;
    PrepareStations(ctx.Stations);
    EXPECT_FALSE(s.BinaryIn[3]);
    EXPECT_EQ(s.Analog[7], 0.0);
    EXPECT_EQ(s.MemoryIn[45].Value, 0.0);
    EXPECT_EQ(s.MemoryOut[100].Value, 0.0);
    EXPECT_EQ(s.ErrorCount, 0);
    EXPECT_EQ(s.SleepLeft, 0.0);
    EXPECT_EQ(s.CallCode, 0u);
    EXPECT_EQ(s.RequestCount, 0u);
    EXPECT_EQ(s.Counters[4].StartValue, 5.0);
    EXPECT_EQ(s.Counters[4].Value, 5.0);
    EXPECT_EQ(s.Counters[4].RawCount, 0);
    for (int line = 0; line < 4; ++line)
        EXPECT_STREQ(s.DisplayLines[line].data(), ("<line " + std::to_string(line + 1) + ">").c_str());
}

TEST(ParFileName, TakesTheGivenLengthUpToTheFirstNulAndAtMost255) {
    const std::string longName(300, 'p');
    struct Case {
        std::int32_t length;
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {-1, "abc", ""},
        {0, "abc", ""},
        {2, "abc", "ab"},
        {3, "abc", "abc"},
        {40, "abc", "abc"},  // longer than the text: stops at the NUL
        {8, "ab\0cdef", "ab"},
        {300, longName.c_str(), std::string(255, 'p')},
        {5, nullptr, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ParFileNameFromHost(c.length, c.text).str(), c.expected) << c.length;
}

TEST(StandardNumbering, StationThreeAndLaterOverrides) {
    StationRecord s;
    ApplyStandardNumbering(s, 3);
    EXPECT_EQ(s.BlockBase[KindBinaryIn], 1001);
    EXPECT_EQ(s.BlockBase[KindBinaryOut], 1097);
    EXPECT_EQ(s.BlockBase[KindMemoryIn], 1405);
    EXPECT_EQ(s.BlockBase[KindMemoryOut], 1305);
    EXPECT_EQ(s.BlockBase[KindVideo], 1456);
    EXPECT_EQ(s.BlockBase[KindOutReadAiMorvel], 1460);
    EXPECT_EQ(s.BlockBase[KindOutWriteAllBoMo], 1480);
    EXPECT_EQ(s.BlockBase[KindMsgCounter], 1481);
    EXPECT_EQ(s.BlockBase[KindNameChannel], 0);
    EXPECT_EQ(s.BlockBase[KindCallCode], 0);
    ApplyStandardNumbering(s, 100);
    EXPECT_EQ(s.BlockBase[KindMsgCounter], 49981);
}
