// The [COM], [MODEM] and [GLOBAL] groups and the file as a whole.
#include "config/parfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "par_load.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

using namespace zk;
using zktest::ParLoad;
using zktest::ParText;

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

TEST(ParFile, AMinimalFileLoads) {
    ParLoad p(ParText{}.str());
    ASSERT_TRUE(p.ok) << p.error();
    DriverContext& c = p.ctx();
    EXPECT_EQ(c.Com.IRQ, 4);
    EXPECT_EQ(c.Com.BASE, 1016);
    EXPECT_EQ(c.Com.BaudRate, 9600);
    EXPECT_EQ(c.Com.DataBits, 8);
    EXPECT_EQ(c.Com.Parity, 0);
    EXPECT_EQ(c.Com.StopBits, 1);
    EXPECT_EQ(c.Com.OPTIONS, 0);
    EXPECT_EQ(c.Com.BUFFER_SIZE, 1024);
    EXPECT_EQ(c.Com.ComPort, 1);
    EXPECT_TRUE(c.Com.DriverKind.empty());
    EXPECT_EQ(c.Com.DEVICE.view(), DefaultPortName(1));
    EXPECT_EQ(c.Global.ADDRESS, 1);
    EXPECT_EQ(c.Global.ANSWER_TIME, 2.5);
    EXPECT_EQ(c.Global.SILENCE_WAIT, 50);
    EXPECT_EQ(c.Global.DEF_ANALOG_IN_ADDR, 256);
    EXPECT_EQ(c.Global.SLEEP_TIME, 60.0);
    // The optional keys keep their defaults.
    EXPECT_EQ(c.Global.SLEEP_COUNT, 100);
    EXPECT_EQ(c.Global.IDLE_TIME, 10);
    EXPECT_EQ(c.Global.NUM_MORVEL_ERROR, 1);
    EXPECT_EQ(c.Global.CUC_PATH.view(), RootDirectory());
    EXPECT_FALSE(c.Global.PrstynekRun);
    EXPECT_FALSE(c.Global.BEEP);
    EXPECT_EQ(c.StationCount, 1);
    const auto events = p.events();
    EXPECT_TRUE(Contains(events, "COM1, 9600 8 N 1"));
    EXPECT_TRUE(Contains(events, "GLOBAL info OK."));
    EXPECT_TRUE(Contains(events, "STANICE ST1 "));
}

// ---- [COM] ----------------------------------------------------------------------------------

TEST(ComGroup, ErrorsAndTheirMessages) {
    const std::string end = "\r\nEND\r\n";
    const std::string keys = "IRQ 4 BASE 1016 BAUD 9600 BITS 8 STOP 1 OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1 ";
    struct Case {
        std::string com;
        const char* message;
    };
    const Case cases[] = {
        {"[COM] " + keys + "PARITY E" + end, "Chybná definice proměnné PARITY / [COM]"},
        {"[COM] " + keys + end, "Chybná definice proměnné PARITY / [COM]"},
        {"[COM] PARITY NONE IRQ 4 BASE 1016 BAUD 9600 BITS 8 STOP x OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1" + end,
         "Chybná definice proměnné STOP / [COM]"},
        // A second, wrong value of a key already loaded leaves it loaded.
        {"[COM] " + keys + "STOP x PARITY ?" + end, "Chybná definice proměnné PARITY / [COM]"},
        {"[COM] PARITY NONE IRQ 4 BASE 1016 BAUD 96.00 BITS 8 STOP 1 OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1" + end,
         "Chybná definice proměnné BAUD / [COM]"},
        // DRIVER takes two items: here the port number is the word BAUD, and 9600 is skipped.
        {"[COM] PARITY NONE IRQ 4 BASE 1016 BITS 8 STOP 1 OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM\r\nBAUD 9600" + end,
         "Chybná definice proměnné BAUD / [COM]"},
        {"[COM] PARITY NONE IRQ 4 BASE 1016 BAUD 9600 BITS 8 STOP 1 OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM X" + end,
         "Chybná definice proměnné DRIVER / [COM]"},
        {"[COM] PARITY NONE " + keys, "Chybí END na konci skupiny [COM]"},
        {"[COM] PARITY NONE " + keys + "BAUD", "Chybí END na konci skupiny [COM]"},  // a key at the end of the file
        {"", "Chybí definice skupiny [GLOBAL]"},  // the later searches fail as well
        {"[COMM] " + keys + end, "Chybí definice skupiny [GLOBAL]"},
    };
    for (const Case& c : cases) {
        ParText t;
        t.com = c.com;
        // Without its END the group would run on into [MODEM] and end there.
        ParLoad p(c.com.find("END") == std::string::npos ? c.com : t.str());
        EXPECT_FALSE(p.ok) << c.com;
        EXPECT_EQ(p.error(), c.message) << c.com;
    }
}

