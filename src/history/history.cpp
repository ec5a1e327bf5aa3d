// Station history buffers, their files and the history read-out.
//
// A station of the TL2 line keeps a ring of 50 000 ten-byte records (a 16-bit word, a time
// stamp in seconds since 1.1.2000 and an IEEE single) at station addresses F00000..F7A11F.
// The driver mirrors the ring in one buffer per station, fills it by a read-out that the host
// starts, lets the host browse it record by record and keeps it in one file per station.
//
// The read-out: the position query (queued by the host's channel) answers with the station's
// capacity, item 13, Top (the next record the station fills) and UserPos (the first record
// not yet read for the archive); the records UserPos..Top-1 are read along the ring in reads
// of at most 192 bytes; when none is left and every one of them brought its data, Top is
// written back as the archive's new UserPos, and only the station's confirmation makes Top the
// context's read position. A read that left the queue without its data (given up after answer
// time-outs) ends the read-out as its time-out does, without the write-back.
#include "history/history.h"

#include <algorithm>
#include <cstring>

#include "base/format.h"
#include "base/texts.h"
#include "diag/log.h"
#include "host/commands.h"
#include "host/queues.h"

namespace zk {

namespace {

constexpr std::uint8_t kInvalidMarker = 0xBE;
constexpr std::uint8_t kItemGroup = 0xBA;  // 186: the station's history items 186/1/x
constexpr std::uint8_t kItemTop = 14;
constexpr std::uint8_t kItemThirteen = 13;

bool IsInvalid(const std::uint8_t v[4]) {
    return v[0] == kInvalidMarker && v[1] == kInvalidMarker && v[2] == kInvalidMarker && v[3] == kInvalidMarker;
}

std::int32_t Signed32(const std::uint8_t v[4]) {
    const std::uint32_t u = static_cast<std::uint32_t>(v[0]) | static_cast<std::uint32_t>(v[1]) << 8 |
                            static_cast<std::uint32_t>(v[2]) << 16 | static_cast<std::uint32_t>(v[3]) << 24;
    return static_cast<std::int32_t>(u);
}

// A record position of the ring (the station's UserPos and Top).
bool IsRingPosition(std::int32_t p) { return p >= 0 && p < static_cast<std::int32_t>(kHdbRecords); }

StationRecord* StationSlot(DriverContext& ctx, int station) {
    if (station < 1 || station > kMaxStations) return nullptr;
    return ctx.Stations[static_cast<std::size_t>(station)].get();
}

std::string Printf(std::string_view format, std::int32_t a) { return Fmt(std::string(format).c_str(), a); }

std::string Printf(std::string_view format, std::int32_t a, std::int32_t b) {
    return Fmt(std::string(format).c_str(), a, b);
}

int DaysInMonth(int month, int year) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && year % 4 == 0 ? 29 : kDays[month - 1];
}

// Queues the reads of station addresses first..last.
void QueueSegment(DriverContext& ctx, std::uint8_t station, std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t d = first; d <= last;) {
        const std::uint32_t count = std::min(last - d + 1, kHdbReadChunk);
        const char countByte = static_cast<char>(count);
        AppendRequest(ctx.ReadQueue, station, static_cast<std::int32_t>(d >> 16), static_cast<std::uint16_t>(d & 0xFFFF),
                      std::string_view(&countByte, 1), nullptr);
        ctx.HdbAwaited[d] = count;
        d += count;
    }
}

// Ends a read-out that cannot complete: what has arrived stays, the station's read position is
// not written, the queues and the line are cleared.
void AbandonReadOut(DriverContext& ctx) {
    ctx.HdbReadState = kHdbTimedOut;
    ctx.PendingEventText.assign(text::kHdbTimeout);
    ctx.HdbAwaited.clear();
    PortActions port;
    ClearQueues(ctx, port);
    if (port.Purge) PurgeLine(ctx.Line);  // the worker's purge goes out with its next flush
}

bool SaveStation(DriverContext& ctx, int station) {
    StationRecord* s = StationSlot(ctx, station);
    if (!s || !s->Hdb) return true;
    const std::string path = HistoryFilePath(ctx, station);
    if (WriteHistoryFile(path, s->Hdb.get(), kHdbBytes)) return true;
    WriteLog(ctx, "SaveHistory", "cannot write " + path + ", the old file is kept");
    return false;
}

}  // namespace

std::string HistoryFilePath(const DriverContext& ctx, int station, const std::string& directory) {
    std::string_view name = ctx.DriverName.view();
    name = name.substr(0, name.find('\0'));
    return directory + std::string(name) + std::to_string(station) + ".hdb";
}

std::string HistoryFilePath(const DriverContext& ctx, int station) {
    return HistoryFilePath(ctx, station, HistoryDirectory());
}

