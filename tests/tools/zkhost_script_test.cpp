// The host tool's script: parsing and the value bytes it hands the driver.
#include <gtest/gtest.h>

#include <cstring>

#include <limits>
#include <utility>

#include "zkhost/history_list.h"
#include "zkhost/live.h"
#include "zkhost/script.h"

namespace {

using zkhost::Command;
using zkhost::OpKind;

TEST(ZkhostScript, ParsesEveryCommand) {
    struct Case {
        const char* line;
        OpKind op;
        std::size_t channels;
        double seconds;
    } cases[] = {
        {"", OpKind::None, 0, 0},
        {"   # only a comment", OpKind::None, 0, 0},
        {"read 101 f32", OpKind::Read, 1, 0},
        {"get 65399 f64  # pass interval", OpKind::Get, 1, 0},
        {"write 29 bool 1", OpKind::Write, 1, 0},
        {"until 31 bool 1 30", OpKind::Until, 1, 30},
        {"watch 5 101:f32 1:bool", OpKind::Watch, 2, 5},
        {"wait 0.5", OpKind::Wait, 0, 0.5},
        {"print hello world", OpKind::Print, 0, 0},
    };
    for (const Case& c : cases) {
        Command cmd;
        std::string error;
        ASSERT_TRUE(zkhost::ParseCommand(c.line, cmd, error)) << c.line << ": " << error;
        EXPECT_EQ(cmd.Op, c.op) << c.line;
        EXPECT_EQ(cmd.Channels.size(), c.channels) << c.line;
        EXPECT_DOUBLE_EQ(cmd.Seconds, c.seconds) << c.line;
    }
}

TEST(ZkhostScript, RefusesBadLinesWithAReason) {
    for (const char* line : {"read", "read 70000 u8", "read 1 float", "write 1 u8 256", "write 1 i8 -129",
                             "write 1 bool maybe", "until 1 u8 3", "watch x 1:u8", "watch 3 1", "wait -1",
                             "jump 3"}) {
        Command cmd;
        std::string error;
        EXPECT_FALSE(zkhost::ParseCommand(line, cmd, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
}

TEST(ZkhostScript, EncodesValuesAsTheDriverExpectsThem) {
    struct Case {
        std::int32_t type;
        const char* written;
        std::uint64_t bits;
    } cases[] = {
        {2, "1", 1}, {2, "off", 0}, {3, "255", 0xFF}, {4, "0x1234", 0x1234}, {5, "4294967295", 0xFFFFFFFF},
        {6, "-1", 0xFF}, {7, "-2", 0xFFFE}, {8, "-1", 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        std::string text;
        std::uint64_t bits = 7;
        ASSERT_TRUE(zkhost::EncodeValue(c.type, c.written, text, bits)) << c.written;
        EXPECT_EQ(bits, c.bits) << c.written;
    }
    std::string text;
    std::uint64_t bits = 0;
    ASSERT_TRUE(zkhost::EncodeValue(10, "2.5", text, bits));
    double d;
    std::memcpy(&d, &bits, 8);
    EXPECT_EQ(d, 2.5);
    ASSERT_TRUE(zkhost::EncodeValue(9, "-0.25", text, bits));
    float f;
    const auto low = static_cast<std::uint32_t>(bits);
    std::memcpy(&f, &low, 4);
    EXPECT_EQ(f, -0.25f);
    ASSERT_TRUE(zkhost::EncodeValue(11, "abc", text, bits));
    const char* p;
    std::memcpy(&p, &bits, sizeof p);
    EXPECT_STREQ(p, "abc");
}

TEST(ZkhostScript, FormatsWhatGetInputLeft) {
    ZkHostValue v{};
    v.type = 7;
    const std::int16_t x = -300;
    std::memcpy(v.value, &x, 2);
    EXPECT_EQ(zkhost::FormatValue(v, nullptr), "-300");
    v.type = 10;
    const double d = 1.5;
    std::memcpy(v.value, &d, 8);
    EXPECT_EQ(zkhost::FormatValue(v, nullptr), "1.5");
    v.type = 11;
    EXPECT_EQ(zkhost::FormatValue(v, "abc"), "\"abc\"");
}

}  // namespace

namespace {

TEST(ZkhostScript, UntilComparesNumbersAsNumbers) {
    using zkhost::CompareOp;
    struct Case {
        const char* have;
        CompareOp op;
        const char* want;
        bool result;
    } cases[] = {
        {"1", CompareOp::Eq, "true", true},    {"0", CompareOp::Eq, "false", true}, {"12.50", CompareOp::Eq, "12.5", true},
        {"12.5", CompareOp::Ge, "12", true},   {"3", CompareOp::Lt, "10", true},    {"10", CompareOp::Lt, "3", false},
        {"\"abc\"", CompareOp::Eq, "abc", true}, {"abc", CompareOp::Ne, "abd", true}, {"abc", CompareOp::Lt, "abd", false},
    };
    for (const Case& c : cases) EXPECT_EQ(zkhost::Compare(c.have, c.op, c.want), c.result) << c.have << " " << c.want;
}

TEST(ZkhostScript, NamesOfTheChannelMapStandForTheirNumbersAndTypes) {
    const std::vector<zkhost::ChannelName> map = {{"st2.bi.1", 501, 2, true, false}, {"st2.connect", 976, 2, false, true}};
    zkhost::Command cmd;
    std::string error;
    ASSERT_TRUE(zkhost::ParseCommand("until st2.bi.1 >= 1 30 stop st2.connect", cmd, error, &map)) << error;
    EXPECT_EQ(cmd.Channels[0].Channel, 501u);
    EXPECT_EQ(cmd.Channels[0].Type, 2);
    EXPECT_EQ(cmd.Compare, zkhost::CompareOp::Ge);
    EXPECT_TRUE(cmd.HasStop);
    EXPECT_EQ(cmd.Stop.Ref.Channel, 976u);
    EXPECT_EQ(cmd.Stop.Value, "1");
    ASSERT_TRUE(zkhost::ParseCommand("read st2.bi.1 u8 5", cmd, error, &map)) << error;
    EXPECT_EQ(cmd.Channels[0].Type, 3);
    EXPECT_DOUBLE_EQ(cmd.Seconds, 5);
    ASSERT_TRUE(zkhost::ParseCommand("dial 2", cmd, error, &map)) << error;
    EXPECT_EQ(cmd.Channels[0].Channel, 976u);
    for (const char* bad : {"read st3.bi.1", "dial 3", "until st2.bi.1 1 30 stop", "until st2.bi.1 1 30 unless x"}) {
        EXPECT_FALSE(zkhost::ParseCommand(bad, cmd, error, &map)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(ZkhostStatusText, TheWindowTextReadsBackAndNewEventsAreFound) {
    const std::string text = "R 7\nC ZK Driver: X\nN N\xe1zev:\nV Verze:\nE one\nE MODEM - \\r\\nOK\\r\\n\nE a\\\\b\n"
                             "L idle\nL q\nL p\nL log\nL com\nL mem\n";
    const zkhost::StatusText w = zkhost::ParseStatusText(text);
    EXPECT_TRUE(w.Valid);
    EXPECT_EQ(w.Revision, 7u);
    EXPECT_EQ(w.Name, "Název:");
    ASSERT_EQ(w.Events.size(), 3u);
    EXPECT_EQ(w.Events[1], "MODEM - \\r\\nOK\\r\\n");
    EXPECT_EQ(w.Events[2], "a\\b");
    EXPECT_EQ(w.Labels[5], "mem");
    using V = std::vector<std::string>;
    EXPECT_EQ(zkhost::NewEventLines(V{"a", "b", "c"}, V{"b", "c", "d", "e"}), (V{"d", "e"}));
    EXPECT_EQ(zkhost::NewEventLines(V{}, V{"a"}), (V{"a"}));
    EXPECT_EQ(zkhost::NewEventLines(V{"a", "b"}, V{"a", "b"}), V{});
    EXPECT_EQ(zkhost::NewEventLines(V{"x"}, V{"y", "z"}), (V{"y", "z"}));
}

TEST(ZkhostLive, DrawsTheWindowTheWatchListAndTheCommandLineToSize) {
    zkhost::LiveModel m;
    m.File = "site.par";
    m.Window = zkhost::ParseStatusText("R 1\nC ZK Driver: ZKHOST\nN N\xe1zev:\nV Verze:\nE STANICE \xc8" "erpac\xed\n"
                                       "L Hlavn\xed thread\nL fronta\nL zpr\xe1vy\nL Log: x\nL P\xf8ipojen\xed: COM1\nL mem\n");
    m.Watch.push_back({{501, 2, "st2.bi.1"}, "1", 2.5, 0});
    m.Output = {"st2.bi.1 (501) = 1"};
    m.Input = "read st1";
    for (const auto& [width, height] : {std::pair{80, 40}, std::pair{40, 20}, std::pair{120, 60}}) {
        const auto lines = zkhost::DrawLive(m, width, height);
        ASSERT_EQ(static_cast<int>(lines.size()), height);
        for (const std::string& l : lines) {
            std::size_t columns = 0;
            for (const char c : l) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            EXPECT_LE(static_cast<int>(columns), width) << l;
        }
        EXPECT_EQ(lines.back(), "> read st1");
        EXPECT_EQ(lines[0].rfind("-- ZK Driver: ZKHOST", 0), 0u) << lines[0];
    }
    const auto lines = zkhost::DrawLive(m, 80, 40);
    auto has = [&lines](const std::string& text) {
        for (const std::string& l : lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("STANICE Čerpací"));
    EXPECT_TRUE(has("Připojení: COM1"));
    EXPECT_TRUE(has("st2.bi.1                 501  1   (   2.5 s)"));
    EXPECT_TRUE(has("st2.bi.1 (501) = 1"));
}

TEST(ZkhostHistory, RecordsAsTheBrowseChannelsShowThem) {
    std::string bytes(50000 * 10, '\0');
    auto put = [&bytes](std::size_t record, std::uint16_t word, std::uint32_t stamp, float sample) {
        std::memcpy(&bytes[record * 10], &word, 2);
        std::memcpy(&bytes[record * 10 + 2], &stamp, 4);
        std::memcpy(&bytes[record * 10 + 6], &sample, 4);
    };
    put(3, 7, 86400 + 3600 + 61, 1.5f);  // 2.1.2000 1:01:01
    put(49999, 1, 0, std::numeric_limits<float>::infinity());
    auto rows = zkhost::HistoryRows(bytes, 0, 50000, false);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Number, 3u);
    EXPECT_EQ(rows[0].Word, 7);
    EXPECT_EQ(rows[0].Time, "2.1.2000 1:01:01");
    EXPECT_EQ(rows[0].Sample, 1.5f);
    EXPECT_EQ(rows[1].Sample, -1.0f);
    EXPECT_EQ(zkhost::HistoryRows(bytes, 2, 3, true).size(), 3u);
    EXPECT_EQ(zkhost::HistoryRows(bytes.substr(0, 35), 0, 50000, true).size(), 3u);  // a short file
}

}  // namespace