TEST(ComGroup, MessagesAreCodePage1250) {
    ParText t;
    t.com = "[COM] END";
    ParLoad p(t.str());
    EXPECT_EQ(std::string(p.ctx().ErrorText), "Chybn\xE1 definice prom\xECnn\xE9 IRQ / [COM]");
}

TEST(ComGroup, ValuesWordsAndTheDriverItems) {
    ParText t;
    t.com = "[com]\r\nbaud 19200 bits 7 parity even stop 2 irq $10 base 0x3F8 options -1 buffer_size 4096\r\n"
            "driver tcp 3 DEVICE /dev/ttyUSB0 end\r\n";
    ParLoad p(t.str());
    ASSERT_TRUE(p.ok) << p.error();
    EXPECT_EQ(p.ctx().Com.BaudRate, 19200);
    EXPECT_EQ(p.ctx().Com.DataBits, 7);
    EXPECT_EQ(p.ctx().Com.Parity, 1);
    EXPECT_EQ(p.ctx().Com.StopBits, 2);
    EXPECT_EQ(p.ctx().Com.IRQ, 16);
    EXPECT_EQ(p.ctx().Com.BASE, 0x3F8);
    EXPECT_EQ(p.ctx().Com.OPTIONS, 65535);
    EXPECT_EQ(p.ctx().Com.ComPort, 3);
    EXPECT_EQ(p.ctx().Com.DriverKind.view(), "TCP");
    EXPECT_EQ(p.ctx().Com.DEVICE.view(), "/dev/ttyUSB0");  // case kept
    EXPECT_TRUE(Contains(p.events(), "COM3, 19200 7 E 2"));

    const char* words[] = {"NONE", "EVEN", "ODD", "MARK", "SPACE"};
    const char letters[] = {'N', 'E', 'O', 'M', 'S'};
    for (std::uint16_t code = 0; code < 5; ++code) {
        ParText u;
        u.com = Replace(u.com, "PARITY NONE", std::string("PARITY ") + words[code]);
        ParLoad q(u.str());
        ASSERT_TRUE(q.ok) << q.error();
        EXPECT_EQ(q.ctx().Com.Parity, code);
        EXPECT_TRUE(Contains(q.events(), std::string("COM1, 9600 8 ") + letters[code] + " 1"));
    }
}

TEST(ComGroup, GroupsMustStandInTheirOrder) {
    ParText t;
    ParLoad p(t.global + t.com + t.modem + t.stations);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error(), "Chybí definice skupiny [GLOBAL]");
}

// ---- [MODEM] --------------------------------------------------------------------------------

TEST(ModemGroup, AGroupWithOnlyEndKeepsTheDefaults) {
    ParText t;
    t.modem = "[MODEM] END\r\n";
    ParLoad p(t.str());
    ASSERT_TRUE(p.ok) << p.error();
    const ModemRecord& m = p.ctx().Modem;
    EXPECT_EQ(m.InitBlock.Command.view(), "ATX3\r");
    EXPECT_EQ(m.InitBlock.ExpectedReply.view(), "\r\nOK\r\n");
    EXPECT_EQ(m.InitBlock.Limit, 2.0);
    EXPECT_EQ(m.DialBlock.Command.view(), "ATDP");
    EXPECT_EQ(m.DialSuffix.view(), "\r");
    EXPECT_EQ(m.DialBlock.ExpectedReply.view(), "CONNECT");
    EXPECT_EQ(m.DialBlock.Limit, 60.0);
    EXPECT_EQ(m.HangupBlock.Command.view(), "~~~+++~~~ATH0\r~~");
    EXPECT_EQ(m.HangupBlock.ExpectedReply.view(), "\r\nOK\r\n");
    EXPECT_EQ(m.HangupBlock.Limit, 10.0);
    EXPECT_EQ(m.AnswerBlock.Command.view(), "ATA\r");
    EXPECT_EQ(m.AnswerBlock.ExpectedReply.view(), "CONNECT");  // the reply to CONNECT_ANSWER is CONNECT_OK's
    EXPECT_EQ(m.AnswerBlock.Limit, 20.0);
    EXPECT_TRUE(m.RingText.empty());
    EXPECT_EQ(m.RingsToAnswer, 6);
    EXPECT_EQ(m.RingTimeout, 10.0);
}