void LoadHistory(DriverContext& ctx, int station) {
    StationRecord* s = StationSlot(ctx, station);
    if (!s) return;
    auto buffer = std::make_unique<std::uint8_t[]>(kHdbBytes);
    if (ReadHistoryFile(HistoryFilePath(ctx, station), buffer.get()) == HistoryFileRead::Missing) return;
    s->Hdb = std::move(buffer);
}

void SaveHistory(DriverContext& ctx, int station) { SaveStation(ctx, station); }

int SaveAllHistories(DriverContext& ctx) {
    int failed = 0;
    for (int n = 1; n <= kMaxStations; ++n)
        if (!SaveStation(ctx, n)) ++failed;
    return failed;
}

HistoryDateTime HistoryTime(std::uint32_t seconds) {
    HistoryDateTime t;
    t.Hour = static_cast<std::uint16_t>(seconds % 86400 / 3600);
    t.Minute = static_cast<std::uint16_t>(seconds % 3600 / 60);
    t.Second = static_cast<std::uint16_t>(seconds % 60);
    // Whole years, then whole months, then days; every year divisible by 4 is a leap year
    // (as the stations count), 2100 included.
    std::uint32_t days = seconds / 86400;
    int year = 2000;
    for (;;) {
        const std::uint32_t length = year % 4 == 0 ? 366 : 365;
        if (days < length) break;
        days -= length;
        ++year;
    }
    int month = 1;
    for (;;) {
        const auto length = static_cast<std::uint32_t>(DaysInMonth(month, year));
        if (days < length) break;
        days -= length;
        ++month;
    }
    t.Day = static_cast<std::uint16_t>(days + 1);
    t.Month = static_cast<std::uint16_t>(month);
    t.Year = static_cast<std::uint16_t>(year);
    return t;
}

const std::uint8_t* BrowsedHistoryRecord(const DriverContext& ctx) {
    if (ctx.HdbStation < 1 || ctx.HdbStation > ctx.StationCount || ctx.HdbStation > kMaxStations) return nullptr;
    const StationRecord* s = ctx.Stations[static_cast<std::size_t>(ctx.HdbStation)].get();
    if (!s || !s->Hdb || ctx.HdbFlag.load() || ctx.HdbUserPos >= kHdbRecords) return nullptr;
    return s->Hdb.get() + static_cast<std::size_t>(ctx.HdbUserPos) * kHdbRecordSize;
}

void ShowHistoryRecord(DriverContext& ctx) {
    const std::uint8_t* record = BrowsedHistoryRecord(ctx);
    if (!record) return;
    const auto stamp = static_cast<std::uint32_t>(Signed32(record + 2));
    const HistoryDateTime t = HistoryTime(stamp);
    ctx.HdbDate[0] = t.Day;
    ctx.HdbDate[1] = t.Month;
    ctx.HdbDate[2] = t.Year;
    ctx.HdbDate[3] = t.Hour;
    ctx.HdbDate[4] = t.Minute;
    ctx.HdbDate[5] = t.Second;
}

void QueueHistoryReads(DriverContext& ctx, int station, std::int32_t from, std::int32_t to) {
    // Positions outside the ring would address memory beyond the history area.
    if (station < 1 || station > kMaxStations) return;
    if (!IsRingPosition(from) || to < 0 || to > static_cast<std::int32_t>(kHdbRecords)) return;
    const auto st = static_cast<std::uint8_t>(station);
    constexpr auto kRecord = static_cast<std::uint32_t>(kHdbRecordSize);
    ctx.HdbAwaited.clear();
    const std::uint32_t first = kHdbAreaStart + kRecord * static_cast<std::uint32_t>(from);
    const std::uint32_t stop = kHdbAreaStart + kRecord * static_cast<std::uint32_t>(to);  // one past
    if (to < from) {
        QueueSegment(ctx, st, first, kHdbAreaEnd);
        if (to > 0) QueueSegment(ctx, st, kHdbAreaStart, stop - 1);
    } else if (to > from) {
        QueueSegment(ctx, st, first, stop - 1);
    }
}

