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
#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "diag/log.h"
#include "platform/platform.h"

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

StationRecord* StationSlot(const HistoryContext& ctx, int station) {
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
void QueueSegment(const HistoryContext& ctx, std::uint8_t station, std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t d = first; d <= last;) {
        const std::uint32_t count = std::min(last - d + 1, kHdbReadChunk);
        const char countByte = static_cast<char>(count);
        AppendRequest(ctx.ReadQueue, station, static_cast<std::int32_t>(d >> 16), static_cast<std::uint16_t>(d & 0xFFFF),
                      std::string_view(&countByte, 1), nullptr);
        ctx.History.HdbAwaited[d] = count;
        d += count;
    }
}

// Ends a read-out that cannot complete: what has arrived stays, the station's read position is
// not written, the queues and the line are cleared.
void AbandonReadOut(const HistoryContext& ctx) {
    ctx.History.HdbReadState = HdbReadState::TimedOut;
    ctx.PendingEventText.assign(text::kHdbTimeout);
    ctx.History.HdbAwaited.clear();
    if (ctx.ClearQueues) ctx.ClearQueues();
}

bool SaveStation(const HistoryContext& ctx, int station) {
    StationRecord* s = StationSlot(ctx, station);
    if (!s || !s->Hdb) return true;
    const std::string path = HistoryFilePath(ctx.DriverName.view(), station);
    if (WriteHistoryFile(path, s->Hdb.get(), kHdbBytes)) return true;
    WriteLog(ctx.Log, "SaveHistory", "cannot write " + path + ", the old file is kept");
    return false;
}

}  // namespace

std::string HistoryFilePath(std::string_view driverName, int station, const std::string& directory) {
    const std::string_view name = driverName.substr(0, driverName.find('\0'));
    return directory + std::string(name) + std::to_string(station) + ".hdb";
}

std::string HistoryFilePath(std::string_view driverName, int station) {
    return HistoryFilePath(driverName, station, HistoryDirectory());
}

bool ChooseHistoryStation(HistoryReadout& h, int station, int stationCount) {
    const bool taken = station >= 1 && station <= stationCount;
    if (taken) h.HdbStation = station;
    h.HdbReadState = taken ? HdbReadState::Chosen : HdbReadState::Idle;
    return taken;
}

bool ChooseHistoryArchive(HistoryReadout& h, int number) {
    const bool taken = number >= 1 && number <= 8;
    if (taken) h.HdbNumber = number;
    h.HdbReadState = taken ? HdbReadState::Chosen : HdbReadState::Idle;
    return taken;
}

bool StartHistoryReadOut(const HistoryContext& ctx) {
    HistoryReadout& h = ctx.History;
    switch (h.HdbReadState) {
        case HdbReadState::Start:
        case HdbReadState::Chosen:
        case HdbReadState::Interrupted:
        case HdbReadState::WriteBack:
        case HdbReadState::Finished: break;
        default: return false;  // a read-out is under way, or the last choice was out of range
    }
    h.HdbReadState = HdbReadState::PositionQuery;
    // The capacity (0/0/1), item 13, Top (14) and the archive's UserPos (archive + 4).
    std::string data("\x00\x00\x01\xBA\x01\x0D\xBA\x01\x0E\xBA\x01", 11);
    data.push_back(static_cast<char>(h.HdbNumber + 4));
    AppendRequest(ctx.ReadQueue, static_cast<std::uint8_t>(h.HdbStation), ReqChannelRead, 0, data, nullptr);
    return true;
}

bool InterruptHistoryReadOut(HistoryReadout& h) {
    if (h.HdbReadState != HdbReadState::Reading && h.HdbReadState != HdbReadState::PositionQuery) return false;
    h.HdbReadState = HdbReadState::Interrupted;
    return true;
}

void LoadHistory(const HistoryContext& ctx, int station) {
    StationRecord* s = StationSlot(ctx, station);
    if (!s) return;
    auto buffer = std::make_unique<std::uint8_t[]>(kHdbBytes);
    if (ReadHistoryFile(HistoryFilePath(ctx.DriverName.view(), station), buffer.get()) == HistoryFileRead::Missing) return;
    s->Hdb = std::move(buffer);
}