TEST(ModemGroup, EveryKey) {
    ParText t;
    t.modem = "[MODEM]\r\nINIT at&f# INIT_OK #@OK#@ INIT_TIME 4.5 CONNECT ATDT CONNECT_ENDCHAR # CONNECT_OK CONNECT@\r\n"
              "CONNECT_TIME 45 LINEOFF ~~+++~~ATH# LINEOFF_OK OK LINEOFF_TIME 5 CONNECT_ANSWER ATA#\r\n"
              "CONNECT_RING #@RING#@ RING_COUNT 2 RING_TIME 12.5 ANSWER_TIME 30 END\r\n";
    ParLoad p(t.str());
    ASSERT_TRUE(p.ok) << p.error();
    const ModemRecord& m = p.ctx().Modem;
    EXPECT_EQ(m.InitBlock.Command.view(), "at&f\r");  // modem texts keep their case
    EXPECT_EQ(m.InitBlock.ExpectedReply.view(), "\r\nOK\r\n");
    EXPECT_EQ(m.InitBlock.Limit, 4.5);
    EXPECT_EQ(m.DialBlock.Command.view(), "ATDT");
    EXPECT_EQ(m.DialSuffix.view(), "\r");
    EXPECT_EQ(m.DialBlock.ExpectedReply.view(), "CONNECT\n");
    EXPECT_EQ(m.AnswerBlock.ExpectedReply.view(), "CONNECT\n");
    EXPECT_EQ(m.DialBlock.Limit, 45.0);
    EXPECT_EQ(m.HangupBlock.Command.view(), "~~+++~~ATH\r");
    EXPECT_EQ(m.HangupBlock.ExpectedReply.view(), "OK");
    EXPECT_EQ(m.HangupBlock.Limit, 5.0);
    EXPECT_EQ(m.AnswerBlock.Command.view(), "ATA\r");
    EXPECT_EQ(m.RingText.view(), "\r\nRING\r\n");
    EXPECT_EQ(m.RingsToAnswer, 2);
    EXPECT_EQ(m.RingTimeout, 12.5);
    EXPECT_EQ(m.AnswerBlock.Limit, 30.0);
}

TEST(ModemGroup, BadValuesAreNotErrors) {
    ParText t;
    t.modem = "[MODEM] INIT_TIME 2,5 RING_COUNT many END\r\n";
    ParLoad p(t.str());
    ASSERT_TRUE(p.ok) << p.error();
    EXPECT_EQ(p.ctx().Modem.InitBlock.Limit, -999999.9);
    EXPECT_EQ(p.ctx().Modem.RingsToAnswer, 0);
}

TEST(ModemGroup, AMissingGroupOrEndLeavesGlobalUnfound) {
    for (const char* modem : {"", "[MODEM] INIT ATZ#\r\n"}) {
        ParText t;
        t.modem = modem;
        ParLoad p(t.str());
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error(), "Chybí definice skupiny [GLOBAL]") << modem;
    }
}

// ---- [GLOBAL] -------------------------------------------------------------------------------

TEST(GlobalGroup, ErrorsAndTheirMessages) {
    struct Case {
        std::string from, to;
        const char* message;
    };
    const Case cases[] = {
        {"ADDRESS 1 ", "", "Chybná definice proměnné ADDRESS / [GLOBAL]"},
        {"ADDRESS 1 ", "ADDRESS 256.0 ", "Chybná definice proměnné ADDRESS / [GLOBAL]"},
        {"PREFIX NONE", "PREFIX $0", "Chybná definice proměnné PREFIX / [GLOBAL]"},
        {"ANSWER_TIME 2.5", "ANSWER_TIME 2,5", "Chybná definice proměnné ANSWER_TIME / [GLOBAL]"},
        {"DEF_ANALOG_IN_ADDR 256", "DEF_ANALOG_IN_ADDR FROM_GLOBAL", "Chybná definice proměnné DEF_ANALOG_IN_ADDR / [GLOBAL]"},
        {"\r\nEND\r\n", "\r\n", "Chybí END na konci skupiny [GLOBAL]"},
    };
    for (const Case& c : cases) {
        ParText t;
        t.global = Replace(t.global, c.from, c.to);
        if (c.to == "\r\n") t.stations.clear();
        ParLoad p(t.str());
        EXPECT_FALSE(p.ok) << c.to;
        EXPECT_EQ(p.error(), c.message) << c.to;
    }
}

