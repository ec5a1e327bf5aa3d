// History files: names, loading (missing, short, whole, long files), saving, and the safe
// replacement that leaves the old file whole when a save fails.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/defaults.h"
#include "history/history.h"
#include "support/temp_dir.h"

using namespace zk;
using zktest::ReadFile;
using zktest::TempDir;
using zktest::WriteFile;

namespace {

// Bytes that differ from record to record, so that a shifted or partial copy shows.
std::string Pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return s;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A context whose history files live in the test program's own directory (where the driver
// looks for them) under a driver name no other test uses; the files are removed afterwards.
class HistoryFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ResetContext(ctx);
        ctx.StationCount = 12;
        ctx.DriverName.assign("zkhist" + std::to_string(::getpid()) + "_");
    }
    void TearDown() override {
        for (int n = 1; n <= kMaxStations; ++n) std::filesystem::remove(HistoryFilePath(ctx, n));
    }
    DriverContext ctx;
};

}  // namespace

TEST(HistoryFileName, DriverNameStationIndexAndHdbInTheExecutablesDirectory) {
    DriverContext ctx;
    ctx.DriverName.assign("D");
    EXPECT_EQ(HistoryFilePath(ctx, 12), ExecutableDirectory() + "D12.hdb");
    ctx.DriverName.assign("D1");
    EXPECT_EQ(HistoryFilePath(ctx, 3), ExecutableDirectory() + "D13.hdb");
    EXPECT_EQ(HistoryFilePath(ctx, 100, "/x/"), "/x/D1100.hdb");
    // The executable directory is the test program's own.
    EXPECT_TRUE(std::filesystem::equivalent(ExecutableDirectory(),
                                            std::filesystem::canonical("/proc/self/exe").parent_path()));
}

// ZKDRV_HISTORY_DIR, set for one test and restored afterwards.
struct HistoryDirVariable {
    explicit HistoryDirVariable(const char* value) {
        if (const char* old = std::getenv("ZKDRV_HISTORY_DIR")) saved = old, had = true;
        if (value) ::setenv("ZKDRV_HISTORY_DIR", value, 1);
        else ::unsetenv("ZKDRV_HISTORY_DIR");
    }
    ~HistoryDirVariable() {
        if (had) ::setenv("ZKDRV_HISTORY_DIR", saved.c_str(), 1);
        else ::unsetenv("ZKDRV_HISTORY_DIR");
    }
    std::string saved;
    bool had = false;
};

TEST(HistoryFileName, TheEnvironmentNamesAnotherDirectory) {
    TempDir dir;
    DriverContext ctx;
    ResetContext(ctx);
    ctx.StationCount = 2;
    ctx.DriverName.assign("H");
    {
        HistoryDirVariable env(dir.path().c_str());  // without a trailing separator
        EXPECT_EQ(HistoryFilePath(ctx, 2), dir.path() + "/H2.hdb");
        // The driver loads and saves its histories there.
        WriteFile(dir.path() + "/H2.hdb", Pattern(kHdbBytes, 5));
        LoadHistory(ctx, 2);
        ASSERT_NE(ctx.Stations[2]->Hdb, nullptr);
        ctx.Stations[2]->Hdb[0] ^= 0xFF;
        EXPECT_EQ(SaveAllHistories(ctx), 0);
        EXPECT_NE(ReadFile(dir.path() + "/H2.hdb"), Pattern(kHdbBytes, 5));
        EXPECT_EQ(ReadFile(dir.path() + "/H2.hdb").size(), kHdbBytes);
    }
    {
        HistoryDirVariable env((dir.path() + "/").c_str());
        EXPECT_EQ(HistoryFilePath(ctx, 1), dir.path() + "/H1.hdb");
    }
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        HistoryDirVariable env(unset);  // not set, or empty: the executable's directory
        EXPECT_EQ(HistoryFilePath(ctx, 1), ExecutableDirectory() + "H1.hdb");
    }
}

TEST_F(HistoryFiles, LoadByFileSize) {
    struct Case {
        int station;
        long size;  // -1: no file
        bool buffer;
        bool cleared;
    };
    const Case cases[] = {
        {1, -1, false, false},      // no file: no buffer
        {2, 0, true, true},         // empty file: a cleared buffer
        {3, 499999, true, true},    // one byte short: a cleared buffer
        {4, 500000, true, false},   // the whole ring
        {5, 500001, true, false},   // a longer file: its first 500 000 bytes
    };
    for (const Case& c : cases) {
        if (c.size >= 0) WriteFile(HistoryFilePath(ctx, c.station), Pattern(static_cast<std::size_t>(c.size), 3));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.station);
        LoadHistory(ctx, c.station);
        const StationRecord& s = *ctx.Stations[c.station];
        ASSERT_EQ(s.Hdb != nullptr, c.buffer);
        if (!c.buffer) continue;
        const std::string got(reinterpret_cast<const char*>(s.Hdb.get()), kHdbBytes);
        EXPECT_EQ(got, c.cleared ? std::string(kHdbBytes, '\0') : Pattern(kHdbBytes, 3));
    }
}

