// The history read-out end to end: the library loaded by file name and driven through its
// exports only, a simulated modem and station on a real pseudo-terminal, the history file
// written beside the test program. Every wait polls the exports; no step is timed.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/library.h"
#include "support/par_files.h"
#include "support/temp_dir.h"
#include "zksim/zksim.h"

namespace zktest {
namespace {

// The simulated station: address 23 behind telephone number 4711, the driver's station 1. The
// driver's name makes the history file HistRingE2E1.hdb, which no other test uses.
constexpr std::uint8_t kStation = 23;
constexpr const char* kDriverName = "HistRingE2E";
constexpr std::uint32_t kRecords = 50000;

// Host types and channels.
constexpr std::uint32_t kBool = 2, kU16 = 4, kU32 = 5, kI16 = 7, kI32 = 8, kFloat = 9, kDouble = 10;
constexpr std::uint32_t kConnect = 476, kConnected = 478, kModemReady = 60294;
constexpr std::uint32_t kHdbStation = 65400, kHdbArchive = 65401, kHdbUserPos = 65402, kHdbTop = 65403,
                        kHdbState = 65404, kHdbTimeout = 65406, kHdbStart = 65407, kHdbStop = 65408,
                        kHdbItem13 = 65409, kHdbBrowse = 65410, kHdbWord = 65411, kHdbStamp = 65412,
                        kHdbValue = 65413, kHdbCapacity = 65414, kHdbDay = 65416;

// The history file: beside this program, named after the driver and the station's index.
std::string HistoryFile() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / (std::string(kDriverName) + "1.hdb"))
        .string();
}

// One record as the station stores it: word, time stamp and IEEE single, least significant
// byte first.
void PutRecord(std::string& image, std::uint32_t record, std::uint16_t word, std::uint32_t seconds, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    const std::uint8_t bytes[10] = {
        static_cast<std::uint8_t>(word),          static_cast<std::uint8_t>(word >> 8),
        static_cast<std::uint8_t>(seconds),       static_cast<std::uint8_t>(seconds >> 8),
        static_cast<std::uint8_t>(seconds >> 16), static_cast<std::uint8_t>(seconds >> 24),
        static_cast<std::uint8_t>(bits),          static_cast<std::uint8_t>(bits >> 8),
        static_cast<std::uint8_t>(bits >> 16),    static_cast<std::uint8_t>(bits >> 24)};
    image.replace(static_cast<std::size_t>(record) * 10, 10, reinterpret_cast<const char*>(bytes), 10);
}

// Records appended by the station: `count` records from `first` along the ring, time stamps
// from `seconds` in steps of `step`, values from `value` in steps of 1.
struct Batch {
    std::uint32_t first, count;
    std::uint16_t word;
    std::uint32_t seconds, step;
    float value;
    void Append(zksim::Simulator& sim) const { sim.AppendHistory(kStation, word, seconds, value, count, step); }
    void Put(std::string& image) const {
        for (std::uint32_t k = 0; k < count; ++k)
            PutRecord(image, (first + k) % kRecords, word, seconds + k * step, value + static_cast<float>(k));
    }
};

std::string ParFile(const std::string& device, const std::string& globalExtra) {
    ParFileOptions o;
    o.device = device;
    // Every modem reply ends after 3 s of silence: the limits stay above that.
    o.modem = "[MODEM] INIT AT# INIT_OK #@OK#@ INIT_TIME 6 CONNECT ATDP CONNECT_ENDCHAR # CONNECT_OK CONNECT "
              "CONNECT_TIME 15 LINEOFF_TIME 15 END";
    o.globalExtra = globalExtra;
    if (const char* t = std::getenv("ZK_DEBUG_LOG")) {  // the driver's log, to look into a failing run
        o.diags = true;
        o.logFile = t;
    }
    o.stations = "[STATION] ADDRESS 23 RETRANSLATION 23 NAME \"HISTORIE\"\r\n"
                 "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 0 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 "
                 "NUM_MEMORY_OUT 0\r\n"
                 "BINAR_IN_XOR NONE\r\nBINAR_OUT_XOR NONE\r\nDEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
                 "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\nPHONE 4711\r\n"
                 "ORIGINAL_CHANNELS END\r\n";
    return MakeParFile(o);
}