TEST(GlobalGroup, OptionalKeys) {
    zktest::TempDir dir;
    ParText t;
    t.global = Replace(t.global, "\r\nEND",
                       "\r\nNUM_MORVEL_ERROR 3 SLEEP_COUNT 5 IDLE_TIME 70000 STOP_SELF_READING OFF\r\n"
                       "STAY_IN_QUEUE_ON_TIMEOUT ON BEEP on PREFIX $02\r\nSUFFIX \"\"$03\r\nPRESUFFIX \"P\"\r\n"
                       "LOG_FILE \" " + dir.file("x.log") + "\"\r\nEND");
    ParLoad p(t.str());
    ASSERT_TRUE(p.ok) << p.error();
    DriverContext& c = p.ctx();
    EXPECT_EQ(c.Global.NUM_MORVEL_ERROR, 3);
    EXPECT_EQ(c.Global.SLEEP_COUNT, 5);
    EXPECT_EQ(c.Global.IDLE_TIME, 4464);
    EXPECT_TRUE(c.Global.PrstynekRun);
    EXPECT_TRUE(c.Global.STAY_IN_QUEUE_ON_TIMEOUT);
    EXPECT_TRUE(c.Global.BEEP);
    EXPECT_EQ(c.Global.PREFIX.view(), "\x02");
    EXPECT_EQ(c.Global.SUFFIX.view(), "\x03");
    EXPECT_EQ(c.Global.PRESUFFIX.view(), "P");
    EXPECT_EQ(c.Log.LogFileName.view(), dir.file("x.log"));
}

TEST(GlobalGroup, AWrongOptionalValueIsNotReported) {
    ParText t;
    t.global = Replace(t.global, "\r\nEND", " SLEEP_COUNT x NUM_MORVEL_ERROR y BEEP maybe\r\nEND");
    ParLoad p(t.str());
    ASSERT_TRUE(p.ok) << p.error();
    EXPECT_EQ(p.ctx().Global.SLEEP_COUNT, 100);
    EXPECT_EQ(p.ctx().Global.NUM_MORVEL_ERROR, 0);
    EXPECT_FALSE(p.ctx().Global.BEEP);
}

TEST(GlobalGroup, StopSelfReading) {
    for (const auto& [key, run] : {std::pair{"", false}, {"STOP_SELF_READING OFF", true}, {"STOP_SELF_READING ON", false}}) {
        ParText t;
        t.global = Replace(t.global, "\r\nEND", std::string(" ") + key + "\r\nEND");
        ParLoad p(t.str());
        ASSERT_TRUE(p.ok) << p.error();
        EXPECT_EQ(p.ctx().Global.PrstynekRun, run) << key;
    }
}

TEST(GlobalGroup, CucPathEndsInExactlyOneSeparator) {
    zktest::TempDir dir;
    const std::string d = dir.path();
    // The value item is upper-cased, so the path stands after a lone quote, in the rest of the line.
    struct Case {
        std::string value;
        std::string stored;
    };
    const std::string root = RootDirectory();
    const Case cases[] = {
        {"\" " + d + "\"", d + "/"},
        {"\" " + d + "/\"", d + "/"},
        {"\" " + d + "//\"", d + "/"},
        {"\" " + d + "/missing\"", root},
        {"NONE", root},
    };
    for (const Case& c : cases) {
        ParText t;
        t.global = Replace(t.global, "\r\nEND", "\r\nCUC_PATH " + c.value + "\r\nEND");
        ParLoad p(t.str());
        ASSERT_TRUE(p.ok) << p.error();
        EXPECT_EQ(p.ctx().Global.CUC_PATH.view(), c.stored) << c.value;
    }
}

}  // namespace

namespace {

// Where file names heed case, LOG_FILE and CUC_PATH keep the case of their value item; every
// other string value, and both of them where names ignore case, arrive upper-cased.
TEST(GlobalGroup, FileNamesKeepTheirCaseWhereTheSystemHeedsIt) {
    zktest::TempDir dir;
    const std::string d = dir.path() + "/Site";
    ASSERT_TRUE(std::filesystem::create_directory(d));
    const bool keep = !FileNamesIgnoreCase();
    auto upper = [](std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return s;
    };
    ParText t;
    t.global = Replace(t.global, "\r\nEND",
                       "\r\nLOG_FILE \"" + d + "/log.txt\"\r\nCUC_PATH \"" + d + "\"\r\nPRESUFFIX \"p\"\r\nEND");
    ParLoad p(t.str());
    ASSERT_TRUE(p.ok) << p.error();
    EXPECT_EQ(p.ctx().Log.LogFileName.view(), keep ? d + "/log.txt" : upper(d + "/log.txt"));
    EXPECT_EQ(p.ctx().Global.CUC_PATH.view(), (keep ? d : upper(d)) + PathSeparator());
    EXPECT_EQ(p.ctx().Global.PRESUFFIX.view(), "P");
}

}  // namespace