void HistoryPositionItem(DriverContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a,
                         const std::uint8_t value[4], int& counted, Str255& eventText) {
    if (ctx.HdbReadState != kHdbPositionQuery) return;
    const bool invalid = IsInvalid(value);
    const std::int32_t v = Signed32(value);
    if (d == 0 && b == 0 && a == 1) {
        ++counted;
        if (invalid) ctx.HdbReadState = kHdbPositionFailed;
        else ctx.HdbCapacity = v == 1 ? 50000 : 6500;
    }
    if (d == kItemGroup && b == 1 && a == kItemThirteen) {
        ++counted;
        if (invalid) ctx.HdbReadState = kHdbPositionFailed;
        else ctx.HdbItem13 = v;
    }
    // A position outside the ring is as useless as the invalid marker: reading from it would
    // leave the history area.
    if (d == kItemGroup && b == 1 && a == kItemTop) {
        ++counted;
        if (invalid || !IsRingPosition(v)) ctx.HdbReadState = kHdbPositionFailed;
        else ctx.HdbTop = v;
    }
    if (d == kItemGroup && b == 1 && a == ctx.HdbNumber + 4) {
        ++counted;
        if (invalid || !IsRingPosition(v)) ctx.HdbReadState = kHdbPositionFailed;
        else ctx.HdbWritePos = v;
    }
    if (ctx.HdbReadState == kHdbPositionFailed || counted != 4) return;
    if (ctx.HdbWritePos == ctx.HdbTop) {
        ctx.HdbReadState = kHdbFinished;
        eventText.assign(text::kHdbNothingNew);
        return;
    }
    ctx.HdbReadState = kHdbReading;
    QueueHistoryReads(ctx, ctx.HdbStation, ctx.HdbWritePos, ctx.HdbTop);
    eventText.assign(Printf(text::kFmtHdbPositions, ctx.HdbWritePos, ctx.HdbTop));
    ctx.HdbReadTime = 0.0;
}

void HistoryDataAnswer(DriverContext& ctx, int station, std::uint8_t kind, std::uint16_t address,
                       const std::uint8_t* data, std::size_t count) {
    if (ctx.HdbReadState != kHdbReading || kind < kHdbFirstKind || kind > kHdbLastKind) return;
    StationRecord* s = StationSlot(ctx, station);
    if (!s) return;
    ctx.HdbFlag = true;
    if (!s->Hdb) s->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
    const std::size_t offset = static_cast<std::size_t>(kind - kHdbFirstKind) * 65536 + address;
    if (offset < kHdbBytes && data && count > 0) std::memcpy(s->Hdb.get() + offset, data, std::min(count, kHdbBytes - offset));
    ctx.HdbFlag = false;
    const auto awaited = ctx.HdbAwaited.find(static_cast<std::uint32_t>(kind) << 16 | address);
    if (awaited != ctx.HdbAwaited.end() && data && count >= awaited->second) ctx.HdbAwaited.erase(awaited);
}

void HistoryWriteBackItem(DriverContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a, Str255& eventText) {
    if (ctx.HdbReadState != kHdbWriteBack) return;
    if (d != kItemGroup || b != 1 || a != ctx.HdbNumber + 4) return;
    ctx.HdbWritePos = ctx.HdbTop;
    ctx.HdbReadState = kHdbFinished;
    eventText.assign(text::kHdbWriteBackDone);
    ShowHistoryRecord(ctx);
}

void HistoryTick(DriverContext& ctx, double elapsedSeconds) {
    if (ctx.HdbReadState != kHdbReading) return;
    ctx.HdbReadTime += elapsedSeconds;
    const bool readsLeft = HasKindInRange(ctx.ReadQueue, kHdbFirstKind, kHdbLastKind);
    if (!readsLeft && !ctx.HdbAwaited.empty()) {
        // A read left the queue without its data (given up after answer time-outs): the
        // station must not be told that its records were read. The read-out ends as on its
        // time-out, and the next one starts from the same position.
        WriteLog(ctx, "HDB", "history reads lost: " + std::to_string(ctx.HdbAwaited.size()));
        AbandonReadOut(ctx);
        return;
    }
    if (!readsLeft) {
        // Every record has been read: the station's read position of the archive moves on to
        // Top. The context follows when the station confirms the write.
        ctx.HdbReadState = kHdbWriteBack;
        ctx.PendingEventText.assign(Printf(text::kFmtHdbComplete, ctx.HdbTop));
        if (ctx.HdbStation >= 1 && ctx.HdbStation <= kMaxStations) {
            const auto top = static_cast<std::uint32_t>(ctx.HdbTop);
            const char data[7] = {static_cast<char>(kItemGroup),        1,
                                  static_cast<char>(ctx.HdbNumber + 4), static_cast<char>(top & 0xFF),
                                  static_cast<char>(top >> 8 & 0xFF),   static_cast<char>(top >> 16 & 0xFF),
                                  static_cast<char>(top >> 24 & 0xFF)};
            AppendRequest(ctx.WriteQueue, static_cast<std::uint8_t>(ctx.HdbStation), kKindChannelWrite, 0,
                          std::string_view(data, sizeof data), nullptr);
        }
        return;  // a complete read-out is not abandoned by a time-out in the same tick
    }
    if (ctx.HdbReadTime > ctx.HdbReadTimeout) AbandonReadOut(ctx);
}

}  // namespace zk
