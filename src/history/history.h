// Station history buffers, their files and the history read-out from the stations. Every
// function expects the caller to hold the instance's lock.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "base/shortstr.h"
#include "config/station.h"
#include "diag/log.h"
#include "protocol/queues.h"

namespace zk {

inline constexpr std::size_t kHdbRecords = 50000;
inline constexpr std::size_t kHdbRecordSize = 10;
inline constexpr std::size_t kHdbBytes = kHdbRecords * kHdbRecordSize;  // 500 000

// The states of the history read-out; the host reads the number on channel 65404.
enum class HdbReadState : std::int32_t {
    Start = 0,           // no read-out since the start
    Idle = 1,            // a station or archive out of range was chosen
    Reading = 2,         // the records are being read
    PositionFailed = 4,  // the position answer was invalid
    PositionQuery = 5,   // the station's positions have been asked for
    Chosen = 6,          // a station or archive was chosen
    Interrupted = 7,     // the host interrupted the read-out
    WriteBack = 8,       // every record arrived; the new read position is being written
    TimedOut = 9,        // abandoned at its time-out or after a lost read
    Finished = 255,      // done (or nothing new)
};

// The history read-out and browsing of an instance.
struct HistoryReadout {
    std::int32_t HdbStation = 1;
    std::int32_t HdbNumber = 1;  // archive 1..8
    std::int32_t HdbWritePos = 0;
    std::int32_t HdbTop = 0;
    std::int32_t HdbItem13 = 0;
    std::int32_t HdbCapacity = 0;
    zk::HdbReadState HdbReadState = zk::HdbReadState::Start;
    double HdbReadTime = 0.0;
    double HdbReadTimeout = 600.0;
    std::uint16_t HdbUserPos = 0;
    std::atomic<bool> HdbFlag{false};
    std::uint16_t HdbDate[6] = {};  // day, month, year, hour, minute, second
    // The history reads of the read-out whose data have not arrived yet: station address →
    // byte count. A read that leaves the queue without its data leaves its entry here.
    std::map<std::uint32_t, std::uint32_t> HdbAwaited;
};

// What the history functions work on: the read-out itself and the parts of the instance that
// it reads from and queues into. The instance builds one for each call.
struct HistoryContext {
    HistoryReadout& History;
    StationSlots& Stations;
    std::uint8_t StationCount;
    RequestQueue& ReadQueue;
    RequestQueue& WriteQueue;
    Str255& PendingEventText;  // the text the worker shows next
    const Str255& DriverName;
    LogState& Log;
    // Empties both request queues and restarts the line (an abandoned read-out).
    std::function<void()> ClearQueues;
};

struct HistoryDateTime {
    std::uint16_t Day = 1, Month = 1, Year = 2000, Hour = 0, Minute = 0, Second = 0;
};

// The station's history area: records 0..49 999 of 10 bytes from station address F00000.
inline constexpr std::uint32_t kHdbAreaStart = 0xF00000;
inline constexpr std::uint32_t kHdbAreaEnd = 0xF7A11F;
// Request kinds of the history reads (the high byte of the station address).
inline constexpr std::int32_t kHdbFirstKind = ReqHistoryFirst;
inline constexpr std::int32_t kHdbLastKind = ReqHistoryLast;
// The longest history read.
inline constexpr std::uint32_t kHdbReadChunk = 192;

// The host's choices: a station (1..StationCount) or an archive (1..8) makes the state Chosen,
// anything else Idle. True when the choice was taken.
bool ChooseHistoryStation(HistoryReadout& h, int station, int stationCount);
bool ChooseHistoryArchive(HistoryReadout& h, int number);
// Starts a read-out of the chosen station and archive unless one is under way: the position
// query goes to ReadQueue. True when it started.
bool StartHistoryReadOut(const HistoryContext& ctx);
// Interrupts a read-out that is asking for the positions or reading; true when it did (the
// caller then clears the queues).
bool InterruptHistoryReadOut(HistoryReadout& h);

// Loads the station's history file into a new buffer (no file: no buffer).
void LoadHistory(const HistoryContext& ctx, int station);
// Writes the station's buffer to its history file.
void SaveHistory(const HistoryContext& ctx, int station);
// The date and time of a record's time stamp (seconds since 1.1.2000).
HistoryDateTime HistoryTime(std::uint32_t seconds);
// The date and time words of record HdbUserPos of station HdbStation, when it can be browsed.
void ShowHistoryRecord(const HistoryContext& ctx);
// Queues the reads of records from..to-1 of the station's ring.
void QueueHistoryReads(const HistoryContext& ctx, int station, std::int32_t from, std::int32_t to);

// Decoder hooks. The position answer: one QQ item (d, b, a) and its 4-byte value while
// HdbReadState is 5; `counted` counts this answer's position items; an event text, when the
// answer is complete, goes to `eventText`.
void HistoryPositionItem(const HistoryContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a,
                         const std::uint8_t value[4], int& counted, Str255& eventText);
// A data answer: `count` bytes for station `station` at kind 240..247 and address.
void HistoryDataAnswer(const HistoryContext& ctx, int station, std::uint8_t kind, std::uint16_t address,
                       const std::uint8_t* data, std::size_t count);
// The write-back confirmation check for one item (d, b, a) of a stored QQ write request.
void HistoryWriteBackItem(const HistoryContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a, Str255& eventText);
// The worker's tick: completion (no history read left → queue the write-back; a read that
// left without its data → end as on the time-out) and the read-out's time-out. Its event text goes to PendingEventText.
void HistoryTick(const HistoryContext& ctx, double elapsedSeconds);

// ---- Helpers for the browse and save channels --------------------------------------------

// The history file of a station: the history directory (ZKDRV_HISTORY_DIR, else the host
// executable's directory) + DriverName + the index + ".hdb".
std::string HistoryFilePath(std::string_view driverName, int station);
// The same name in another directory (which ends with its separator).
std::string HistoryFilePath(std::string_view driverName, int station, const std::string& directory);
// Record HdbUserPos of station HdbStation (10 bytes), or nullptr when it cannot be browsed
// now: no such defined station, no buffer, a copy in progress or a position beyond the ring.
const std::uint8_t* BrowsedHistoryRecord(const HistoryContext& ctx);
// Writes every station's buffer (1..100) to its file; the number of files that failed.
int SaveAllHistories(const HistoryContext& ctx);

// ---- The file itself ---------------------------------------------------------------------

enum class HistoryFileRead { Missing, Short, Complete };
// Reads a history file into `buffer` (kHdbBytes bytes), denying others the right to write
// while it is open. Missing: the file cannot be opened (buffer untouched). Short: fewer bytes
// arrived or the read failed (buffer cleared). Complete: the buffer holds the file's first
// kHdbBytes bytes.
HistoryFileRead ReadHistoryFile(const std::string& path, std::uint8_t* buffer);
// Replaces the file at `path` by `size` bytes without ever leaving a partial file under its
// name: the bytes go to a new file in the same directory, which is flushed to the disk and
// then renamed over the old one. False (and the old file untouched, the new one removed) when
// any step fails.
bool WriteHistoryFile(const std::string& path, const std::uint8_t* bytes, std::size_t size);

}  // namespace zk