zksim::SimOptions SimOptions() {
    zksim::SimOptions o;
    zksim::StationDef s;
    s.address = kStation;
    s.retranslation = kStation;
    s.phone = "4711";
    s.numBinaryIn = 16;
    s.numBinaryOut = 8;
    s.memoryIn.assign(100, {});
    s.memoryOut.assign(100, {});
    o.line.stations = {s};
    o.dialDelayMs = 100;
    o.replyDelayMs = 5;
    o.guardMs = 300;
    if (const char* t = std::getenv("ZK_DEBUG_TRACE")) o.tracePath = t;  // to look into a failing run
    return o;
}

// A running driver instance on the simulator's line, seen through the exports.
class Host {
public:
    Host(zksim::Simulator& sim, const std::string& globalExtra) : sim_(sim) {
        WriteFile(par_, ParFile(sim.SlavePath(), globalExtra));
        driver_ = api_.MakeDriver();
        char text[256] = {};
        std::strncpy(text, kDriverName, sizeof text - 1);
        initialised_ = api_.Init(driver_, static_cast<std::int32_t>(par_.size()), par_.c_str(), 0, text, 3, 0, 0, 0);
        if (!initialised_) ADD_FAILURE() << "Init: " << text;
    }
    ~Host() { Dispose(); }

    // Done and DisposeDriver: the history buffers go to their files.
    void Dispose() {
        if (!driver_) return;
        api_.Done(driver_);
        api_.DisposeDriver(driver_);
        driver_ = nullptr;
    }
    bool initialised() const { return initialised_; }

    template <typename T>
    T Get(std::uint32_t channel, std::uint32_t type) {
        ZkHostValue v{};
        v.type = static_cast<std::int32_t>(type);
        api_.GetInput(driver_, channel, &v);
        T out{};
        std::memcpy(&out, v.value, sizeof out);
        return out;
    }
    int State() { return Get<std::int16_t>(kHdbState, kI16); }

    void Put(std::uint32_t channel, std::uint32_t type, std::uint64_t value) {
        api_.OutputRequest(driver_, channel, type, value);
    }
    void PutDouble(std::uint32_t channel, double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, 8);
        Put(channel, kDouble, bits);
    }

    // Polls until `done` holds; a generous guard ends a hanging test with a failure.
    bool WaitFor(const std::function<bool()>& done, const std::string& what) {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!done()) {
            if (std::chrono::steady_clock::now() > guard) {
                ADD_FAILURE() << "never came: " << what << " (read-out state " << State() << ")";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    bool WaitForState(int state) {
        return WaitFor([&] { return State() == state; }, "read-out state " + std::to_string(state));
    }

    // Dials the station through its connect channel and waits until it is on line. The
    // modem's initialisation, queued by the worker's first pass, goes first: queued behind the
    // dial it would go out on the connected line.
    bool Connect() {
        if (!WaitFor([&] { return Get<std::uint8_t>(kModemReady, kBool) == 1; }, "modem initialised")) return false;
        Put(kConnect, kBool, 1);
        return WaitFor([&] { return Get<std::uint8_t>(kConnected, kBool) == 1; }, "station on line");
    }
    // Chooses station 1 and archive 1 and starts a read-out.
    void StartReadOut() {
        Put(kHdbStation, kI16, 1);
        Put(kHdbArchive, kI16, 1);
        ASSERT_EQ(State(), 6);
        Put(kHdbStart, kBool, 1);
    }

private:
    zksim::Simulator& sim_;
    zktool::DriverApi& api_ = Library();
    TempDir dir_;
    std::string par_ = dir_.file("history.par");
    void* driver_ = nullptr;
    bool initialised_ = false;
};

std::uint32_t UserPos(const zksim::Simulator& sim) {
    std::uint32_t pos = 0;
    EXPECT_TRUE(sim.HistoryUserPos(kStation, 1, pos));
    return pos;
}

// The first record each history read asked for, in the order the station was asked.
std::vector<std::uint32_t> RecordsAsked(const zksim::Simulator& sim) {
    std::vector<std::uint32_t> records;
    for (const zksim::Bytes& f : sim.Requests()) {
        // [retr, L, "Y", drv, st, drv, "Q", "N", kind, address low, address high, count, X]
        if (f.size() < 13 || f[6] != 'Q' || f[7] != 'N') continue;
        const std::uint32_t address = static_cast<std::uint32_t>(static_cast<std::uint8_t>(f[8])) << 16 |
                                      static_cast<std::uint32_t>(static_cast<std::uint8_t>(f[10])) << 8 |
                                      static_cast<std::uint8_t>(f[9]);
        records.push_back((address - 0xF00000) / 10);
    }
    return records;
}

class HistoryEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove(HistoryFile());
        std::string error;
        ASSERT_TRUE(sim.Start(error)) << error;
    }
    void TearDown() override {
        sim.Stop();
        std::filesystem::remove(HistoryFile());
    }
    zksim::Simulator sim{SimOptions()};
};