TEST_F(HistoryFiles, AFileThatCannotBeReadCountsAsMissing) {
    std::filesystem::create_directory(HistoryFilePath(ctx, 7));  // a directory under the file's name
    LoadHistory(ctx, 7);
    EXPECT_EQ(ctx.Stations[7]->Hdb, nullptr);
    std::filesystem::remove(HistoryFilePath(ctx, 7));
}

TEST_F(HistoryFiles, SaveWritesTheWholeBufferAndReplacesTheOldFile) {
    const std::string path = HistoryFilePath(ctx, 12);
    WriteFile(path, "an older and shorter file");
    ctx.Stations[12]->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
    const std::string bytes = Pattern(kHdbBytes, 5);
    std::memcpy(ctx.Stations[12]->Hdb.get(), bytes.data(), kHdbBytes);
    SaveHistory(ctx, 12);
    EXPECT_EQ(ReadFile(path), bytes);

    // And back: a fresh context reads what was saved.
    DriverContext other;
    ResetContext(other);
    other.StationCount = 12;
    other.DriverName = ctx.DriverName;
    LoadHistory(other, 12);
    ASSERT_NE(other.Stations[12]->Hdb, nullptr);
    EXPECT_EQ(std::memcmp(other.Stations[12]->Hdb.get(), bytes.data(), kHdbBytes), 0);
}

TEST_F(HistoryFiles, SaveAllWritesEveryStationWithABufferAndNoOther) {
    for (int n : {2, 40, 100}) {
        ctx.Stations[n]->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
        ctx.Stations[n]->Hdb[0] = static_cast<std::uint8_t>(n);
    }
    EXPECT_EQ(SaveAllHistories(ctx), 0);
    for (int n = 1; n <= kMaxStations; ++n) {
        const bool expected = n == 2 || n == 40 || n == 100;
        SCOPED_TRACE(n);
        ASSERT_EQ(zktest::Exists(HistoryFilePath(ctx, n)), expected);
        if (expected) {
            const std::string got = ReadFile(HistoryFilePath(ctx, n));
            ASSERT_EQ(got.size(), kHdbBytes);
            EXPECT_EQ(static_cast<std::uint8_t>(got[0]), n);
        }
    }
}

TEST(HistoryFileWrite, ReplacesInPlaceAndLeavesNothingElse) {
    TempDir dir;
    const std::string path = dir.file("D1.hdb");
    WriteFile(path, Pattern(kHdbBytes, 1));
    ::chmod(path.c_str(), 0640);
    const std::string bytes = Pattern(kHdbBytes, 2);
    ASSERT_TRUE(WriteHistoryFile(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"D1.hdb"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replacement keeps the old file's rights
}

// Every way a save can fail must leave the previous file exactly as it was, and no stray
// temporary file beside it.
TEST(HistoryFileWrite, AFailedSaveLeavesTheOldFileWhole) {
    const std::string old = Pattern(kHdbBytes, 8);
    const std::string bytes = Pattern(kHdbBytes, 9);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());

    {
        SCOPED_TRACE("the disk fills up in the middle of the write");
        TempDir dir;
        const std::string path = dir.file("D1.hdb");
        WriteFile(path, old);
        // A file-size limit makes every write past 100 000 bytes fail, as a full disk does.
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 100000;
        auto* previous = ::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = WriteHistoryFile(path, data, bytes.size());
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, previous);
        EXPECT_FALSE(ok);
        EXPECT_EQ(ReadFile(path), old);
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"D1.hdb"});
    }
    {
        SCOPED_TRACE("the name is taken by a directory");
        TempDir dir;
        const std::string path = dir.file("D2.hdb");
        std::filesystem::create_directory(path);
        WriteFile(path + "/keep", old);
        EXPECT_FALSE(WriteHistoryFile(path, data, bytes.size()));
        EXPECT_EQ(ReadFile(path + "/keep"), old);
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"D2.hdb"});
    }
    {
        SCOPED_TRACE("the directory does not exist");
        TempDir dir;
        EXPECT_FALSE(WriteHistoryFile(dir.file("missing/D3.hdb"), data, bytes.size()));
        EXPECT_TRUE(Entries(dir.path()).empty());
    }
}

TEST(HistoryFileWrite, AReadOnlyDirectoryKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into read-only directories";
    TempDir dir;
    const std::string path = dir.file("D1.hdb");
    const std::string old = Pattern(kHdbBytes, 4);
    WriteFile(path, old);
    ::chmod(dir.path().c_str(), 0555);
    const std::string bytes = Pattern(kHdbBytes, 6);
    EXPECT_FALSE(WriteHistoryFile(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"D1.hdb"});
}

TEST_F(HistoryFiles, ASaveThatFailsKeepsTheStationsBufferAndOldFile) {
    const std::string path = HistoryFilePath(ctx, 4);
    const std::string old = Pattern(kHdbBytes, 10);
    WriteFile(path, old);
    ctx.Stations[4]->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
    ctx.Stations[4]->Hdb[7] = 0x55;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    auto* previous = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int failed = SaveAllHistories(ctx);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(ReadFile(path), old);
    ASSERT_NE(ctx.Stations[4]->Hdb, nullptr);
    EXPECT_EQ(ctx.Stations[4]->Hdb[7], 0x55);
}
