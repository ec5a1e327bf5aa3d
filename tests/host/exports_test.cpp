// The library as a host uses it: loaded by file name, every call through the exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/library.h"
#include "support/par_files.h"
#include "support/temp_dir.h"

using zktest::Library;

namespace {

constexpr const char* kExports[] = {"Version",      "Check",          "GetDriverInfo",         "MakeDriver",
                                    "DisposeDriver", "Init",          "Done",                  "BufferInfo",
                                    "SetBufferAddr", "InputRequest",  "InputRequestCompleted", "InputFinalized",
                                    "GetInput",     "OutputRequest",  "OutputRequestCompleted", "OutputFinalized",
                                    "DriverProc",   "QueryProc"};

std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + library + "'";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return names;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
    }
    pclose(p);
    return names;
}

// Runs Init on a fresh instance and hands back the result and the text.
struct InitResult {
    bool ok;
    std::string text;
};
InitResult RunInit(void* driver, const std::string& name, std::int32_t length, const char* driverName = "D1") {
    char text[256] = {};
    std::strncpy(text, driverName, 255);
    const bool ok = Library().Init(driver, length, name.c_str(), 0, text, 3, 0, 8, 9) != 0;
    return {ok, text};
}

}  // namespace

TEST(Exports, TheLibraryExportsExactlyTheEighteenFunctions) {
    const std::set<std::string> expected(std::begin(kExports), std::end(kExports));
    EXPECT_EQ(DefinedDynamicSymbols(ZK_LIBRARY_PATH), expected);
}

TEST(Exports, IdentificationCalls) {
    auto& api = Library();
    EXPECT_EQ(api.Version(), 0x30000u);
    EXPECT_EQ(api.Check(), 1u);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(api.GetDriverInfo(12345, buffer), 29);
    EXPECT_STREQ(buffer, "Tervak-KR/TL2, MODEM, v.5.017");
    EXPECT_EQ(buffer[30], 'x');
    EXPECT_EQ(api.GetDriverInfo(0, nullptr), 0);
}

TEST(Exports, FinalizedCallsWriteZeroAndSayTrue) {
    auto& api = Library();
    uint32_t result = 77;
    EXPECT_EQ(api.InputFinalized(nullptr, 5, &result), 1u);
    EXPECT_EQ(result, 0u);
    result = 77;
    EXPECT_EQ(api.OutputFinalized(nullptr, 5, &result), 1u);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(api.InputFinalized(nullptr, 0, nullptr), 0u);
    EXPECT_EQ(api.OutputFinalized(nullptr, 0, nullptr), 0u);
    api.InputRequestCompleted(nullptr);
    api.OutputRequestCompleted(nullptr);
}

TEST(Exports, BufferInfoAcceptsOnlyTheSharedBuffer) {
    auto& api = Library();
    void* driver = api.MakeDriver();
    struct Case {
        uint32_t id, kind, size;
        bool accepted;
    };
    const Case cases[] = {{0xfffc, 9, 16862, true},       {0xfffc, 0x109, 16862, true},  // only the low 8 bits
                          {0xfffc, 9, 16861, false},      {0xfffc, 9, 16863, false},
                          {0xfffb, 9, 16862, false},      {0xfffc, 8, 16862, false}};
    for (const Case& c : cases) EXPECT_EQ(api.BufferInfo(driver, c.id, c.kind, c.size) != 0, c.accepted) << c.kind << " " << c.size;
    EXPECT_EQ(api.BufferInfo(nullptr, 0xfffc, 9, 16862), 0u);
    api.DisposeDriver(driver);
}

