// zkhost check: the warnings it gives for the mistakes integrators make in parameter files, and
// its verdict (0 clean, 1 warnings, 2 the driver refuses the file).
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "zkhost/check.h"

namespace {

// A two-station file; each case replaces some of its lines (the line numbers stay).
const std::vector<std::string> kBase = {
    /*  1 */ "[COM]",
    /*  2 */ "IRQ 4 BASE 1016 BAUD 9600 BITS 8 PARITY NONE STOP 1",
    /*  3 */ "OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1 DEVICE /dev/null",
    /*  4 */ "END",
    /*  5 */ "[MODEM] INIT_TIME 4 END",
    /*  6 */ "[GLOBAL]",
    /*  7 */ "PREFIX NONE SUFFIX NONE PRESUFFIX NONE",
    /*  8 */ "ADDRESS 1 ANSWER_TIME 2.5 SILENCE_WAIT 50 RTS_TIME_ON 0 RTS_TIME_OFF 0",
    /*  9 */ "DEF_ANALOG_IN_ADDR 256 SLEEP_TIME 60",
    /* 10 */ "END",
    /* 11 */ "[STATION] ADDRESS 5 RETRANSLATION 5",
    /* 12 */ "NAME \"ST1\"",
    /* 13 */ "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 8 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0",
    /* 14 */ "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL",
    /* 15 */ "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE ORIGINAL_CHANNELS PHONE 111",
    /* 16 */ "END",
    /* 17 */ "[STATION] ADDRESS 7 RETRANSLATION 7",
    /* 18 */ "NAME \"ST2\"",
    /* 19 */ "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 8 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0",
    /* 20 */ "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL",
    /* 21 */ "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE ORIGINAL_CHANNELS PHONE 222",
    /* 22 */ "END",
};

std::string File(const std::map<int, std::string>& replaced) {
    std::string out;
    for (std::size_t i = 0; i < kBase.size(); ++i) {
        const auto it = replaced.find(static_cast<int>(i + 1));
        out += (it == replaced.end() ? kBase[i] : it->second) + "\r\n";
    }
    return out;
}

struct Expected {
    int line;
    const char* code;
};

struct Case {
    const char* what;
    std::map<int, std::string> replaced;
    int exit;
    std::vector<Expected> warnings;  // each must be among the warnings
    std::vector<const char*> only;   // when not empty: no warning with another code
};

std::string Dump(const zkhost::CheckResult& r) {
    std::ostringstream o;
    for (const auto& w : r.Warnings) o << "  " << w.Line << " [" << w.Code << "] " << w.Text << "\n";
    if (!r.Error.empty()) o << "  error: " << r.Error << "\n";
    return o.str();
}

TEST(ZkhostCheck, WarnsAboutTheFilesIntegratorsGetWrong) {
    const std::vector<Case> cases = {
        {"a clean file", {}, 0, {}, {"none"}},
        {"[GLOBAL] without END swallows station 1", {{10, ""}}, 1,
         {{11, "header-in-group"}}, {"header-in-group"}},
        {"a middle station without END merges with the next", {{16, ""}}, 1, {{17, "header-in-group"}},
         {"header-in-group", "channel-clash"}},
        {"a key typo in station 2 half-loads it", {{19, "NUM_BINAR_INN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 8 "
                                                          "NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0"}},
         1, {{19, "unknown-key"}, {17, "key-missing"}}, {"unknown-key", "key-missing"}},
        {"a missing mandatory key in station 1 is refused",
         {{15, "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE ORIGINAL_CHANNELS PHONE 111"}}, 2, {{11, "key-missing"}}, {}},
        {"INIT_TIMEOUT brings back the short INIT_TIME default", {{5, "[MODEM] INIT_TIMEOUT 4 END"}}, 1,
         {{5, "unknown-key"}, {0, "modem-time"}}, {"unknown-key", "modem-time"}},
        {"a modem limit of 3 s", {{5, "[MODEM] INIT_TIME 4 CONNECT_TIME 3 END"}}, 1, {{5, "modem-time"}},
         {"modem-time"}},
        {"an optional value that does not parse", {{9, "DEF_ANALOG_IN_ADDR 256 SLEEP_TIME 6O"}}, 1,
         {{9, "bad-value"}}, {"bad-value"}},
        {"counts not in eights", {{19, "NUM_BINAR_IN 16 NUM_BINAR_OUT 4 NUM_ANALOG_IN 8 NUM_COUNTER_IN 2 "
                                       "NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0"}},
         1, {{19, "count-not-8"}}, {"count-not-8"}},
        {"channels claimed by two stations", {{21, "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE "
                                                   "ORIGINAL_CHANNELS PHONE 222 CHANNEL_BI 1"}},
         1, {{21, "channel-clash"}}, {"channel-clash"}},
        {"a station range on system channels", {{21, "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE "
                                                     "ORIGINAL_CHANNELS PHONE 222 CHANNEL_AI 65400"}},
         1, {{21, "system-channel"}}, {"system-channel"}},
        {"groups out of order are refused", {{1, "[GLOBAL]"}, {6, "[COM]"}}, 2, {{1, "skipped"}}, {}},
        {"the last station without END", {{22, ""}}, 1, {{17, "missing-end"}}, {"missing-end"}},
        // Each cause is named once, on its own line and with its word.
        {"a typo in a QQ type", {{16, "QQ READ 3003 0 24 0 LONG END"}}, 2, {{16, "bad-value"}}, {"bad-value"}},
        {"a point list that does not end its line",
         {{14, "BINAR_IN_XOR 2 BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL"}}, 2, {{14, "bad-value"}},
         {"bad-value"}},
        {"an element type in lower case",
         {{21, "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE ORIGINAL_CHANNELS PHONE 222 MEMORY_BLOCK "
               "ADDR 100 CHANNEL 3000 CHANNEL_READ 3100 TYPES word INPUT TYPES_END MEMORY_BLOCK_END"}},
         1, {{21, "bad-value"}}, {"bad-value"}},
        {"a key given twice", {{13, "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 8 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 "
                                    "NUM_MEMORY_OUT 0 NUM_BINAR_OUT 16"}},
         1, {{13, "duplicate-key"}}, {"duplicate-key"}},
        {"a mandatory real that does not parse", {{8, "ADDRESS 1 ANSWER_TIME 4,5 SILENCE_WAIT 50 RTS_TIME_ON 0 RTS_TIME_OFF 0"}},
         2, {{8, "bad-value"}}, {"bad-value"}},
        // Values the reader cuts, clamps or swallows.
        {"counts cut to 8 bits and kept to their limit",
         {{13, "NUM_BINAR_IN 300 NUM_BINAR_OUT 8 NUM_ANALOG_IN 70 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0"}},
         1, {{13, "value-cut"}}, {"value-cut", "count-not-8"}},
        {"a byte address", {{8, "ADDRESS 300 ANSWER_TIME 2.5 SILENCE_WAIT 50 RTS_TIME_ON 0 RTS_TIME_OFF 0"}}, 1,
         {{8, "value-cut"}}, {"value-cut"}},
        {"a QQ channel and address byte", {{16, "QQ READ 70000 0 256 0 WORD END"}}, 1, {{16, "value-cut"}},
         {"value-cut"}},
        {"a rate above 16 bits", {{2, "IRQ 4 BASE 1016 BAUD 115200 BITS 8 PARITY NONE STOP 1"}}, 1,
         {{2, "value-cut"}, {2, "baud"}}, {"value-cut", "baud"}},
        {"a negative pause", {{9, "DEF_ANALOG_IN_ADDR 256 SLEEP_TIME 60 IDLE_TIME -1"}}, 1, {{9, "value-cut"}},
         {"value-cut"}},
        {"a string value that swallows the keys after it",
         {{9, "DEF_ANALOG_IN_ADDR 256 SLEEP_TIME 60 LOG_FILE \"x.log\" BEEP ON"}}, 1, {{9, "swallowed"}},
         {"swallowed"}},
        {"a point list longer than the line the reader keeps",
         {{14, [] {
               std::string l = "BINAR_IN_XOR";
               for (int i = 1; i <= 96; ++i) l += " " + std::to_string(i);
               return l;
           }()},
          {15, "BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE "
               "DEF_COUNTER_IN NONE ORIGINAL_CHANNELS PHONE 111"}},
         1, {{14, "line-cut"}}, {"line-cut"}},
        {"analog inputs not in eights", {{19, "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 2 NUM_COUNTER_IN 0 "
                                              "NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0"}},
         1, {{19, "count-not-8"}}, {"count-not-8"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const zkhost::CheckResult r = zkhost::CheckParameterText(File(c.replaced), "site.par");
        EXPECT_EQ(zkhost::CheckExitCode(r), c.exit) << Dump(r);
        for (const Expected& e : c.warnings) {
            bool found = false;
            for (const auto& w : r.Warnings) found = found || (w.Line == e.line && w.Code == e.code);
            EXPECT_TRUE(found) << "no [" << e.code << "] on line " << e.line << "\n" << Dump(r);
        }
        if (!c.only.empty()) {
            for (const auto& w : r.Warnings) {
                bool allowed = false;
                for (const char* code : c.only) allowed = allowed || w.Code == code;
                EXPECT_TRUE(allowed) << "unexpected [" << w.Code << "] " << w.Text;
            }
        }
    }
}

TEST(ZkhostCheck, EachMessageNamesTheWordThatCausedItAndWhatTheDriverStores) {
    const struct {
        std::map<int, std::string> replaced;
        std::vector<const char*> texts;  // each in some warning
    } cases[] = {
        {{{16, "QQ READ 3003 0 24 0 LONG END"}}, {"'LONG' in the value of QQ", "QQ counts as not loaded, so [STATION] of station 1 fails"}},
        {{{14, "BINAR_IN_XOR 2 BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL"}},
         {"'BINAR_OUT_XOR' in the value of BINAR_IN_XOR", "BINAR_OUT_XOR, DEF_ANALOG_IN_ADDR on that line"}},
        {{{13, "NUM_BINAR_IN 300 NUM_BINAR_OUT 8 NUM_ANALOG_IN 70 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0"}},
         {"300 of NUM_BINAR_IN in [STATION] of station 1 does not fit: the driver stores 44",
          "70 of NUM_ANALOG_IN in [STATION] of station 1 is above the largest count: the driver keeps it to 64"}},
        {{{16, "QQ READ 70000 0 256 0 WORD END"}}, {"70000 of QQ in [STATION] of station 1 does not fit: the driver stores 4464",
                                                    "256 of QQ in [STATION] of station 1 does not fit: the driver stores 0"}},
        {{{2, "IRQ 4 BASE 1016 BAUD 115200 BITS 8 PARITY NONE STOP 1"}},
         {"stores 49664", "BAUD 49664 is no rate the port takes (110 300 600"}},
        {{{9, "DEF_ANALOG_IN_ADDR 256 SLEEP_TIME 60 LOG_FILE \"x.log\" BEEP ON"}}, {"'BEEP ON' is part of it"}},
    };
    for (const auto& c : cases) {
        const auto r = zkhost::CheckParameterText(File(c.replaced), "site.par");
        for (const char* text : c.texts) {
            bool found = false;
            for (const auto& w : r.Warnings) found = found || w.Text.find(text) != std::string::npos;
            EXPECT_TRUE(found) << text << "\n" << Dump(r);
        }
    }
}

TEST(ZkhostCheck, ReportsWhatTheDriverLoadedAndNamesItsChannels) {
    // [GLOBAL] without END: station 1's ADDRESS 5 becomes the driver's own address.
    const auto swallowed = zkhost::CheckParameterText(File({{10, ""}}), "site.par");
    EXPECT_NE(swallowed.Report.find("ADDRESS                   5   (line 11)"), std::string::npos) << swallowed.Report;
    EXPECT_NE(swallowed.Report.find("stations: 1"), std::string::npos);

    const auto clean = zkhost::CheckParameterText(File({}), "site.par");
    EXPECT_NE(clean.Report.find("INIT_TIME                 4 s   (line 5)"), std::string::npos) << clean.Report;
    EXPECT_NE(clean.Report.find("CONNECT_TIME              60 s   (default)"), std::string::npos);
    const struct {
        const char* name;
        unsigned channel;
        int type;
    } names[] = {{"st1.bi.1", 1, 2}, {"st2.bi.16", 516, 2}, {"st2.ai.1", 693, 10}, {"st2.connect", 976, 2},
                 {"st1.unreachable", 465, 2}, {"st2.video.1", 956, 11}, {"modem.hangup", 60295, 2}};
    for (const auto& n : names) {
        const zkhost::ChannelName* c = zkhost::FindChannelName(clean.Channels, n.name);
        ASSERT_NE(c, nullptr) << n.name;
        EXPECT_EQ(c->Channel, n.channel) << n.name;
        EXPECT_EQ(c->Type, n.type) << n.name;
    }
    EXPECT_EQ(zkhost::FindChannelName(clean.Channels, "st3.bi.1"), nullptr);
    EXPECT_EQ(zkhost::FindChannelName(clean.Channels, "st1.bi.17"), nullptr);
}

TEST(ZkhostCheck, DiagsInTheFileWritesNoLogButIsShown) {
    auto text = File({{7, "PREFIX NONE SUFFIX NONE PRESUFFIX NONE $DIAGS"}});
    const auto r = zkhost::CheckParameterText(text, "site.par");
    EXPECT_NE(r.Report.find("log: on ($DIAGS on line 7)"), std::string::npos) << r.Report;
    // $DIAGS is an item like any other where a key is expected.
    EXPECT_EQ(zkhost::CheckExitCode(r), 1) << Dump(r);
}

TEST(ZkhostCheck, AFileThatCannotBeReadIsRefused) {
    const auto r = zkhost::CheckParameterFile("/nonexistent/site.par");
    EXPECT_EQ(zkhost::CheckExitCode(r), 2);
    EXPECT_NE(r.Error.find("/nonexistent/site.par"), std::string::npos);
}

}  // namespace
