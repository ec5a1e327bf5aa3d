// The log: line format, the 255-character cut, the dropped concurrent line, the file handling.
#include "diag/log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <thread>

#include "host/records.h"
#include "support/temp_dir.h"

using namespace zk;
using zktest::ReadFile;
using zktest::TempDir;

namespace {

LocalTime At(int h, int m, int s, int ms = 0) {
    LocalTime t;
    t.year = 2026;
    t.month = 3;
    t.day = 7;
    t.hour = h;
    t.minute = m;
    t.second = s;
    t.millisecond = ms;
    return t;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctx.Clock.now = [this] { return now; };
        ctx.DriverName.assign("D1");
    }
    void EnableWithFile(const std::string& name) {
        ctx.Log.LogFileName.assign(dir.file(name));
        EnableLog(ctx.Log, ctx.DriverName.view());
    }
    TempDir dir;
    DriverContext ctx;
    LocalTime now = At(9, 5, 3, 120);
};

}  // namespace

TEST_F(LogTest, NothingIsWrittenUntilLoggingIsSwitchedOn) {
    ctx.Log.LogFileName.assign(dir.file("drv.log"));
    for (int i = 0; i < 1000; ++i) WriteLog(ctx.Log, "load", "OK");
    EXPECT_FALSE(zktest::Exists(dir.file("drv.log")));
}

TEST_F(LogTest, LineIsDateTimeTagSeparatorDetailAndCrLf) {
    EnableWithFile("drv.log");
    WriteLog(ctx.Log, "load", "OK");
    WriteLog(ctx.Log, "empty", "");
    EXPECT_EQ(ReadFile(dir.file("drv.log")), "7.3.2026 9:05:03 load : OK\r\n7.3.2026 9:05:03 empty : \r\n");
}

TEST_F(LogTest, TimeIsLeftOutAtExactlyMidnight) {
    EnableWithFile("drv.log");
    now = At(0, 0, 0, 0);
    WriteLog(ctx.Log, "t", "x");
    now = At(0, 0, 0, 10);
    WriteLog(ctx.Log, "t", "y");
    EXPECT_EQ(ReadFile(dir.file("drv.log")), "7.3.2026 t : x\r\n7.3.2026 0:00:00 t : y\r\n");
}

TEST_F(LogTest, LongTagAndDetailGiveOneLineOf255Characters) {
    EnableWithFile("drv.log");
    WriteLog(ctx.Log, std::string(255, 'T'), std::string(255, 'D'));
    const std::string content = ReadFile(dir.file("drv.log"));
    ASSERT_EQ(content.size(), 257u);
    EXPECT_EQ(content.substr(255), "\r\n");
    EXPECT_EQ(content.substr(0, 17), "7.3.2026 9:05:03 ");
}

TEST_F(LogTest, HexDumpWritesAHeaderAndSixteenBytesPerLine) {
    EnableWithFile("drv.log");
    HexDumpLog(ctx.Log, "Transmit Message", "");
    std::string bytes;
    for (int i = 0; i < 17; ++i) bytes += static_cast<char>(i == 16 ? 0xAB : i);
    HexDumpLog(ctx.Log, "Decode Received Message", bytes);
    EXPECT_EQ(ReadFile(dir.file("drv.log")),
              "7.3.2026 9:05:03 Transmit Message : \r\n"
              "7.3.2026 9:05:03 Decode Received Message : \r\n"
              "7.3.2026 9:05:03 Hex Dump : 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n"
              "7.3.2026 9:05:03 Hex Dump : AB \r\n");
}

TEST_F(LogTest, A255ByteFrameGivesSixteenDataLines) {
    EnableWithFile("drv.log");
    HexDumpLog(ctx.Log, "Transmit Message", std::string(255, '\x11'));
    const std::string content = ReadFile(dir.file("drv.log"));
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 17);
}

TEST_F(LogTest, DefaultNameFollowsTheDriverNameAndASecondEnableChangesNothing) {
    EnableLog(ctx.Log, ctx.DriverName.view());
    EXPECT_TRUE(ctx.Log.LogEnabled);
    EXPECT_EQ(ctx.Log.LogFileName.view(), RootDirectory() + "ZKDKRMOD_D1.LOG");
    ctx.DriverName.assign("OTHER");
    EnableLog(ctx.Log, ctx.DriverName.view());
    EXPECT_EQ(ctx.Log.LogFileName.view(), RootDirectory() + "ZKDKRMOD_D1.LOG");
}

TEST_F(LogTest, AFileNameGivenBeforeEnablingStays) {
    EnableWithFile("mine.log");
    EXPECT_EQ(ctx.Log.LogFileName.view(), dir.file("mine.log"));
}

TEST_F(LogTest, ADeletedLogIsCreatedAgainByTheNextLine) {
    EnableWithFile("drv.log");
    WriteLog(ctx.Log, "a", "1");
    ASSERT_EQ(::unlink(dir.file("drv.log").c_str()), 0);
    WriteLog(ctx.Log, "b", "2");
    EXPECT_EQ(ReadFile(dir.file("drv.log")), "7.3.2026 9:05:03 b : 2\r\n");
}