TEST(Exports, SetBufferAddrInitialisesTheHeaderAndTheCellsWithinTheGrantedSize) {
    auto& api = Library();
    void* driver = api.MakeDriver();
    std::vector<uint8_t> buffer(16862 + 64, 0xEE);
    api.SetBufferAddr(driver, 0xfffb, buffer.data());  // another id: ignored
    EXPECT_EQ(buffer[0], 0xEE);
    api.SetBufferAddr(driver, 0xfffc, buffer.data());
    auto u16 = [&](std::size_t o) { return static_cast<unsigned>(buffer[o] | buffer[o + 1] << 8); };
    auto u32 = [&](std::size_t o) {
        uint32_t v;
        std::memcpy(&v, &buffer[o], 4);
        return v;
    };
    EXPECT_EQ(u16(0), 0u);
    EXPECT_EQ(u16(2), 8u);
    EXPECT_EQ(u32(4), 528u);
    EXPECT_EQ(u32(8), 0u);
    EXPECT_EQ(u32(24), 0u);
    EXPECT_EQ(u16(22), 9u);
    float f;
    std::memcpy(&f, &buffer[30], 4);
    EXPECT_EQ(f, 300.0f);
    EXPECT_EQ(u32(34), 0u);                            // row 1, column 1
    EXPECT_EQ(u32(34 + 32 * 525 + 4 * 6), 0u);         // row 526, column 7: the last whole cell
    for (std::size_t i = 16862; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << "written past the buffer at " << i;
    api.SetBufferAddr(driver, 0xfffc, nullptr);  // no buffer: nothing to write
    api.DisposeDriver(driver);
}

TEST(Exports, QueryProcAnswersOnlyTheExactVersionQuery) {
    auto& api = Library();
    void* driver = api.MakeDriver();
    char text[64];
    unsigned char record[4 + sizeof(char*)];
    auto makeRecord = [&](uint32_t type, char* target) {
        std::memcpy(record, &type, 4);
        std::memcpy(record + 4, &target, sizeof target);  // the pointer follows the type word directly
    };
    std::memset(text, 'x', sizeof text);
    makeRecord(11, text);
    api.QueryProc(driver, 11, "GetVersion", 0, record);
    EXPECT_STREQ(text, "Tervak-KR/TL2, MODEM, v.5.017");

    struct Case {
        uint32_t kind;
        const char* name;
        uint32_t type;
    };
    const Case ignored[] = {{11, "getversion", 11}, {10, "GetVersion", 11}, {11, "GetVersion", 10}, {11, nullptr, 11}};
    for (const Case& c : ignored) {
        std::memset(text, 'x', sizeof text);
        makeRecord(c.type, text);
        api.QueryProc(driver, c.kind, c.name, 0, record);
        EXPECT_EQ(text[0], 'x');
    }
    // The driver argument plays no part: a host may ask before it makes an instance.
    std::memset(text, 'x', sizeof text);
    makeRecord(11, text);
    api.QueryProc(nullptr, 11, "GetVersion", 0, record);
    EXPECT_STREQ(text, "Tervak-KR/TL2, MODEM, v.5.017");
    makeRecord(11, nullptr);
    api.QueryProc(driver, 11, "GetVersion", 0, record);  // no buffer: nothing
    api.QueryProc(driver, 11, "GetVersion", 0, nullptr);
    api.DisposeDriver(driver);
}

TEST(Exports, NullDriverPointersDoNothing) {
    auto& api = Library();
    char text[256] = "D1";
    EXPECT_EQ(api.Init(nullptr, 3, "x.p", 0, text, 0, 0, 0, 0), 0u);
    EXPECT_STREQ(text, "D1");
    api.Done(nullptr);
    api.DisposeDriver(nullptr);
    api.SetBufferAddr(nullptr, 0xfffc, text);
    api.InputRequest(nullptr, 1);
    ZkHostValue value{};
    api.GetInput(nullptr, 1, &value);
    api.OutputRequest(nullptr, 1, 10, 0);
    api.DriverProc(nullptr, 1, 0, 0, 0, 0);
    api.QueryProc(nullptr, 11, "GetVersion", 0, nullptr);
}

TEST(Exports, DisposeWithoutInitFreesWhatWasMade) {
    auto& api = Library();
    void* driver = api.MakeDriver();
    ASSERT_NE(driver, nullptr);
    api.DisposeDriver(driver);
    void* again = api.MakeDriver();
    api.Done(again);  // Done without Init
    api.DisposeDriver(again);
}

TEST(Exports, InitWithAPortThatDoesNotOpenFailsWithTheComText) {
    auto& api = Library();
    zktest::TempDir dir;
    const std::string file = dir.file("drv.par");
    zktest::WriteFile(file, zktest::MakeParFile());
    void* driver = api.MakeDriver();
    const auto r = RunInit(driver, file, static_cast<std::int32_t>(file.size()));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "Chyba instalace COM-portu !");
    api.DriverProc(driver, 1, 0, 0, 0, 0);  // the window exists after a failed Init
    api.Done(driver);
    api.Done(driver);  // a second Done finds nothing to stop
    api.DisposeDriver(driver);
}

TEST(Exports, TwoInstancesLiveSideBySide) {
    auto& api = Library();
    zktest::TempDir dir;
    const std::string file = dir.file("drv.par");
    zktest::WriteFile(file, zktest::MakeParFile());
    void* a = api.MakeDriver();
    void* b = api.MakeDriver();
    ASSERT_NE(a, b);
    EXPECT_FALSE(RunInit(a, file, static_cast<std::int32_t>(file.size()), "A").ok);
    api.Done(a);
    api.DisposeDriver(a);
    EXPECT_FALSE(RunInit(b, file, static_cast<std::int32_t>(file.size()), "B").ok);
    api.Done(b);
    api.DisposeDriver(b);
}