TEST_F(HistoryEndToEnd, AReadOutAcrossTheRingsEndIsBrowsedAndSavedToTheFile) {
    // The station's ring: user 1 has read up to record 49 980; 30 new records wrap the ring's
    // end, so Top (10) lies below the user's position.
    const Batch batch{49980, 30, 0x0201, 86400 * 366 + 3600, 60, -1.5f};
    ASSERT_TRUE(sim.SetHistoryTop(kStation, 49980));
    ASSERT_TRUE(sim.SetHistoryUserPos(kStation, 1, 49980));
    ASSERT_TRUE(sim.SetQqLong(kStation, 0xBA, 1, 13, 77));
    batch.Append(sim);

    Host host(sim, "");
    ASSERT_TRUE(host.initialised());
    ASSERT_TRUE(host.Connect());
    host.PutDouble(kHdbTimeout, 120.0);
    host.StartReadOut();
    ASSERT_TRUE(host.WaitForState(255));

    // Positions, capacity and item 13 as the station gave them; the station has taken over
    // Top as user 1's new read position.
    EXPECT_EQ(host.Get<std::uint32_t>(kHdbUserPos, kU32), 10u);
    EXPECT_EQ(host.Get<std::uint32_t>(kHdbTop, kU32), 10u);
    EXPECT_EQ(host.Get<std::int32_t>(kHdbCapacity, kI32), 50000);
    EXPECT_EQ(host.Get<std::int32_t>(kHdbItem13, kI32), 77);
    EXPECT_EQ(UserPos(sim), 10u);
    // the ring's end first (192 + 8 bytes), then its start (100 bytes)
    EXPECT_EQ(RecordsAsked(sim), (std::vector<std::uint32_t>{49980, 49999, 0}));

    // Browsing: a record before the ring's end and one after it.
    struct Browse {
        std::uint16_t record;
        std::uint16_t word;
        std::uint32_t stamp;
        float value;
        std::uint16_t date[6];  // day, month, year, hour, minute, second
    };
    // record 49 985: 1.1.2001 01:05:00; record 5 (the 26th): 1.1.2001 01:25:00
    for (const Browse& b : {Browse{49985, 0x0201, 86400 * 366 + 3600 + 5 * 60, 3.5f, {1, 1, 2001, 1, 5, 0}},
                            Browse{5, 0x0201, 86400 * 366 + 3600 + 25 * 60, 23.5f, {1, 1, 2001, 1, 25, 0}}}) {
        host.Put(kHdbBrowse, kU16, b.record);
        EXPECT_EQ(host.Get<std::uint16_t>(kHdbWord, kU16), b.word) << b.record;
        EXPECT_EQ(host.Get<std::uint32_t>(kHdbStamp, kU32), b.stamp) << b.record;
        EXPECT_EQ(host.Get<float>(kHdbValue, kFloat), b.value) << b.record;
        for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(host.Get<std::uint16_t>(kHdbDay + i, kU16), b.date[i]) << i;
    }

    // Nothing new: the next read-out ends at once and writes nothing.
    const std::size_t asked = sim.Requests().size();
    host.Put(kHdbStart, kBool, 1);
    ASSERT_TRUE(host.WaitForState(255));
    EXPECT_EQ(RecordsAsked(sim).size(), 3u);
    EXPECT_GT(sim.Requests().size(), asked);  // the position query went out

    // A read lost to an answer time-out (dropped at once: a station behind a telephone number
    // gets one attempt by default) must not let the read-out finish: the station would be told
    // that records were read which never arrived.
    const Batch more{10, 100, 0x0102, 86400 * 400, 30, 100.0f};  // six reads
    more.Append(sim);
    zksim::Fault slow;
    slow.station = kStation;
    slow.count = -1;
    slow.delayMs = 300;
    sim.InjectFault(slow);
    host.StartReadOut();
    ASSERT_TRUE(host.WaitForState(2));
    sim.ClearFaults();
    zksim::Fault lost;
    lost.station = kStation;
    lost.silence = true;
    sim.InjectFault(lost);
    ASSERT_TRUE(host.WaitFor([&] { return host.State() != 2; }, "the read-out's end"));
    EXPECT_EQ(host.State(), 9);
    EXPECT_EQ(UserPos(sim), 10u);
    // the next read-out reads them all
    host.StartReadOut();
    ASSERT_TRUE(host.WaitForState(255));
    EXPECT_EQ(UserPos(sim), 110u);

    host.Dispose();
    std::string expected(500000, '\0');
    batch.Put(expected);
    more.Put(expected);
    const std::string file = ReadFile(HistoryFile());
    ASSERT_EQ(file.size(), expected.size());
    EXPECT_TRUE(file == expected) << "the history file differs from the station's records";
}

