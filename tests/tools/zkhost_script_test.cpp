// The host tool's script: parsing and the value bytes it hands the driver.
#include <gtest/gtest.h>

#include <cstring>

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
