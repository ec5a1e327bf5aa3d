// The example parameter files of the distribution load and say what they promise.
#include <gtest/gtest.h>

#include <string>

#include "config/parfile.h"
#include "par_load.h"

using namespace zk;

namespace {

// Loads examples/<name> through the file reader.
struct LoadExample : zktest::ParLoad {
    explicit LoadExample(const std::string& name) {
        ctx().ParFileName.assign(std::string(ZK_SOURCE_DIR) + "/examples/" + name);
        zk::ConfigContext cfg = target();
        ok = LoadParameterFile(cfg, ctx().Lock);
    }
};

TEST(Examples, EveryExampleLoadsWithModemLimitsAboveThreeSeconds) {
    for (const char* name :
         {"minimal.par", "modem-phones.par", "incoming-call.par", "channels.par", "demo/demo.par"}) {
        LoadExample p(name);
        ASSERT_TRUE(p.ok) << name << ": " << p.error();
        EXPECT_GE(p.ctx().StationCount, 1) << name;
        const ModemRecord& m = p.ctx().Modem;
        for (double limit : {m.InitBlock.Limit, m.DialBlock.Limit, m.HangupBlock.Limit, m.AnswerBlock.Limit})
            EXPECT_GT(limit, 3.0) << name;
    }
}

TEST(Examples, PhoneStationsTwoOfThemSharingANumber) {
    LoadExample p("modem-phones.par");
    ASSERT_TRUE(p.ok) << p.error();
    ASSERT_EQ(p.ctx().StationCount, 4);
    EXPECT_EQ(Cp1250ToUtf8(p.station(2).Name), "Čerpací stanice A");
    EXPECT_EQ(p.station(2).PhoneNumber, p.station(3).PhoneNumber);
    EXPECT_TRUE(p.station(2).KiFlag);
    EXPECT_NE(p.station(1).PhoneNumber, p.station(4).PhoneNumber);
    EXPECT_EQ(p.station(4).BlockBase[KindBinaryIn], 1501);
    EXPECT_FALSE(p.ctx().Global.PrstynekRun);
    EXPECT_EQ(p.ctx().Modem.DialBlock.Command.view(), "ATDT");
}

TEST(Examples, IncomingCalls) {
    LoadExample p("incoming-call.par");
    ASSERT_TRUE(p.ok) << p.error();
    EXPECT_TRUE(p.ctx().Global.PrstynekRun);
    EXPECT_EQ(p.ctx().Modem.RingText.view(), "\r\nRING\r\n");
    EXPECT_EQ(p.ctx().Modem.RingsToAnswer, 2);
    for (int n = 1; n <= p.ctx().StationCount; ++n) EXPECT_TRUE(p.station(n).PhoneNumber.empty());
}

TEST(Examples, ChannelsOfEveryTypeAndAMemoryBlock) {
    LoadExample p("channels.par");
    ASSERT_TRUE(p.ok) << p.error();
    const StationRecord& s = p.station(1);
    ASSERT_EQ(s.Channels.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(s.Channels[i]->Type, i + 1);
    ASSERT_EQ(s.MemoryBlocks.size(), 1u);
    EXPECT_EQ(s.MemoryBlocks[0]->Types.size(), 6u);
    EXPECT_EQ(s.MemoryBlocks[0]->TotalSize, 1 + 2 + 2 + 4 + 4 + 3);
    EXPECT_TRUE(s.WholeBlockRead);
    EXPECT_EQ(s.Counters[1].Mode, 2);
    EXPECT_EQ(s.AnalogLimits[2].Lower, -50.0);
    EXPECT_TRUE(s.InvertIn[16]);
}

}  // namespace
