// The history read-out: record times, the reads along the ring, the position answer, the data
// answers, completion with the write-back of the new position, its confirmation, the time-out
// and browsing.
#include <gtest/gtest.h>

#include <cstdlib>

#include <array>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/cp1250.h"
#include "config/defaults.h"
#include "history/history.h"
#include "host/records.h"
#include "protocol/queues.h"
#include "support/temp_dir.h"

using namespace zk;

namespace {

struct Read {
    std::int32_t kind;
    std::uint16_t word;
    unsigned count;
    bool operator==(const Read&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Read& r) {
    return os << "{" << r.kind << ", 0x" << std::hex << r.word << std::dec << ", " << r.count << "}";
}

std::vector<Read> Reads(const RequestQueue& q) {
    std::vector<Read> out;
    for (const RequestNode* n = q.Head; n; n = n->Next) {
        EXPECT_EQ(n->Data.size(), 1u);
        out.push_back({n->Kind, n->Word, n->Data.empty() ? 0u : n->Data.byte(0)});
    }
    return out;
}

std::uint32_t StationAddress(const Read& r) { return static_cast<std::uint32_t>(r.kind) << 16 | r.word; }

std::array<std::uint8_t, 4> Le(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u >> 16),
            static_cast<std::uint8_t>(u >> 24)};
}

constexpr std::array<std::uint8_t, 4> kInvalid = {0xBE, 0xBE, 0xBE, 0xBE};

class Readout : public ::testing::Test {
protected:
    void SetUp() override {
        // The history files of these tests go to a directory of their own.
        if (const char* old = std::getenv("ZKDRV_HISTORY_DIR")) savedDir = old, hadDir = true;
        ::setenv("ZKDRV_HISTORY_DIR", dir.file("").c_str(), 1);
        ResetContext(ctx);
        ctx.StationCount = 3;
        ctx.History.HdbStation = 2;
        ctx.History.HdbNumber = 3;  // archive 3: its read position is item 186/1/7
    }

    // The four items of a position answer, in the order the query asks for them; a value of
    // nullopt stands for the invalid marker.
    void PositionAnswer(std::optional<std::int32_t> capacity, std::optional<std::int32_t> item13,
                        std::optional<std::int32_t> top, std::optional<std::int32_t> userPos) {
        int counted = 0;
        const struct {
            std::uint8_t d, b, a;
            std::optional<std::int32_t> v;
        } items[] = {{0, 0, 1, capacity}, {0xBA, 1, 13, item13}, {0xBA, 1, 14, top},
                     {0xBA, 1, static_cast<std::uint8_t>(ctx.History.HdbNumber + 4), userPos}};
        for (const auto& item : items) {
            if (ctx.History.HdbReadState != zk::HdbReadState::PositionQuery) break;  // the decoder hands items over only in state 5
            const auto v = item.v ? Le(*item.v) : kInvalid;
            HistoryPositionItem(HistoryOf(ctx), item.d, item.b, item.a, v.data(), counted, eventText);
        }
    }

    void TearDown() override {
        if (hadDir) ::setenv("ZKDRV_HISTORY_DIR", savedDir.c_str(), 1);
        else ::unsetenv("ZKDRV_HISTORY_DIR");
    }

    zktest::TempDir dir;
    std::string savedDir;
    bool hadDir = false;
    DriverContext ctx;
    Str255 eventText;
};

}  // namespace

