// Instance life through the core: what Init shows, the window the host controls, Done and
// DisposeDriver.
#include "host/instance.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "base/cp1250.h"
#include "diag/status_window.h"
#include "support/par_files.h"
#include "support/temp_dir.h"

using namespace zk;

namespace {

struct Instance {
    DriverRecord* rec = MakeDriver();
    ~Instance() {
        Done(*rec);
        DisposeDriver(rec);
    }
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& line : rec->Window->EventList) out.push_back(Cp1250ToUtf8(line));
        return out;
    }
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(InstanceInit, ShowsTheStartUpAndFailsWithoutAPort) {
    zktest::TempDir dir;
    const std::string file = dir.file("drv.par");
    zktest::WriteFile(file, zktest::MakeParFile());
    Instance inst;
    char text[256] = "D1";
    EXPECT_FALSE(Init(*inst.rec, static_cast<std::int32_t>(file.size()), file.c_str(), text, 7, 8, 9));
    EXPECT_STREQ(text, "Chyba instalace COM-portu !");
    EXPECT_STREQ(inst.rec->Context->ErrorText, "Chyba instalace COM-portu !");
    EXPECT_FALSE(inst.rec->Running);
    EXPECT_EQ(inst.rec->Thread, nullptr);
    EXPECT_EQ(inst.rec->LoginLevel, 7u);
    EXPECT_EQ(inst.rec->InitArg8, 8u);
    EXPECT_EQ(inst.rec->InitArg9, 9u);
    ASSERT_NE(inst.rec->Window, nullptr);
    const StatusWindow& w = *inst.rec->Window;
    EXPECT_EQ(w.Caption, "Tervak-KR/TL2, MODEM, v.5.017: D1");
    EXPECT_EQ(w.LabelName, "Tervak KR/KRm/TL2, AT-MODEM, max. 100 stanic");
    EXPECT_EQ(w.LabelVersion, "5.017 - 2007/08/20");
    EXPECT_TRUE(w.Enabled);
    const auto events = inst.events();
    EXPECT_TRUE(Contains(events, "Název ovladače v aplikaci: D1"));
    EXPECT_TRUE(Contains(events, "Parametrický soubor: " + file));
    EXPECT_TRUE(Contains(events, "Úroveň pro přihlášení: 7"));
    EXPECT_TRUE(Contains(events, "HDB..."));
    EXPECT_TRUE(Contains(events, "HDB Ok."));
    EXPECT_TRUE(Contains(events, "Inicializace OK"));
    EXPECT_EQ(inst.rec->Context->DriverName.view(), "D1");
    EXPECT_EQ(inst.rec->Context->ParFileName.view(), file);
}

TEST(InstanceInit, ADriverNameIsTakenUpTo255CharactersAndErrorTextsAreCutTo80) {
    Instance inst;
    char text[256];
    std::memset(text, 'N', 255);
    text[255] = '\0';
    EXPECT_FALSE(Init(*inst.rec, 5, "x.par", text, 0, 0, 0));
    EXPECT_EQ(inst.rec->Context->DriverName.size(), 255u);
    EXPECT_LE(std::strlen(text), 80u);
}

TEST(InstanceInit, WithoutATextBufferNothingIsWrittenThere) {
    Instance inst;
    EXPECT_FALSE(Init(*inst.rec, 5, "x.par", nullptr, 0, 0, 0));
    EXPECT_TRUE(inst.rec->Context->DriverName.empty());
}

TEST(DriverProcCodes, ActOnTheStatusWindow) {
    Instance inst;
    char text[256] = "W";
    Init(*inst.rec, 5, "x.par", text, 4, 0, 0);
    StatusWindow& w = *inst.rec->Window;
    DriverProc(*inst.rec, 1, 0, 0, 0, 0);
    EXPECT_TRUE(w.Visible);
    DriverProc(*inst.rec, 0, 0, 0, 0, 0);
    EXPECT_FALSE(w.Visible);
    DriverProc(*inst.rec, 2, 0, 0, 0, 0);
    EXPECT_TRUE(w.Minimised);
    DriverProc(*inst.rec, 3, 0, 0, 0, 0);
    EXPECT_FALSE(w.Minimised);
    DriverProc(*inst.rec, 4, 0, 0, 0, 0);
    EXPECT_TRUE(w.Focused);
    DriverProc(*inst.rec, 5, 10, 20, 300, 400);
    EXPECT_EQ(std::tie(w.Left, w.Top, w.Width, w.Height), std::make_tuple(10, 20, 300, 400));
    DriverProc(*inst.rec, 6, 4, 0, 0, 0);  // login level 4 >= 4
    EXPECT_TRUE(w.Enabled);
    DriverProc(*inst.rec, 6, 5, 0, 0, 0);
    EXPECT_FALSE(w.Enabled);
    DriverProc(*inst.rec, 6, 0xFFFFFFFFu, 0, 0, 0);  // unsigned comparison
    EXPECT_FALSE(w.Enabled);
    const std::uint64_t revision = w.Revision;
    DriverProc(*inst.rec, 7, 0, 0, 0, 0);  // unknown code
    EXPECT_EQ(w.Revision, revision);
}

