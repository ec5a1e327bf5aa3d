// The station groups and the definitions nested in them.
#include "config/stations.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "par_load.h"

using namespace zk;
using zktest::ParLoad;
using zktest::ParText;

namespace {

// A file whose station groups are the given text.
std::string WithStations(const std::string& stations) {
    ParText t;
    t.stations = stations;
    return t.str();
}

// A file with one station that has `extra` keys.
ParLoad LoadOne(const std::string& extra) { return ParLoad(WithStations(ParText::Station(extra))); }

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const char* kBad = "Chybná definice proměnné ";

TEST(Stations, ThreeGroupsInFileOrder) {
    ParLoad p(WithStations(ParText::Station("", "A") + ParText::Station("ADDRESS 7", "B") + ParText::Station("", "C")));
    ASSERT_TRUE(p.ok) << p.error();
    EXPECT_EQ(p.ctx().StationCount, 3);
    EXPECT_EQ(p.station(1).Name.view(), "A");
    EXPECT_EQ(p.station(2).Name.view(), "B");
    EXPECT_EQ(p.station(2).Address, 7);  // the later ADDRESS wins
    EXPECT_EQ(p.station(3).Name.view(), "C");
    EXPECT_EQ(p.station(4).Name.view(), "NAME_4");
    EXPECT_TRUE(Contains(p.events(), "STANICE B "));
}

TEST(Stations, MandatoryKeysAndTheirMessages) {
    struct Case {
        std::string from, to;
        std::string key;
    };
    const Case cases[] = {
        {"ADDRESS 5 ", "", "ADDRESS"},
        {"RETRANSLATION 5", "RETRANSLATION x", "RETRANSLATION"},
        {"NAME \"ST1\"", "NAME $4", "NAME"},
        {"NUM_BINAR_IN 16", "NUM_BINAR_IN sixteen", "NUM_BINAR_IN"},
        {"NUM_MEMORY_OUT 0", "", "NUM_MEMORY_OUT"},
        {"BINAR_IN_XOR NONE", "BINAR_IN_XOR 0", "BINAR_IN_XOR"},
        {"DEF_ANALOG_IN_ADDR FROM_GLOBAL", "", "DEF_ANALOG_IN_ADDR"},
        {"DEF_COUNTER_IN NONE", "", "DEF_COUNTER_IN"},
        {"DEF_MEMORY_OUT NONE", "DEF_MEMORY_OUT 101 1 DEF_MEMORY_END", "DEF_MEMORY_OUT"},
    };
    for (const Case& c : cases) {
        std::string station = ParText::Station();
        station.replace(station.find(c.from), c.from.size(), c.to);
        ParLoad p(WithStations(station));
        EXPECT_FALSE(p.ok) << c.to;
        EXPECT_EQ(p.error(), kBad + c.key + " / [STATION]") << c.to;
    }
}

TEST(Stations, GroupEndsAndCounts) {
    struct Case {
        std::string stations;
        bool ok;
        int count;
        std::string message;
    };
    const std::string good = ParText::Station();
    const std::string noEnd = "[STATION] ADDRESS 5";
    const std::string faulty = ParText::Station("QQ READ 1 0 0 0 FLOAT");
    const Case cases[] = {
        {"", false, 0, "Chybí definice skupiny [STATION]"},
        {noEnd, false, 0, "Chybí END na konci skupiny [STATION]"},
        {good + noEnd, true, 2, "Chybí END na konci skupiny [STATION]"},
        {faulty + good, false, 0, kBad + std::string("QQ / [STATION]")},
        // A faulty later group keeps the stations before it and is counted; later ones are not read.
        {good + good + faulty + good, true, 3, kBad + std::string("QQ / [STATION]")},
        {good + "[STATION] ADDRESS", true, 2, "Chybí END na konci skupiny [STATION]"},
    };
    for (const Case& c : cases) {
        ParLoad p(WithStations(c.stations));
        EXPECT_EQ(p.ok, c.ok) << c.stations;
        EXPECT_EQ(p.ctx().StationCount, c.count) << c.stations;
        EXPECT_EQ(p.error(), c.message) << c.stations;
    }
}

TEST(Stations, AHundredAndFirstGroupStopsTheList) {
    std::string stations;
    for (int n = 1; n <= 101; ++n) stations += ParText::Station("ORIGINAL_CHANNELS", "S" + std::to_string(n));
    ParLoad p(WithStations(stations));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.ctx().StationCount, 100);
    EXPECT_EQ(p.error(), "Prekrocen maximalni pocet stanic");
    EXPECT_EQ(p.station(100).Name.view(), "S100");
    EXPECT_EQ(p.station(100).BlockBase[KindBinaryIn], 49501);
}