TEST_F(Readout, ACompletedReadOutIsWrittenToTheStationsFileAtOnce) {
    ctx.DriverName.assign("D");
    ctx.History.HdbReadState = zk::HdbReadState::Reading;
    ctx.History.HdbWritePos = 0;
    ctx.History.HdbTop = 1;
    const std::string file = HistoryFilePath("D", 2, dir.file(""));
    AppendRequest(ctx.ReadQueue, 2, 240, 0, std::string(1, '\x0A'), nullptr);
    const std::uint8_t record[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    HistoryDataAnswer(HistoryOf(ctx), 2, 240, 0, record, sizeof record);
    HistoryTick(HistoryOf(ctx), 0.5);  // the read is still queued: not complete
    EXPECT_FALSE(zktest::Exists(file));
    EmptyQueue(ctx.ReadQueue);  // the read has been answered and dropped
    HistoryTick(HistoryOf(ctx), 0.5);
    ASSERT_EQ(ctx.History.HdbReadState, zk::HdbReadState::WriteBack);
    const std::string content = zktest::ReadFile(file);
    ASSERT_EQ(content.size(), 500000u);
    EXPECT_EQ(content.substr(0, 10), std::string(reinterpret_cast<const char*>(record), 10));
}

TEST(HistoryTime, DatesAndTimesOfTimeStamps) {
    struct Case {
        std::uint32_t seconds;
        HistoryDateTime expected;  // day, month, year, hour, minute, second
    };
    const Case cases[] = {
        {0, {1, 1, 2000, 0, 0, 0}},
        {86400u * 59, {29, 2, 2000, 0, 0, 0}},
        {86400u * 60 - 1, {29, 2, 2000, 23, 59, 59}},
        {86400u * 60, {1, 3, 2000, 0, 0, 0}},
        {86400u * 365 + 3661, {31, 12, 2000, 1, 1, 1}},
        {86400u * 366, {1, 1, 2001, 0, 0, 0}},
        {86400u * (366 + 59), {1, 3, 2001, 0, 0, 0}},   // 2001 has no 29 February
        {86400u * 36583, {28, 2, 2100, 0, 0, 0}},
        {86400u * 36584, {29, 2, 2100, 0, 0, 0}},       // every fourth year leaps, 2100 too
        {86400u * 36585, {1, 3, 2100, 0, 0, 0}},
        {4294967295u, {6, 2, 2136, 6, 28, 15}},         // the last time stamp there is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        const HistoryDateTime t = HistoryTime(c.seconds);
        EXPECT_EQ(t.Day, c.expected.Day);
        EXPECT_EQ(t.Month, c.expected.Month);
        EXPECT_EQ(t.Year, c.expected.Year);
        EXPECT_EQ(t.Hour, c.expected.Hour);
        EXPECT_EQ(t.Minute, c.expected.Minute);
        EXPECT_EQ(t.Second, c.expected.Second);
    }
}

TEST_F(Readout, ReadsFollowTheRing) {
    struct Case {
        std::int32_t from, to;
        std::vector<Read> reads;
    };
    const Case cases[] = {
        {49990, 5, {{247, 0xA0BC, 100}, {240, 0x0000, 50}}},
        {0, 100, {{240, 0, 192}, {240, 192, 192}, {240, 384, 192}, {240, 576, 192}, {240, 768, 192}, {240, 960, 40}}},
        {49999, 0, {{247, 0xA116, 10}}},  // up to the end of the area, nothing from its start
        {7, 7, {}},                     // nothing new
        {6553, 6554, {{240, 0xFFFA, 10}}},
        {-1, 5, {}},                    // positions outside the ring address nothing
        {0, 50001, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
        EmptyQueue(ctx.ReadQueue);
        QueueHistoryReads(HistoryOf(ctx), 2, c.from, c.to);
        EXPECT_EQ(Reads(ctx.ReadQueue), c.reads);
        for (const RequestNode* n = ctx.ReadQueue.Head; n; n = n->Next) EXPECT_EQ(n->Station, 2);
    }
}

TEST_F(Readout, ReadsCoverExactlyTheNewRecordsInOrder) {
    const std::pair<std::int32_t, std::int32_t> ranges[] = {{0, 50000}, {1, 0}, {49999, 49998}, {12345, 3}, {3, 12345}};
    for (const auto& [from, to] : ranges) {
        SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
        EmptyQueue(ctx.ReadQueue);
        QueueHistoryReads(HistoryOf(ctx), 1, from, to);
        const std::vector<Read> reads = Reads(ctx.ReadQueue);
        ASSERT_FALSE(reads.empty());
        std::uint32_t expected = 0xF00000 + 10u * static_cast<std::uint32_t>(from);
        std::uint64_t total = 0;
        for (const Read& r : reads) {
            ASSERT_GE(r.count, 1u);
            ASSERT_LE(r.count, 192u);
            if (StationAddress(r) != expected) {
                EXPECT_EQ(StationAddress(r), 0xF00000u) << "only a wrap may break the sequence";
                EXPECT_EQ(expected, 0xF7A120u);
            }
            expected = StationAddress(r) + r.count;
            EXPECT_LE(expected - 1, 0xF7A11Fu);
            total += r.count;
        }
        EXPECT_EQ(expected, 0xF00000 + 10u * static_cast<std::uint32_t>(to == 0 ? 50000 : to));
        EXPECT_EQ(total, 10u * static_cast<std::uint64_t>((to - from + 50000) % 50000 == 0 ? 50000 : (to - from + 50000) % 50000));
    }
}

TEST_F(Readout, NothingNewEndsAtOnce) {
    ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
    PositionAnswer(1, 77, 4321, 4321);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Finished);
    EXPECT_EQ(eventText.view(), u8" HDB: pozice vyčteny. Nic nového."_cp);
    EXPECT_EQ(ctx.ReadQueue.Count, 0u);
    EXPECT_EQ(ctx.History.HdbCapacity, 50000);
    EXPECT_EQ(ctx.History.HdbItem13, 77);
    EXPECT_EQ(ctx.History.HdbTop, 4321);
    EXPECT_EQ(ctx.History.HdbWritePos, 4321);
}

TEST_F(Readout, PositionsStartTheReads) {
    ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
    ctx.History.HdbReadTime = 55.0;
    PositionAnswer(2, -3, 5, 49990);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Reading);
    EXPECT_EQ(eventText.view(), u8"HDB: pozice vyčteny (UserPos=49990, Top=5)."_cp);
    EXPECT_EQ(ctx.History.HdbCapacity, 6500);
    EXPECT_EQ(ctx.History.HdbItem13, -3);
    EXPECT_EQ(ctx.History.HdbReadTime, 0.0);
    EXPECT_EQ(Reads(ctx.ReadQueue), (std::vector<Read>{{247, 0xA0BC, 100}, {240, 0, 50}}));
    for (const RequestNode* n = ctx.ReadQueue.Head; n; n = n->Next) EXPECT_EQ(n->Station, 2);
}

