// The station's own number forms and its reading of the driver's parameter file.
#include <gtest/gtest.h>

#include <cmath>

#include "support/par_files.h"
#include "zksim/sim_line.h"
#include "zksim/codec.h"
#include "zksim/config.h"
#include "zksim/scenario.h"

namespace zktest {
namespace {

struct RealCase {
    double value;
    std::array<uint8_t, 3> bytes;
    double decoded;  // what the bytes read back as
};

TEST(StationReal, EncodesAndDecodesTheStationsForm) {
    const RealCase cases[] = {
        {1.0, {0x40, 0x00, 0x00}, 1.0},       {-1.0, {0xC0, 0x00, 0x00}, -1.0},
        {0.5, {0x3F, 0x00, 0x00}, 0.5},       {0.75, {0x3F, 0x80, 0x00}, 0.75},
        {2.0, {0x41, 0x00, 0x00}, 2.0},       {3.0, {0x41, 0x80, 0x00}, 3.0},
        {100.0, {0x46, 0x90, 0x00}, 100.0},   {-100.0, {0xC6, 0x90, 0x00}, -100.0},
        {65535.0, {0x4F, 0xFF, 0xFE}, 65535.0}, {0.0, {0x00, 0x00, 0x00}, 0.0},
        // the fraction is cut, never rounded
        {0.1, {0x3C, 0x99, 0x99}, 0.09999942779541016}, {12345.678, {0x4D, 0x81, 0xCD}, 12345.625},
    };
    for (const RealCase& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(zksim::EncodeStationReal(c.value), c.bytes);
        EXPECT_DOUBLE_EQ(zksim::DecodeStationReal(c.bytes[0], c.bytes[1], c.bytes[2]), c.decoded);
    }
}

TEST(StationReal, OnlyThreeZeroBytesAreZeroAndTheRangeEndsAre2To64) {
    EXPECT_DOUBLE_EQ(zksim::DecodeStationReal(0x00, 0x80, 0x00), 1.5 * std::ldexp(1.0, -64));
    EXPECT_DOUBLE_EQ(zksim::DecodeStationReal(0x80, 0x00, 0x00), -std::ldexp(1.0, -64));
    EXPECT_LT(zksim::DecodeStationReal(0x7F, 0xFF, 0xFF), std::ldexp(1.0, 64));
    EXPECT_GT(zksim::DecodeStationReal(0x7F, 0xFF, 0xFF), std::ldexp(1.0, 63));
    // beyond the range: clamped, never wrapped into the sign bit
    EXPECT_EQ(zksim::EncodeStationReal(1e30), (std::array<uint8_t, 3>{0x7F, 0xFF, 0xFF}));
    EXPECT_EQ(zksim::EncodeStationReal(-1e30), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(zksim::EncodeStationReal(1e-30), (std::array<uint8_t, 3>{0x00, 0x00, 0x00}));
}

TEST(StationNumbers, SinglesLongsBcdAndChecks) {
    EXPECT_EQ(zksim::EncodeSingle(1.0f), (std::array<uint8_t, 4>{0x00, 0x00, 0x80, 0x3F}));
    const uint8_t one[] = {0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(zksim::DecodeSingle(one), 1.0f);
    EXPECT_EQ(zksim::EncodeLong(0x12345678), (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(zksim::EncodeBcd(59), 0x59);
    EXPECT_EQ(zksim::EncodeBcd(2024), 0x24);
    EXPECT_EQ(zksim::XorOf(B({0x01, 0x03, 0x79, 0xAA})), 0xD1);
    Bytes parsed;
    EXPECT_TRUE(zksim::ParseHex("01 ff,0x2A", parsed));
    EXPECT_EQ(parsed, B({0x01, 0xFF, 0x2A}));
    EXPECT_FALSE(zksim::ParseHex("0G", parsed));
    EXPECT_EQ(zksim::HexText(B({0x01, 0xFF})), "01 FF");
}

TEST(ParameterScan, ReadsWhatTheStationsNeedFromTheDriversFile) {
    ParFileOptions o;
    o.modem = "[MODEM] INIT ATZ# CONNECT_RING #@RING#@ RING_COUNT 2 END";
    o.globalExtra = "{ a comment with END inside }";
    o.stations =
        "[STATION] ADDRESS 5 RETRANSLATION 9\r\n"
        "NAME \"END of line\"\r\nPHONE 777\r\n"
        "NUM_BINAR_IN 200 NUM_BINAR_OUT 8 NUM_ANALOG_IN 4 NUM_COUNTER_IN 16 NUM_MEMORY_IN 2 NUM_MEMORY_OUT 3\r\n"
        "BINAR_IN_XOR 1 5 END\r\nBINAR_OUT_XOR NONE\r\nDEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
        "DEF_MEMORY_IN ARRAY 1 100 WORD 2 102 DEF_MEMORY_END\r\n"
        "DEF_MEMORY_OUT 1 $200 BYTE 3 0x210 REAL DEF_MEMORY_END\r\n"
        "DEF_COUNTER_IN 1 REAL 1.0 0.0 DEF_COUNTER_END\r\n"
        "ANALOG_LIMITS 3 0 100 5 ANALOG_LIMITS_END\r\n"
        "QQ READ 1201 0 32 0 INTEGER QQ BIDIR 1202 0 33 0 STRING QQ READ 10 0 0 0 FLOAT\r\n"
        "MEMORY_BLOCK ADDR 200 CHANNEL 3001 CHANNEL_READ 3000 TYPES WORD INPUT REAL OUTPUT TYPES_END "
        "MEMORY_BLOCK_END\r\n"
        "ORIGINAL_CHANNELS END\r\n"
        "[station] address 7 retranslation 5 phone D0123456 NUM_BINAR_IN 8 name \"ST2\" END\r\nEND\r\n";
    Bytes text = MakeParFile(o);
    // a string value with codes and the prefix the stations search for
    text.replace(text.find("PREFIX NONE"), 11, "PREFIX $FF$FF");
    text.replace(text.find("PRESUFFIX NONE"), 14, "PRESUFFIX $0D");

    zksim::LineDef line;
    std::string error;
    ASSERT_TRUE(zksim::ScanParameterText(text, line, error)) << error;
    EXPECT_EQ(line.prefix, B({0xFF, 0xFF}));
    EXPECT_EQ(line.suffix, "");
    EXPECT_EQ(line.presuffix, "\r");
    EXPECT_EQ(line.driverAddress, 1);
    EXPECT_EQ(line.ringText, "\r\nRING\r\n");
    ASSERT_EQ(line.stations.size(), 2u);

    const zksim::StationDef& s = line.stations[0];
    EXPECT_EQ(s.address, 5);
    EXPECT_EQ(s.retranslation, 9);
    EXPECT_EQ(s.name, "ENDof line");  // the blank after the value item is lost, as in the driver
    EXPECT_EQ(s.phone, "777");
    EXPECT_EQ(s.numBinaryIn, 96);
    EXPECT_EQ(s.numCounterIn, 16);
    EXPECT_EQ(s.analogAddress, 256);
    EXPECT_TRUE(s.wholeBlockRead);
    EXPECT_EQ(s.memoryIn[0].address, 100);
    EXPECT_EQ(s.memoryIn[0].type, 2);
    EXPECT_EQ(s.memoryIn[1].address, 102);
    EXPECT_EQ(s.memoryIn[1].type, 3);
    EXPECT_EQ(s.memoryOut[0].address, 0x200);
    EXPECT_EQ(s.memoryOut[0].type, 1);
    EXPECT_EQ(s.memoryOut[2].address, 0x210);
    ASSERT_EQ(s.qqItems.size(), 2u);  // the FLOAT item is no item
    EXPECT_EQ(s.qqItems[0].b, 32);
    EXPECT_EQ(s.qqItems[1].type, 7);
    ASSERT_EQ(s.blocks.size(), 1u);
    EXPECT_EQ(s.blocks[0].address, 200);
    EXPECT_EQ(s.blocks[0].types, (std::vector<uint8_t>{2, 6}));

    EXPECT_EQ(line.stations[1].address, 7);
    EXPECT_EQ(line.stations[1].retranslation, 5);
    EXPECT_EQ(line.stations[1].phone, "0123456");
}

TEST(ParameterScan, ReadsTheShippedExampleFiles) {
    struct Case {
        const char* file;
        std::vector<int> addresses;
        std::vector<std::string> phones;
        Bytes ringText;
    };
    const Case cases[] = {
        {"minimal.par", {5}, {""}, ""},
        {"channels.par", {5}, {"0123456789"}, ""},
        {"incoming-call.par", {5, 6}, {"", ""}, "\r\nRING\r\n"},
        {"modem-phones.par", {5, 6, 7, 8}, {"0123456789", "0223456789", "0223456789", "0323456789"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        zksim::LineDef line;
        std::string error;
        ASSERT_TRUE(zksim::ScanParameterFile(std::string(ZK_SOURCE_DIR) + "/examples/" + c.file, line, error)) << error;
        ASSERT_EQ(line.stations.size(), c.addresses.size());
        for (size_t i = 0; i < c.addresses.size(); ++i) {
            EXPECT_EQ(line.stations[i].address, c.addresses[i]);
            EXPECT_EQ(line.stations[i].phone, c.phones[i]);
        }
        EXPECT_EQ(line.ringText, c.ringText);
        EXPECT_EQ(line.driverAddress, 1);
        EXPECT_EQ(line.prefix, "");
    }
    zksim::LineDef line;
    std::string error;
    ASSERT_TRUE(zksim::ScanParameterFile(std::string(ZK_SOURCE_DIR) + "/examples/channels.par", line, error));
    EXPECT_EQ(line.stations[0].qqItems.size(), 7u);
    ASSERT_EQ(line.stations[0].blocks.size(), 1u);
    EXPECT_EQ(line.stations[0].blocks[0].address, 512);
    EXPECT_TRUE(line.stations[0].wholeBlockRead);
    EXPECT_EQ(line.stations[0].memoryOut[1].address, 201);
}

TEST(ParameterScan, AFileWithoutStationsOrNotThereIsRefused) {
    zksim::LineDef line;
    std::string error;
    EXPECT_FALSE(zksim::ScanParameterText("[COM] END [GLOBAL] END", line, error));
    EXPECT_NE(error.find("STATION"), std::string::npos);
    EXPECT_FALSE(zksim::ScanParameterFile("/nonexistent/zksim.par", line, error));
    EXPECT_NE(error.find("/nonexistent/zksim.par"), std::string::npos);
}

TEST(ScenarioText, ReportsTheLineItCannotRead) {
    std::vector<zksim::ScenarioLine> lines;
    std::string error;
    EXPECT_TRUE(zksim::ParseScenario("# values\nset 5 bi 3 1\nat 2.5 set 5 ai 1 12.5  # later\n"
                                     "every 1 add 5 counter 1 3\nfault station 5 count 2 silence\n",
                                     lines, error))
        << error;
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].at, 2.5);
    EXPECT_EQ(lines[2].every, 1.0);

    const std::pair<const char*, const char*> bad[] = {
        {"set 5 bi 97 1", "line 1: \"97\" is not a number from 1 to 96"},
        {"\nfault station 5", "line 2: the fault names no fault"},
        {"set 5 qq 0 0 1 hex 0102", "line 1: a QQ value has 4 bytes"},
        {"jump 3", "line 1: unknown command \"jump\""},
        {"ring 3 now", "line 1: unexpected \"now\""},
        {"at soon ring", "line 1: \"soon\" is not a number"},
    };
    for (const auto& [text, message] : bad) {
        lines.clear();
        EXPECT_FALSE(zksim::ParseScenario(text, lines, error)) << text;
        EXPECT_EQ(error, message);
    }
    EXPECT_EQ(zksim::SplitWords("set 5 qq 0 33 0 text \"A b\\x7F\" # note"),
              (std::vector<std::string>{"set", "5", "qq", "0", "33", "0", "text", "A b\x7F"}));
}

}  // namespace
}  // namespace zktest