TEST_F(HistoryEndToEnd, ATimedOutOrInterruptedReadOutLeavesTheStationsPositionForTheNext) {
    // 100 new records from record 100: reads of 192 bytes from records 100, 119, 138, 157 and
    // 176 and one of 40 bytes from record 196.
    ASSERT_TRUE(sim.SetHistoryTop(kStation, 100));
    ASSERT_TRUE(sim.SetHistoryUserPos(kStation, 1, 100));
    const Batch batch{100, 100, 7, 1000, 10, 0.25f};
    batch.Append(sim);
    const std::vector<std::uint32_t> reads = {100, 119, 138, 157, 176, 196};

    // Reads that time out stay in the queue (they are retried), so the read-out's own time-out
    // ends it.
    Host host(sim, "NUM_MORVEL_ERROR 200");
    ASSERT_TRUE(host.initialised());
    ASSERT_TRUE(host.Connect());
    auto slowAnswers = [&] {
        zksim::Fault slow;
        slow.station = kStation;
        slow.count = -1;
        slow.delayMs = 300;
        sim.InjectFault(slow);
    };
    // Every answer the station owes has been sent.
    auto allAnswered = [&] {
        const zksim::SimStatus st = sim.Status();
        return st.requests == st.answers + st.silenced;
    };

    // 1. The station falls silent once the records are being read: the read-out times out.
    host.PutDouble(kHdbTimeout, 4.0);
    slowAnswers();
    host.StartReadOut();
    ASSERT_TRUE(host.WaitForState(2));
    sim.ClearFaults();
    zksim::Fault silence;
    silence.station = kStation;
    silence.count = -1;
    silence.silence = true;
    sim.InjectFault(silence);
    ASSERT_TRUE(host.WaitForState(9));
    EXPECT_EQ(UserPos(sim), 100u);
    sim.ClearFaults();

    // 2. The station falls silent again; the host interrupts the read-out. (Interrupted while
    // an answer is still on its way, the late answer would be taken for the answer to the next
    // request.)
    slowAnswers();
    host.PutDouble(kHdbTimeout, 600.0);
    host.StartReadOut();
    ASSERT_TRUE(host.WaitForState(2));
    sim.ClearFaults();
    sim.InjectFault(silence);
    const std::uint64_t silenced = sim.Status().silenced;
    ASSERT_TRUE(host.WaitFor([&] { return sim.Status().silenced > silenced; }, "a read without an answer"));
    ASSERT_TRUE(host.WaitFor(allAnswered, "the answers on their way"));
    host.Put(kHdbStop, kBool, 1);
    EXPECT_EQ(host.State(), 7);
    sim.ClearFaults();
    EXPECT_EQ(UserPos(sim), 100u);

    // 3. The next read-out starts from the position the station kept and completes.
    const std::size_t before = RecordsAsked(sim).size();
    host.Put(kHdbStart, kBool, 1);  // an interrupted read-out may be started again at once
    ASSERT_TRUE(host.WaitForState(255));
    EXPECT_EQ(UserPos(sim), 200u);
    const std::vector<std::uint32_t> asked = RecordsAsked(sim);
    EXPECT_EQ(std::vector<std::uint32_t>(asked.begin() + static_cast<std::ptrdiff_t>(before), asked.end()), reads);

    host.Dispose();
    std::string expected(500000, '\0');
    batch.Put(expected);
    EXPECT_TRUE(ReadFile(HistoryFile()) == expected);
}

}  // namespace
}  // namespace zktest