TEST_F(Readout, AnUnusablePositionValueStopsTheReadout) {
    struct Case {
        const char* what;
        std::optional<std::int32_t> capacity, item13, top, userPos;
    };
    const Case cases[] = {
        {"capacity invalid", std::nullopt, 0, 10, 5},
        {"item 13 invalid", 1, std::nullopt, 10, 5},
        {"Top invalid", 1, 0, std::nullopt, 5},
        {"UserPos invalid", 1, 0, 10, std::nullopt},
        {"Top beyond the ring", 1, 0, 50000, 5},
        {"UserPos negative", 1, 0, 10, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EmptyQueue(ctx.ReadQueue);
        eventText.assign("before");
        ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
        PositionAnswer(c.capacity, c.item13, c.top, c.userPos);
        EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::PositionFailed);
        EXPECT_EQ(ctx.ReadQueue.Count, 0u);
        EXPECT_EQ(eventText.view(), "before");
    }
}

TEST_F(Readout, OnlyThePositionItemsCountAndOnlyWhileTheQueryIsOut) {
    int counted = 0;
    const auto v = Le(9);
    ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
    HistoryPositionItem(HistoryOf(ctx), 0xBA, 1, 15, v.data(), counted, eventText);  // another archive's position
    HistoryPositionItem(HistoryOf(ctx), 1, 2, 3, v.data(), counted, eventText);
    EXPECT_EQ(counted, 0);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::PositionQuery);

    ctx.History.HdbReadState = zk::HdbReadState::Reading;
    HistoryPositionItem(HistoryOf(ctx), 0xBA, 1, 14, v.data(), counted, eventText);
    EXPECT_EQ(counted, 0);
    EXPECT_EQ(ctx.History.HdbTop, 0);
}