void SaveHistory(const HistoryContext& ctx, int station) { SaveStation(ctx, station); }

int SaveAllHistories(const HistoryContext& ctx) {
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

const std::uint8_t* BrowsedHistoryRecord(const HistoryContext& ctx) {
    if (ctx.History.HdbStation < 1 || ctx.History.HdbStation > ctx.StationCount || ctx.History.HdbStation > kMaxStations) return nullptr;
    const StationRecord* s = ctx.Stations[static_cast<std::size_t>(ctx.History.HdbStation)].get();
    if (!s || !s->Hdb || ctx.History.HdbFlag.load() || ctx.History.HdbUserPos >= kHdbRecords) return nullptr;
    return s->Hdb.get() + static_cast<std::size_t>(ctx.History.HdbUserPos) * kHdbRecordSize;
}

void ShowHistoryRecord(const HistoryContext& ctx) {
    const std::uint8_t* record = BrowsedHistoryRecord(ctx);
    if (!record) return;
    const auto stamp = static_cast<std::uint32_t>(Signed32(record + 2));
    const HistoryDateTime t = HistoryTime(stamp);
    ctx.History.HdbDate[0] = t.Day;
    ctx.History.HdbDate[1] = t.Month;
    ctx.History.HdbDate[2] = t.Year;
    ctx.History.HdbDate[3] = t.Hour;
    ctx.History.HdbDate[4] = t.Minute;
    ctx.History.HdbDate[5] = t.Second;
}

void QueueHistoryReads(const HistoryContext& ctx, int station, std::int32_t from, std::int32_t to) {
    // Positions outside the ring would address memory beyond the history area.
    if (station < 1 || station > kMaxStations) return;
    if (!IsRingPosition(from) || to < 0 || to > static_cast<std::int32_t>(kHdbRecords)) return;
    const auto st = static_cast<std::uint8_t>(station);
    constexpr auto kRecord = static_cast<std::uint32_t>(kHdbRecordSize);
    ctx.History.HdbAwaited.clear();
    const std::uint32_t first = kHdbAreaStart + kRecord * static_cast<std::uint32_t>(from);
    const std::uint32_t stop = kHdbAreaStart + kRecord * static_cast<std::uint32_t>(to);  // one past
    if (to < from) {
        QueueSegment(ctx, st, first, kHdbAreaEnd);
        if (to > 0) QueueSegment(ctx, st, kHdbAreaStart, stop - 1);
    } else if (to > from) {
        QueueSegment(ctx, st, first, stop - 1);
    }
}

void HistoryPositionItem(const HistoryContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a,
                         const std::uint8_t value[4], int& counted, Str255& eventText) {
    if (ctx.History.HdbReadState != HdbReadState::PositionQuery) return;
    const bool invalid = IsInvalid(value);
    const std::int32_t v = Signed32(value);
    if (d == 0 && b == 0 && a == 1) {
        ++counted;
        if (invalid) ctx.History.HdbReadState = HdbReadState::PositionFailed;
        else ctx.History.HdbCapacity = v == 1 ? 50000 : 6500;
    }
    if (d == kItemGroup && b == 1 && a == kItemThirteen) {
        ++counted;
        if (invalid) ctx.History.HdbReadState = HdbReadState::PositionFailed;
        else ctx.History.HdbItem13 = v;
    }
    // A position outside the ring is as useless as the invalid marker: reading from it would
    // leave the history area.
    if (d == kItemGroup && b == 1 && a == kItemTop) {
        ++counted;
        if (invalid || !IsRingPosition(v)) ctx.History.HdbReadState = HdbReadState::PositionFailed;
        else ctx.History.HdbTop = v;
    }
    if (d == kItemGroup && b == 1 && a == ctx.History.HdbNumber + 4) {
        ++counted;
        if (invalid || !IsRingPosition(v)) ctx.History.HdbReadState = HdbReadState::PositionFailed;
        else ctx.History.HdbWritePos = v;
    }
    if (ctx.History.HdbReadState == HdbReadState::PositionFailed || counted != 4) return;
    if (ctx.History.HdbWritePos == ctx.History.HdbTop) {
        ctx.History.HdbReadState = HdbReadState::Finished;
        eventText.assign(text::kHdbNothingNew);
        return;
    }
    ctx.History.HdbReadState = HdbReadState::Reading;
    QueueHistoryReads(ctx, ctx.History.HdbStation, ctx.History.HdbWritePos, ctx.History.HdbTop);
    eventText.assign(Printf(text::kFmtHdbPositions, ctx.History.HdbWritePos, ctx.History.HdbTop));
    ctx.History.HdbReadTime = 0.0;
}

void HistoryDataAnswer(const HistoryContext& ctx, int station, std::uint8_t kind, std::uint16_t address,
                       const std::uint8_t* data, std::size_t count) {
    if (ctx.History.HdbReadState != HdbReadState::Reading || kind < kHdbFirstKind || kind > kHdbLastKind) return;
    StationRecord* s = StationSlot(ctx, station);
    if (!s) return;
    ctx.History.HdbFlag = true;
    if (!s->Hdb) s->Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
    const std::size_t offset = static_cast<std::size_t>(kind - kHdbFirstKind) * 65536 + address;
    if (offset < kHdbBytes && data && count > 0) std::memcpy(s->Hdb.get() + offset, data, std::min(count, kHdbBytes - offset));
    ctx.History.HdbFlag = false;
    const auto awaited = ctx.History.HdbAwaited.find(static_cast<std::uint32_t>(kind) << 16 | address);
    if (awaited != ctx.History.HdbAwaited.end() && data && count >= awaited->second) ctx.History.HdbAwaited.erase(awaited);
}

void HistoryWriteBackItem(const HistoryContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a, Str255& eventText) {
    if (ctx.History.HdbReadState != HdbReadState::WriteBack) return;
    if (d != kItemGroup || b != 1 || a != ctx.History.HdbNumber + 4) return;
    ctx.History.HdbWritePos = ctx.History.HdbTop;
    ctx.History.HdbReadState = HdbReadState::Finished;
    eventText.assign(text::kHdbWriteBackDone);
    ShowHistoryRecord(ctx);
}

void HistoryTick(const HistoryContext& ctx, double elapsedSeconds) {
    if (ctx.History.HdbReadState != HdbReadState::Reading) return;
    ctx.History.HdbReadTime += elapsedSeconds;
    const bool readsLeft = HasKindInRange(ctx.ReadQueue, kHdbFirstKind, kHdbLastKind);
    if (!readsLeft && !ctx.History.HdbAwaited.empty()) {
        // A read left the queue without its data (given up after answer time-outs): the
        // station must not be told that its records were read. The read-out ends as on its
        // time-out, and the next one starts from the same position.
        WriteLog(ctx.Log, "HDB", "history reads lost: " + std::to_string(ctx.History.HdbAwaited.size()));
        AbandonReadOut(ctx);
        return;
    }
    if (!readsLeft) {
        // Every record has been read: the station's read position of the archive moves on to
        // Top. The context follows when the station confirms the write.
        ctx.History.HdbReadState = HdbReadState::WriteBack;
        ctx.PendingEventText.assign(Printf(text::kFmtHdbComplete, ctx.History.HdbTop));
        // Every record is in: the station's file is written now, not only when the driver is
        // unloaded, so that a host that stops without DisposeDriver keeps the read-out.
        SaveStation(ctx, ctx.History.HdbStation);
        if (ctx.History.HdbStation >= 1 && ctx.History.HdbStation <= kMaxStations) {
            const auto top = static_cast<std::uint32_t>(ctx.History.HdbTop);
            const char data[7] = {static_cast<char>(kItemGroup),        1,
                                  static_cast<char>(ctx.History.HdbNumber + 4), static_cast<char>(top & 0xFF),
                                  static_cast<char>(top >> 8 & 0xFF),   static_cast<char>(top >> 16 & 0xFF),
                                  static_cast<char>(top >> 24 & 0xFF)};
            AppendRequest(ctx.WriteQueue, static_cast<std::uint8_t>(ctx.History.HdbStation), ReqChannelWrite, 0,
                          std::string_view(data, sizeof data), nullptr);
        }
        return;  // a complete read-out is not abandoned by a time-out in the same tick
    }
    if (ctx.History.HdbReadTime > ctx.History.HdbReadTimeout) AbandonReadOut(ctx);
}

}  // namespace zk