TEST(Stations, CountsAreLimited) {
    ParLoad p(LoadOne("NUM_BINAR_IN 200 NUM_BINAR_OUT 97 NUM_ANALOG_IN 65 NUM_COUNTER_IN 49 NUM_MEMORY_IN 46 "
                      "NUM_MEMORY_OUT 255"));
    ASSERT_TRUE(p.ok) << p.error();
    const StationRecord& s = p.station(1);
    EXPECT_EQ(s.NumBinarIn, 96);
    EXPECT_EQ(s.NumBinarOut, 96);
    EXPECT_EQ(s.NumAnalogIn, 64);
    EXPECT_EQ(s.NumCounterIn, 48);
    EXPECT_EQ(s.NumMemoryIn, 45);
    EXPECT_EQ(s.NumMemoryOut, 100);
}

TEST(Stations, PhoneNumbers) {
    struct Case {
        const char* value;
        const char* number;
        bool ki;
    };
    const Case cases[] = {{"D0123456", "0123456", true},
                          {"0123456", "0123456", false},
                          {"d0123456", "0123456", true},  // the value item is upper-cased
                          {"1234567890123456789012345", "12345678901234567890", false}};
    for (const Case& c : cases) {
        ParLoad p(LoadOne(std::string("PHONE ") + c.value));
        ASSERT_TRUE(p.ok) << p.error();
        EXPECT_EQ(p.station(1).PhoneNumber.view(), c.number);
        EXPECT_EQ(p.station(1).KiFlag, c.ki);
        EXPECT_TRUE(Contains(p.events(), std::string("STANICE ST1 ") + c.number));
    }
    // A station without PHONE has no number.
    ParLoad p(WithStations(ParText::Station("PHONE D1") + ParText::Station()));
    EXPECT_TRUE(p.station(2).PhoneNumber.empty());
    EXPECT_FALSE(p.station(2).KiFlag);
}

TEST(Stations, PhoneAndQqStopTheDriversOwnPolling) {
    for (const char* extra : {"", "PHONE 123", "QQ READ 10 0 0 0 BYTE", "QQ READ 10 0 0 0 FLOAT QQ READ 10 0 0 0 BYTE"}) {
        ParText t;
        t.global.replace(t.global.find("\r\nEND"), 5, " STOP_SELF_READING OFF\r\nEND");
        t.stations = ParText::Station(extra);
        ParLoad p(t.str());
        ASSERT_TRUE(p.ok) << p.error();
        EXPECT_EQ(p.ctx().Global.PrstynekRun, std::string_view(extra).empty()) << extra;
    }
}

TEST(Stations, StandardNumberingAppliesWhereItStands) {
    ParLoad p(WithStations(ParText::Station() + ParText::Station() +
                           ParText::Station("CHANNEL_AI 7 Video 8 ORIGINAL_CHANNELS CHANNEL_BI 5000 msgcounter 9")));
    ASSERT_TRUE(p.ok) << p.error();
    const StationRecord& s = p.station(3);
    EXPECT_EQ(s.BlockBase[KindBinaryIn], 5000);
    EXPECT_EQ(s.BlockBase[KindBinaryOut], 1097);
    EXPECT_EQ(s.BlockBase[KindAnalog], 1193);  // written before: overwritten
    EXPECT_EQ(s.BlockBase[KindVideo], 1456);
    EXPECT_EQ(s.BlockBase[KindMsgCounter], 9);
    EXPECT_EQ(s.BlockBase[KindOutReadAiMorvel], 1460);
    EXPECT_EQ(s.BlockBase[KindOutWriteAllBoMo], 1480);
    EXPECT_EQ(p.station(1).BlockBase[KindBinaryIn], 0);  // no numbering without the keys
}