TEST_F(Readout, DataAnswersLandAtTheirRecordsAndStopAtTheBufferEnd) {
    ctx.History.HdbReadState = zk::HdbReadState::Reading;
    ASSERT_EQ(ctx.Stations[3]->Hdb, nullptr);
    std::vector<std::uint8_t> data(192);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);

    // The first answer gives the station a (cleared) buffer.
    HistoryDataAnswer(HistoryOf(ctx), 3, 241, 0x0010, data.data(), 20);
    ASSERT_NE(ctx.Stations[3]->Hdb, nullptr);
    const std::uint8_t* buf = ctx.Stations[3]->Hdb.get();
    EXPECT_EQ(std::memcmp(buf + 65536 + 16, data.data(), 20), 0);
    EXPECT_EQ(buf[65536 + 15], 0);
    EXPECT_EQ(buf[65536 + 36], 0);

    // Record 49 999 starts at 499 990: an answer of 192 bytes from there keeps its first 10.
    HistoryDataAnswer(HistoryOf(ctx), 3, 247, 0xA116, data.data(), 192);
    EXPECT_EQ(std::memcmp(buf + 499990, data.data(), 10), 0);
    // Addresses past the area's end copy nothing (the sanitizers watch the buffer's bounds).
    HistoryDataAnswer(HistoryOf(ctx), 3, 247, 0xA120, data.data(), 192);
    HistoryDataAnswer(HistoryOf(ctx), 3, 247, 0xFFFF, data.data(), 192);
    EXPECT_FALSE(ctx.History.HdbFlag);

    // Kinds outside the history and answers outside a read-out store nothing.
    HistoryDataAnswer(HistoryOf(ctx), 1, 248, 0, data.data(), 10);
    EXPECT_EQ(ctx.Stations[1]->Hdb, nullptr);
    ctx.History.HdbReadState = zk::HdbReadState::Interrupted;
    HistoryDataAnswer(HistoryOf(ctx), 1, 240, 0, data.data(), 10);
    EXPECT_EQ(ctx.Stations[1]->Hdb, nullptr);
}

TEST_F(Readout, CompletionWritesBackTopOnce) {
    ctx.History.HdbReadState = zk::HdbReadState::Reading;
    ctx.History.HdbWritePos = 100;
    ctx.History.HdbTop = 24580;  // 0x6004
    AppendRequest(ctx.ReadQueue, 2, ReqChannelRead, 0, "abc", nullptr);  // not a history read
    HistoryTick(HistoryOf(ctx), 0.5);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::WriteBack);
    EXPECT_EQ(ctx.PendingEventText.view(), u8"HDB: čtení dokončeno -> zápis nové \"UserPos\" (24580)"_cp);
    ASSERT_EQ(ctx.WriteQueue.Count, 1u);
    const RequestNode& w = *ctx.WriteQueue.Head;
    EXPECT_EQ(w.Station, 2);
    EXPECT_EQ(w.Kind, 15);
    EXPECT_EQ(w.Word, 0);
    EXPECT_EQ(w.Key, nullptr);
    EXPECT_EQ(w.Data.view(), std::string_view("\xBA\x01\x07\x04\x60\x00\x00", 7));
    EXPECT_EQ(ctx.History.HdbWritePos, 100);  // taken over only when the station confirms

    ctx.PendingEventText.clear();
    HistoryTick(HistoryOf(ctx), 0.5);
    HistoryTick(HistoryOf(ctx), 1000.0);
    EXPECT_EQ(ctx.WriteQueue.Count, 1u);
    EXPECT_TRUE(ctx.PendingEventText.empty());
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::WriteBack);
}