TEST_F(LogTest, AFileThatCannotBeCreatedLosesItsLineAndNothingElse) {
    EnableWithFile("missing-dir/drv.log");
    WriteLog(ctx.Log, "a", "1");
    EXPECT_FALSE(zktest::Exists(dir.file("missing-dir/drv.log")));
    EXPECT_FALSE(ctx.Log.LogBusy);
    ctx.Log.LogFileName.assign(dir.file("drv.log"));
    WriteLog(ctx.Log, "b", "2");
    EXPECT_EQ(ReadFile(dir.file("drv.log")), "7.3.2026 9:05:03 b : 2\r\n");
}

TEST_F(LogTest, ALineWrittenWhileAnotherIsBeingWrittenIsDropped) {
    EnableWithFile("drv.log");
    ctx.Log.LogBusy = true;  // another writer holds the file
    WriteLog(ctx.Log, "dropped", "x");
    ctx.Log.LogBusy = false;
    WriteLog(ctx.Log, "kept", "y");
    EXPECT_EQ(ReadFile(dir.file("drv.log")), "7.3.2026 9:05:03 kept : y\r\n");
}

TEST_F(LogTest, TwoThreadsLoggingAtOnceWriteOnlyWholeLines) {
    EnableWithFile("drv.log");
    auto writer = [this](const char* tag) {
        for (int i = 0; i < 300; ++i) WriteLog(ctx.Log, tag, "0123456789");
    };
    std::thread a(writer, "A"), b(writer, "B");
    a.join();
    b.join();
    const std::string content = ReadFile(dir.file("drv.log"));
    std::size_t lines = 0, pos = 0;
    while ((pos = content.find("\r\n", pos)) != std::string::npos) {
        ++lines;
        pos += 2;
    }
    EXPECT_GT(lines, 0u);
    EXPECT_LE(lines, 600u);
    EXPECT_EQ(content.size(), lines * std::string("7.3.2026 9:05:03 A : 0123456789\r\n").size());
}

TEST_F(LogTest, ALogThatCannotBeWrittenIsReportedOnceWithItsPathAndTheReason) {
    const std::string path = dir.file("missing-dir/drv.log");
    ctx.Log.LogFileName.assign(path);
    EnableLog(ctx.Log, ctx.DriverName.view());
    EXPECT_EQ(TakeLogFailure(ctx.Log), "");  // nothing tried yet
    WriteLog(ctx.Log, "load", "OK");
    WriteLog(ctx.Log, "load", "OK");
    EXPECT_EQ(TakeLogFailure(ctx.Log), "Log nelze zapsat: " + path + " (" + SystemErrorText(ENOENT) + ")");
    WriteLog(ctx.Log, "load", "OK");
    EXPECT_EQ(TakeLogFailure(ctx.Log), "");  // once
    // A new start reports again.
    ResetLog(ctx.Log);
    ctx.Log.LogFileName.assign(path);
    EnableLog(ctx.Log, ctx.DriverName.view());
    WriteLog(ctx.Log, "load", "OK");
    EXPECT_NE(TakeLogFailure(ctx.Log), "");
}

TEST_F(LogTest, ALogAtItsSizeLimitBecomesTheOldFileAndStartsAgain) {
    EnableWithFile("drv.log");
    const std::string line = "7.3.2026 9:05:03 A : 0123456789\r\n";  // 33 bytes
    ctx.Log.SizeLimit = 3 * static_cast<std::int64_t>(line.size());
    for (int i = 0; i < 3; ++i) WriteLog(ctx.Log, "A", "0123456789");
    EXPECT_EQ(ReadFile(dir.file("drv.log")), line + line + line);  // exactly at the limit
    EXPECT_FALSE(zktest::Exists(dir.file("drv.log.old")));
    WriteLog(ctx.Log, "B", "0123456789");
    EXPECT_EQ(ReadFile(dir.file("drv.log.old")), line + line + line);
    EXPECT_EQ(ReadFile(dir.file("drv.log")), "7.3.2026 9:05:03 B : 0123456789\r\n");
    for (int i = 0; i < 3; ++i) WriteLog(ctx.Log, "C", "0123456789");
    // One ".old" file only: the older one is replaced.
    EXPECT_EQ(ReadFile(dir.file("drv.log.old")), std::string("7.3.2026 9:05:03 B : 0123456789\r\n") +
                                                      "7.3.2026 9:05:03 C : 0123456789\r\n" +
                                                      "7.3.2026 9:05:03 C : 0123456789\r\n");
    EXPECT_EQ(ReadFile(dir.file("drv.log")), "7.3.2026 9:05:03 C : 0123456789\r\n");
    EXPECT_EQ(TakeLogFailure(ctx.Log), "");
}