TEST(Stations, EveryChannelNumberKey) {
    const char* keys[] = {"CHANNEL_BI", "CHANNEL_BO", "CHANNEL_AI", "CHANNEL_CT", "CHANNEL_MI", "CHANNEL_MO",
                          "ErrorNoAnswer", "ErrorInMess", "SilenceTime", "SleepTime", "ErrCount", "Video",
                          "out_read_AImorvel", "out_read_CT", "out_write_BO", "out_write_MO", "in_now_comm",
                          "in_last_com_err", "bi_new_BI", "bi_new_AI", "bi_new_CT", "bi_new_MI",
                          "bi_new_err_control", "out_write_restart", "out_read_BI", "out_read_KI", "out_write_KO",
                          "out_read_AI", "out_connect_modem", "in_connecting_modem", "in_connected_modem",
                          "in_active_message", "out_write_all_BO_MO"};
    std::string extra;
    for (int i = 0; i < 33; ++i) extra += std::string(keys[i]) + " " + std::to_string(2000 + i) + " ";
    extra += "MsgCounter 3000 name_channel 3001 CallCode 3002";
    ParLoad p(LoadOne(extra));
    ASSERT_TRUE(p.ok) << p.error();
    for (int kind = 1; kind <= 33; ++kind) EXPECT_EQ(p.station(1).BlockBase[kind], 2000 + kind - 1) << kind;
    EXPECT_EQ(p.station(1).BlockBase[KindMsgCounter], 3000);
    EXPECT_EQ(p.station(1).BlockBase[KindNameChannel], 3001);
    EXPECT_EQ(p.station(1).BlockBase[KindCallCode], 3002);
}

// ---- Nested definitions ---------------------------------------------------------------------

TEST(PointLists, InversionFlags) {
    ParLoad p(LoadOne("BINAR_IN_XOR 1 5\t17 96\r\nBINAR_OUT_XOR 2\r\n"));
    ASSERT_TRUE(p.ok) << p.error();
    const StationRecord& s = p.station(1);
    for (int i = 1; i <= 96; ++i) EXPECT_EQ(s.InvertIn[i], i == 1 || i == 5 || i == 17 || i == 96) << i;
    for (int i = 1; i <= 96; ++i) EXPECT_EQ(s.InvertOut[i], i == 2) << i;

    for (const char* list : {"BINAR_OUT_XOR 97", "BINAR_OUT_XOR 0", "BINAR_OUT_XOR 1 x", "BINAR_OUT_XOR 1 END"}) {
        ParLoad q(LoadOne(std::string(list) + "\r\n"));
        EXPECT_FALSE(q.ok) << list;
        EXPECT_EQ(q.error(), kBad + std::string("BINAR_OUT_XOR / [STATION]")) << list;
    }
}

TEST(MemoryDefinitions, EntriesTypesAndTheBlockRead) {
    ParLoad p(LoadOne("DEF_MEMORY_IN ARRAY 1 100 WORD 2 102 3 104 REAL DEF_MEMORY_END\r\n"
                      "DEF_MEMORY_OUT 1 $10 byte 100 200 DEF_MEMORY_END"));
    ASSERT_TRUE(p.ok) << p.error();
    const StationRecord& s = p.station(1);
    EXPECT_TRUE(s.WholeBlockRead);
    EXPECT_EQ(std::tie(s.MemoryIn[1].Address, s.MemoryIn[1].Type), std::make_tuple(std::uint16_t{100}, std::uint8_t{2}));
    EXPECT_EQ(std::tie(s.MemoryIn[2].Address, s.MemoryIn[2].Type), std::make_tuple(std::uint16_t{102}, std::uint8_t{3}));
    EXPECT_EQ(std::tie(s.MemoryIn[3].Address, s.MemoryIn[3].Type), std::make_tuple(std::uint16_t{104}, std::uint8_t{3}));
    EXPECT_EQ(std::tie(s.MemoryOut[1].Address, s.MemoryOut[1].Type), std::make_tuple(std::uint16_t{16}, std::uint8_t{1}));
    EXPECT_EQ(s.MemoryOut[100].Address, 200);

    ParLoad none(LoadOne(""));
    for (int i = 1; i <= 100; ++i) {
        EXPECT_EQ(none.station(1).MemoryOut[i].Address, 0);
        EXPECT_EQ(none.station(1).MemoryOut[i].Type, 3);
    }
    EXPECT_FALSE(none.station(1).WholeBlockRead);

    for (const char* def : {"DEF_MEMORY_IN 0 1 DEF_MEMORY_END", "DEF_MEMORY_IN 101 1 DEF_MEMORY_END",
                            "DEF_MEMORY_IN 1 address DEF_MEMORY_END"}) {
        ParLoad q(LoadOne(def));
        EXPECT_FALSE(q.ok) << def;
        EXPECT_EQ(q.error(), kBad + std::string("DEF_MEMORY_IN / [STATION]")) << def;
    }
}