TEST_F(Readout, ReadsLeftKeepTheReadoutGoingUntilItsTimeout) {
    ctx.History.HdbReadState = zk::HdbReadState::Reading;
    ctx.History.HdbReadTimeout = 10.0;
    ctx.History.HdbWritePos = 100;
    ctx.History.HdbTop = 300;
    QueueHistoryReads(HistoryOf(ctx), 2, 100, 300);
    AppendRequest(ctx.WriteQueue, 2, ReqChannelWrite, 0, "xyzabcd", nullptr);
    ctx.Scheduler.TxState = zk::TxState::Receiving;
    ctx.Framing.LastTxMessage.assign("last");
    ctx.Framing.RxFrame.assign("frame");
    ctx.Framing.PrefixWindow.assign("pre");

    HistoryTick(HistoryOf(ctx), 6.0);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Reading);
    EXPECT_EQ(ctx.History.HdbReadTime, 6.0);
    EXPECT_TRUE(ctx.PendingEventText.empty());
    HistoryTick(HistoryOf(ctx), 4.0);  // exactly the time-out: not yet beyond it
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Reading);

    HistoryTick(HistoryOf(ctx), 0.01);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::TimedOut);
    EXPECT_EQ(ctx.PendingEventText.view(), u8"HDB: přerušeno čtení - timeout"_cp);
    EXPECT_EQ(ctx.ReadQueue.Count, 0u);
    EXPECT_EQ(ctx.WriteQueue.Count, 0u);
    EXPECT_TRUE(ctx.Line.PurgeRequested);
    EXPECT_EQ(ctx.Scheduler.TxState, zk::TxState::Choose);
    EXPECT_TRUE(ctx.Framing.LastTxMessage.empty());
    EXPECT_TRUE(ctx.Framing.RxFrame.empty());
    EXPECT_TRUE(ctx.Framing.PrefixWindow.empty());
    EXPECT_EQ(ctx.History.HdbWritePos, 100);  // the next read-out starts from the same position

    ctx.PendingEventText.clear();
    HistoryTick(HistoryOf(ctx), 100.0);
    EXPECT_TRUE(ctx.PendingEventText.empty());
    EXPECT_EQ(ctx.WriteQueue.Count, 0u);
}

TEST_F(Readout, TheLastReadLeavingBeforeTheTimeoutCompletesTheReadout) {
    ctx.History.HdbReadState = zk::HdbReadState::Reading;
    ctx.History.HdbReadTimeout = 1.0;
    ctx.History.HdbTop = 9;
    HistoryTick(HistoryOf(ctx), 5.0);  // nothing left to read, time-out passed in the same tick
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::WriteBack);
    EXPECT_EQ(ctx.WriteQueue.Count, 1u);
}

TEST_F(Readout, TheStationsConfirmationTakesOverThePosition) {
    ctx.History.HdbReadState = zk::HdbReadState::Reading;
    ctx.History.HdbWritePos = 10;
    ctx.History.HdbTop = 20;
    HistoryWriteBackItem(HistoryOf(ctx), 0xBA, 1, 7, eventText);  // no write-back out yet
    EXPECT_EQ(ctx.History.HdbWritePos, 10);
    ctx.History.HdbReadState = zk::HdbReadState::WriteBack;
    HistoryWriteBackItem(HistoryOf(ctx), 0xBA, 1, 13, eventText);  // another item
    HistoryWriteBackItem(HistoryOf(ctx), 0xBA, 2, 7, eventText);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::WriteBack);
    EXPECT_TRUE(eventText.empty());
    HistoryWriteBackItem(HistoryOf(ctx), 0xBA, 1, 7, eventText);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Finished);
    EXPECT_EQ(ctx.History.HdbWritePos, 20);
    EXPECT_EQ(eventText.view(), u8"HDB: zápis nové \"UserPos\" provedeno. "_cp);
}

