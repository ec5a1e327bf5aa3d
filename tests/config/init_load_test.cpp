// Init with real parameter files: a wrong file, a file that cannot be read, a good one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/cp1250.h"
#include "diag/status_window.h"
#include "host/instance.h"
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
    bool Init(const std::string& file, char* text) {
        return zk::Init(*rec, static_cast<std::int32_t>(file.size()), file.c_str(), text, 0, 0, 0);
    }
};

TEST(InitLoad, AWrongFileFailsWithTheReadersTextAndLogsIt) {
    zktest::TempDir dir;
    const std::string file = dir.file("bad.par");
    const std::string log = dir.file("bad.log");
    zktest::ParFileOptions o;
    o.diags = true;
    o.logFile = log;
    o.stations = "[STATION] ADDRESS 5 END\r\n";
    zktest::WriteFile(file, zktest::MakeParFile(o));
    Instance inst;
    char text[256] = "D";
    EXPECT_FALSE(inst.Init(file, text));
    EXPECT_EQ(Cp1250ToUtf8(text), "Chybná definice proměnné RETRANSLATION / [STATION]");
    EXPECT_FALSE(inst.rec->Running);
    EXPECT_EQ(inst.rec->Thread, nullptr);
    const std::string written = zktest::ReadFile(log);
    EXPECT_NE(written.find("PARfile ERROR : " + std::string(text) + "\r\n"), std::string::npos) << written;
}

TEST(InitLoad, AFileThatCannotBeOpenedFailsInOrder) {
    zktest::TempDir dir;
    const std::string file = dir.file("missing.par");
    Instance inst;
    char text[256] = "D";
    EXPECT_FALSE(inst.Init(file, text));
    EXPECT_EQ(Cp1250ToUtf8(text), "Nelze otevřít parametrický soubor: " + file);

    const std::string longName = dir.path() + "/" + std::string(120, 'n') + ".par";
    EXPECT_FALSE(inst.Init(longName, text));
    EXPECT_EQ(std::strlen(text), 80u);
}

TEST(InitLoad, ADirectoryIsAFileThatCannotBeRead) {
    zktest::TempDir dir;
    Instance inst;
    char text[256] = "D";
    EXPECT_FALSE(inst.Init(dir.path(), text));
    EXPECT_EQ(Cp1250ToUtf8(text).rfind("Chyba čtení parametrického souboru: ", 0), 0u) << Cp1250ToUtf8(text);
}

TEST(InitLoad, AGoodFileIsLoadedAndTheStationsArePrepared) {
    zktest::TempDir dir;
    const std::string file = dir.file("good.par");
    zktest::WriteFile(file, zktest::MakeParFile());
    Instance inst;
    char text[256] = "D";
    EXPECT_FALSE(inst.Init(file, text));  // no port here
    EXPECT_STREQ(text, "Chyba instalace COM-portu !");
    const DriverContext& ctx = *inst.rec->Context;
    EXPECT_EQ(ctx.StationCount, 1);
    EXPECT_EQ(ctx.Com.DEVICE.view(), "/nonexistent/zkdrv-test-tty");
    EXPECT_STREQ(ctx.Stations[1]->DisplayLines[0].data(), "<line 1>");
    EXPECT_EQ(inst.rec->Window->Labels[LabelCOM], Utf8ToCp1250("Připojení: COM1, 9600Bd, 8N1"));
}

}  // namespace