TEST(CounterDefinitions, EntriesAndFailures) {
    ParLoad p(LoadOne("DEF_COUNTER_IN 1 HOUR 0.5 10 2 year 2 3.5 DEF_COUNTER_END"));
    ASSERT_TRUE(p.ok) << p.error();
    const StationRecord& s = p.station(1);
    EXPECT_EQ(s.Counters[1].Mode, 2);
    EXPECT_EQ(s.Counters[1].Factor, 0.5);
    EXPECT_EQ(s.Counters[1].Value, 10.0);
    EXPECT_EQ(s.Counters[2].Mode, 8);
    EXPECT_EQ(s.Counters[2].Factor, 2.0);
    EXPECT_EQ(s.Counters[2].Value, 3.5);
    EXPECT_EQ(s.Counters[3].Factor, 1.0);  // start values
    EXPECT_EQ(s.Counters[3].Mode, 1);

    for (const char* def : {"DEF_COUNTER_IN 49 REAL 1 1 DEF_COUNTER_END", "DEF_COUNTER_IN 1 MINUTE 1 1 DEF_COUNTER_END",
                            "DEF_COUNTER_IN 1 REAL 1,5 1 DEF_COUNTER_END"}) {
        ParLoad q(LoadOne(def));
        EXPECT_FALSE(q.ok) << def;
        EXPECT_EQ(q.error(), kBad + std::string("DEF_COUNTER_IN / [STATION]")) << def;
    }
}

TEST(AnalogLimits, EntriesAndFailures) {
    ParLoad p(LoadOne("ANALOG_LIMITS 3 0 100 5 ANALOG_LIMITS_END"));
    ASSERT_TRUE(p.ok) << p.error();
    const StationRecord& s = p.station(1);
    EXPECT_EQ(s.AnalogLimits[3].Upper, 100.0);
    EXPECT_EQ(s.AnalogLimits[3].Lower, 0.0);
    EXPECT_EQ(s.AnalogLimits[3].Offset, 5.0);
    for (int i : {1, 2, 4, 64}) {
        EXPECT_EQ(s.AnalogLimits[i].Upper, 155.08) << i;
        EXPECT_EQ(s.AnalogLimits[i].Lower, 0.0) << i;
    }
    ParLoad none(LoadOne("ANALOG_LIMITS NONE"));
    ASSERT_TRUE(none.ok);
    EXPECT_EQ(none.station(1).AnalogLimits[1].Upper, 155.08);
    ParLoad absent(LoadOne(""));
    EXPECT_EQ(absent.station(1).AnalogLimits[1].Upper, 100.0);

    for (const char* def : {"ANALOG_LIMITS 65 0 1 0 ANALOG_LIMITS_END", "ANALOG_LIMITS 1 0 x 0 ANALOG_LIMITS_END"}) {
        ParLoad q(LoadOne(def));
        EXPECT_FALSE(q.ok) << def;
        EXPECT_EQ(q.error(), kBad + std::string("ANALOG_LIMITS / [STATION]")) << def;
    }
}

TEST(ChannelItems, QqDefinitions) {
    ParLoad p(LoadOne("QQ WRITE 1201 0 32 0 INTEGER QQ read 10 0 0 0 string QQ BIDIR FROM_GLOBAL 1 2 3 REAL "
                      "QQ READ x 1 2 3 BYTE"));
    ASSERT_TRUE(p.ok) << p.error();
    const auto& items = p.station(1).Channels;
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0]->Channel, 1201);
    EXPECT_EQ(items[0]->Direction, DirWrite);
    EXPECT_EQ(items[0]->Address[1], 32);
    EXPECT_EQ(items[0]->Type, QqInteger);
    EXPECT_EQ(items[0]->Value, 0.0f);
    EXPECT_EQ(items[0]->Text.view(), std::string(32, ' ') + '\0');
    EXPECT_EQ(items[1]->Type, QqString);
    EXPECT_EQ(items[2]->Channel, 256);  // the global DEF_ANALOG_IN_ADDR
    EXPECT_EQ(items[2]->Direction, DirBidir);
    EXPECT_EQ(items[3]->Channel, 0);  // a channel number that does not parse
    EXPECT_TRUE(Contains(p.events(), "  -> QQ/blok -> Tervak-Line2"));

    for (const char* def : {"QQ READ 10 0 0 0 FLOAT", "QQ PUT 10 0 0 0 BYTE"}) {
        ParLoad q(LoadOne(def));
        EXPECT_FALSE(q.ok) << def;
        EXPECT_EQ(q.error(), kBad + std::string("QQ / [STATION]")) << def;
        EXPECT_TRUE(q.station(1).Channels.empty());
    }
    // A later good QQ hides an earlier faulty one, which adds nothing.
    ParLoad later(LoadOne("QQ READ 10 0 0 0 FLOAT QQ READ 11 0 0 0 BYTE"));
    ASSERT_TRUE(later.ok);
    ASSERT_EQ(later.station(1).Channels.size(), 1u);
    EXPECT_EQ(later.station(1).Channels[0]->Channel, 11);
}