TEST_F(Readout, BrowsingNeedsADefinedStationWithABufferAndNoCopyInProgress) {
    ctx.Stations[2]->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
    std::uint8_t* rec = ctx.Stations[2]->Hdb.get() + 10 * 49999;
    const auto stamp = Le(86400 * 366 + 3600 * 13 + 60 * 14 + 15);  // 1.1.2001 13:14:15
    std::memcpy(rec + 2, stamp.data(), 4);
    ctx.History.HdbUserPos = 49999;
    EXPECT_EQ(BrowsedHistoryRecord(HistoryOf(ctx)), rec);
    ShowHistoryRecord(HistoryOf(ctx));
    EXPECT_EQ(std::vector<std::uint16_t>(ctx.History.HdbDate, ctx.History.HdbDate + 6),
              (std::vector<std::uint16_t>{1, 1, 2001, 13, 14, 15}));

    struct Case {
        const char* what;
        void (*change)(DriverContext&);
    };
    const Case cases[] = {
        {"position beyond the ring", [](DriverContext& c) { c.History.HdbUserPos = 50000; }},
        {"copy in progress", [](DriverContext& c) { c.History.HdbFlag = true; }},
        {"station without a buffer", [](DriverContext& c) { c.History.HdbStation = 1; }},
        {"station not defined", [](DriverContext& c) { c.StationCount = 1; }},
        {"no station", [](DriverContext& c) { c.History.HdbStation = 0; }},
        {"station beyond the table", [](DriverContext& c) { c.History.HdbStation = 101; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DriverContext other;
        ResetContext(other);
        other.StationCount = 3;
        other.History.HdbStation = 2;
        other.History.HdbUserPos = 0;
        other.Stations[2]->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
        std::memcpy(other.Stations[2]->Hdb.get() + 2, stamp.data(), 4);
        ASSERT_NE(BrowsedHistoryRecord(HistoryOf(other)), nullptr);
        c.change(other);
        EXPECT_EQ(BrowsedHistoryRecord(HistoryOf(other)), nullptr);
        const std::uint16_t before[6] = {9, 9, 9, 9, 9, 9};
        std::memcpy(other.History.HdbDate, before, sizeof before);
        ShowHistoryRecord(HistoryOf(other));
        EXPECT_EQ(std::memcmp(other.History.HdbDate, before, sizeof before), 0);
    }
}

// A whole read-out as the decoder and the scheduler drive it: the position answer queues the
// reads, the station answers each of them, the completion writes Top back, the confirmation
// moves the position, and the next read-out starts where this one ended.
TEST_F(Readout, AWholeReadoutAroundTheRingEnd) {
    auto stationRecord = [](std::uint32_t n) {
        std::array<std::uint8_t, 10> r{};
        r[0] = static_cast<std::uint8_t>(n);
        r[1] = static_cast<std::uint8_t>(n >> 8);
        const auto stamp = Le(static_cast<std::int32_t>(1000 + n * 60));
        std::memcpy(r.data() + 2, stamp.data(), 4);
        r[6] = 0xAA;
        return r;
    };
    ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
    PositionAnswer(1, 0, 30, 49970);
    ASSERT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Reading);

    int served = 0;
    while (ctx.ReadQueue.Head) {
        const RequestNode& r = *ctx.ReadQueue.Head;
        const std::uint32_t address = static_cast<std::uint32_t>(r.Kind) << 16 | r.Word;
        std::vector<std::uint8_t> answer(r.Data.byte(0));
        for (std::size_t i = 0; i < answer.size(); ++i) {
            const std::uint32_t offset = address - 0xF00000 + static_cast<std::uint32_t>(i);
            answer[i] = stationRecord(offset / 10)[offset % 10];
        }
        HistoryDataAnswer(HistoryOf(ctx), r.Station, static_cast<std::uint8_t>(r.Kind), r.Word, answer.data(), answer.size());
        RemoveRequest(ctx.ReadQueue, ctx.ReadQueue.Head);
        HistoryTick(HistoryOf(ctx), 0.1);
        ++served;
        if (ctx.ReadQueue.Head) {
            EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Reading);
        }
    }
    EXPECT_EQ(served, 4);  // 300 bytes to the end (192 + 108), 300 from the start (192 + 108)
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::WriteBack);
    ASSERT_EQ(ctx.WriteQueue.Count, 1u);
    EXPECT_EQ(ctx.WriteQueue.Head->Data.view(), std::string_view("\xBA\x01\x07\x1E\x00\x00\x00", 7));

    const std::uint8_t* buf = ctx.Stations[2]->Hdb.get();
    for (std::uint32_t n : {49970u, 49999u, 0u, 29u}) {
        const auto want = stationRecord(n);
        EXPECT_EQ(std::memcmp(buf + 10 * n, want.data(), 10), 0) << n;
    }
    EXPECT_EQ(buf[10 * 30 + 6], 0);     // Top itself is not read
    EXPECT_EQ(buf[10 * 49969 + 6], 0);  // nor the record before UserPos

    ctx.History.HdbUserPos = 29;
    HistoryWriteBackItem(HistoryOf(ctx), 0xBA, 1, 7, eventText);
    EXPECT_EQ(ctx.History.HdbWritePos, 30);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Finished);
    const HistoryDateTime t = HistoryTime(1000 + 29 * 60);
    EXPECT_EQ(ctx.History.HdbDate[3], t.Hour);
    EXPECT_EQ(ctx.History.HdbDate[4], t.Minute);
    EXPECT_EQ(ctx.History.HdbDate[5], t.Second);

    // The station now reports UserPos = Top: nothing new.
    ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
    PositionAnswer(1, 0, 30, 30);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Finished);
}