TEST(DriverProcCodes, WithoutAWindowNothingHappens) {
    Instance inst;
    DriverProc(*inst.rec, 1, 0, 0, 0, 0);  // before Init
    EXPECT_EQ(inst.rec->Window, nullptr);
}

TEST(InstanceDone, FreesTheWindowAndDisposeWritesTheDoneLinesInOrder) {
    zktest::TempDir dir;
    DriverRecord* rec = MakeDriver();
    char text[256] = "D1";
    Init(*rec, 5, "x.par", text, 0, 0, 0);
    DriverContext& ctx = *rec->Context;
    ctx.Log.LogFileName.assign(dir.file("drv.log"));
    EnableLog(ctx.Log, ctx.DriverName.view());
    {
        std::lock_guard lock(ctx.Lock);
        AppendRequest(ctx.ReadQueue, 1, 16, 0, "abc", nullptr);
        AppendRequest(ctx.WriteQueue, 1, 15, 0, "abcdefg", nullptr);
        InsertReceived(ctx.ReceiveQueue, "frame", "");
        ctx.Modem.CommandQueue.emplace_back();
    }
    Done(*rec);
    EXPECT_EQ(rec->Window, nullptr);
    DisposeDriver(rec);
    const std::string log = zktest::ReadFile(dir.file("drv.log"));
    const auto a = log.find("done : queues are empty");
    const auto b = log.find("done : modem objects done");
    const auto c = log.find("done : stations/data closed");
    const auto d = log.find("done : end");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(d, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_LT(c, d);
}

TEST(InstanceInit, ASecondInitLogsLikeTheFirst) {
    // The log under its default name, in the root directory (the working directory here).
    zktest::TempDir dir;
    const std::string file = dir.file("drv.par");
    zktest::ParFileOptions options;
    options.diags = true;
    zktest::WriteFile(file, zktest::MakeParFile(options));
    char cwd[4096] = {};
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.file("").c_str()), 0);
    const std::string log = dir.file("ZKDKRMOD_D1.LOG");
    {
        Instance inst;
        for (int n = 1; n <= 2; ++n) {
            SCOPED_TRACE(n);
            char text[256] = "D1";
            Init(*inst.rec, static_cast<std::int32_t>(file.size()), file.c_str(), text, 0, 0, 0);
            EXPECT_TRUE(inst.rec->Context->Log.LogEnabled.load());
            EXPECT_EQ(inst.rec->Context->Log.LogFileName.view(), "./ZKDKRMOD_D1.LOG");
            const std::string content = zktest::ReadFile(log);
            std::size_t loads = 0;
            for (auto at = content.find("LoadPARfile : OK"); at != std::string::npos;
                 at = content.find("LoadPARfile : OK", at + 1))
                ++loads;
            EXPECT_EQ(loads, static_cast<std::size_t>(n));
        }
    }
    ASSERT_EQ(::chdir(cwd), 0);
}

TEST(InstanceInit, ALogThatCannotBeWrittenIsShownOnceInTheEventList) {
    zktest::TempDir dir;
    const std::string file = dir.file("drv.par");
    const std::string log = dir.file("missing-dir/drv.log");
    zktest::ParFileOptions options;
    options.diags = true;
    options.logFile = log;
    zktest::WriteFile(file, zktest::MakeParFile(options));
    Instance inst;
    char text[256] = "D1";
    Init(*inst.rec, static_cast<std::int32_t>(file.size()), file.c_str(), text, 0, 0, 0);
    std::size_t shown = 0;
    for (const std::string& line : inst.events())
        if (line.rfind("Log nelze zapsat: " + log + " (", 0) == 0) ++shown;
    EXPECT_EQ(shown, 1u);
}