TEST(MemoryBlocks, Definitions) {
    ParLoad p(LoadOne("MEMORY_BLOCK ADDR 200 CHANNEL 3001 CHANNEL_READ 3000 TYPES WORD INPUT REAL OUTPUT TYPES_END "
                      "MEMORY_BLOCK_END\r\nMEMORY_BLOCK TYPES LONGINT BIDIR TYPES_END x channel_read 5 CHANNEL 6 "
                      "ADDR 7 MEMORY_BLOCK_END"));
    ASSERT_TRUE(p.ok) << p.error();
    const auto& blocks = p.station(1).MemoryBlocks;
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0]->Addr, 200);
    EXPECT_EQ(blocks[0]->Channel, 3001);
    EXPECT_EQ(blocks[0]->ChannelRead, 3000);
    EXPECT_EQ(blocks[0]->TotalSize, 5);
    EXPECT_EQ(blocks[0]->Types.view(), std::string("\x02\x06"));
    EXPECT_EQ(blocks[0]->Directions.view(), std::string("\x01\x02"));
    EXPECT_EQ(blocks[0]->Cells[0].view(), std::string(4, '\0'));
    EXPECT_EQ(blocks[1]->Addr, 7);
    EXPECT_EQ(blocks[1]->TotalSize, 4);

    std::string tooBig = "MEMORY_BLOCK ADDR 1 CHANNEL 1 CHANNEL_READ 2 TYPES";
    for (int i = 0; i < 86; ++i) tooBig += " REAL INPUT";  // 258 bytes
    tooBig += " TYPES_END MEMORY_BLOCK_END";
    const std::string failing[] = {
        "MEMORY_BLOCK ADDR 1 CHANNEL 1 CHANNEL_READ 2 TYPES word INPUT TYPES_END MEMORY_BLOCK_END",
        "MEMORY_BLOCK ADDR 1 CHANNEL 1 CHANNEL_READ 2 TYPES WORD input TYPES_END MEMORY_BLOCK_END",
        "MEMORY_BLOCK ADDR 1 CHANNEL 1 TYPES WORD INPUT TYPES_END MEMORY_BLOCK_END",
        "MEMORY_BLOCK CHANNEL 1 CHANNEL_READ 2 TYPES WORD INPUT TYPES_END MEMORY_BLOCK_END",
        "MEMORY_BLOCK ADDR 1 CHANNEL 1 CHANNEL_READ 2 TYPES TYPES_END MEMORY_BLOCK_END",
        "MEMORY_BLOCK ADDR 1 CHANNEL 1 CHANNEL_READ 2 TYPES WORD INPUT types_end MEMORY_BLOCK_END",
        tooBig,
    };
    for (const std::string& def : failing) {
        ParLoad q(LoadOne(def));
        EXPECT_FALSE(q.ok) << def;
        EXPECT_TRUE(q.error() == kBad + std::string("MEMORY_BLOCK / [STATION]") ||
                    q.error() == "Chybí END na konci skupiny [STATION]")
            << def << " : " << q.error();
        EXPECT_TRUE(q.station(1).MemoryBlocks.empty());
    }
}

TEST(MemoryBlocks, TheEndOfTheFileInsideADefinition) {
    ParLoad p(WithStations(ParText::Station() + "[STATION] MEMORY_BLOCK ADDR 1 TYPES WORD"));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.ctx().StationCount, 2);  // the unfinished group is counted
    EXPECT_EQ(p.error(), "Chybí END na konci skupiny [STATION]");
}

}  // namespace