// A read given up after answer time-outs leaves the queue without its data. The read-out must
// not complete: writing Top back would tell the station that records were read which never
// arrived. It ends as on its time-out; the next read-out reads everything from the same
// position, and a read answered twice (sent again after a late answer) does no harm.
TEST_F(Readout, AReadLostOnTheLineEndsTheReadoutWithoutAWriteBack) {
    auto serve = [&](int skipped, int twice) {
        int n = 0;
        while (ctx.ReadQueue.Head && ctx.History.HdbReadState == zk::HdbReadState::Reading) {
            const RequestNode& r = *ctx.ReadQueue.Head;
            const std::vector<std::uint8_t> answer(r.Data.byte(0), 0x5A);
            for (int k = 0; k < (n == twice ? 2 : n == skipped ? 0 : 1); ++k)
                HistoryDataAnswer(HistoryOf(ctx), r.Station, static_cast<std::uint8_t>(r.Kind), r.Word, answer.data(),
                                  answer.size());
            RemoveRequest(ctx.ReadQueue, ctx.ReadQueue.Head);
            HistoryTick(HistoryOf(ctx), 0.1);
            ++n;
        }
        return n;
    };
    ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
    PositionAnswer(1, 0, 300, 100);  // 2000 bytes: ten reads of 192 bytes and one of 80
    ASSERT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Reading);
    EXPECT_EQ(serve(1, -1), 11);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::TimedOut);
    EXPECT_EQ(ctx.PendingEventText.view(), u8"HDB: přerušeno čtení - timeout"_cp);
    EXPECT_EQ(ctx.WriteQueue.Count, 0u);
    EXPECT_EQ(ctx.History.HdbWritePos, 100);

    ctx.PendingEventText.clear();
    ctx.History.HdbReadState = zk::HdbReadState::PositionQuery;
    PositionAnswer(1, 0, 300, 100);
    ASSERT_EQ(ctx.History.HdbReadState, zk::HdbReadState::Reading);
    EXPECT_EQ(serve(-1, 3), 11);
    EXPECT_EQ(ctx.History.HdbReadState, zk::HdbReadState::WriteBack);
    ASSERT_EQ(ctx.WriteQueue.Count, 1u);
    EXPECT_EQ(ctx.WriteQueue.Head->Data.view(), std::string_view("\xBA\x01\x07\x2C\x01\x00\x00", 7));
}
