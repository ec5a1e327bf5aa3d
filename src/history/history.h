// Station history buffers, their files and the history read-out from the stations. Every
// function expects the caller to hold the instance's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/records.h"

namespace zk {

struct HistoryDateTime {
    std::uint16_t Day = 1, Month = 1, Year = 2000, Hour = 0, Minute = 0, Second = 0;
};

// History read-out states (HdbReadState).
inline constexpr std::int32_t kHdbIdle = 1;
inline constexpr std::int32_t kHdbReading = 2;
inline constexpr std::int32_t kHdbPositionFailed = 4;
inline constexpr std::int32_t kHdbPositionQuery = 5;
inline constexpr std::int32_t kHdbChosen = 6;
inline constexpr std::int32_t kHdbInterrupted = 7;
inline constexpr std::int32_t kHdbWriteBack = 8;
inline constexpr std::int32_t kHdbTimedOut = 9;
inline constexpr std::int32_t kHdbFinished = 255;

// The station's history area: records 0..49 999 of 10 bytes from station address F00000.
inline constexpr std::uint32_t kHdbAreaStart = 0xF00000;
inline constexpr std::uint32_t kHdbAreaEnd = 0xF7A11F;
// Request kinds of the history reads (the high byte of the station address).
inline constexpr std::int32_t kHdbFirstKind = 240;
inline constexpr std::int32_t kHdbLastKind = 247;
// The longest history read.
inline constexpr std::uint32_t kHdbReadChunk = 192;

// Loads the station's history file into a new buffer (no file: no buffer).
void LoadHistory(DriverContext& ctx, int station);
// Writes the station's buffer to its history file.
void SaveHistory(DriverContext& ctx, int station);
// The date and time of a record's time stamp (seconds since 1.1.2000).
HistoryDateTime HistoryTime(std::uint32_t seconds);
// The date and time words of record HdbUserPos of station HdbStation, when it can be browsed.
void ShowHistoryRecord(DriverContext& ctx);
// Queues the reads of records from..to-1 of the station's ring.
void QueueHistoryReads(DriverContext& ctx, int station, std::int32_t from, std::int32_t to);

// Decoder hooks. The position answer: one QQ item (d, b, a) and its 4-byte value while
// HdbReadState is 5; `counted` counts this answer's position items; an event text, when the
// answer is complete, goes to `eventText`.
void HistoryPositionItem(DriverContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a,
                         const std::uint8_t value[4], int& counted, Str255& eventText);
// A data answer: `count` bytes for station `station` at kind 240..247 and address.
void HistoryDataAnswer(DriverContext& ctx, int station, std::uint8_t kind, std::uint16_t address,
                       const std::uint8_t* data, std::size_t count);
// The write-back confirmation check for one item (d, b, a) of a stored QQ write request.
void HistoryWriteBackItem(DriverContext& ctx, std::uint8_t d, std::uint8_t b, std::uint8_t a, Str255& eventText);
// The worker's tick: completion (no history read left → queue the write-back; a read that
// left without its data → end as on the time-out) and the read-out's time-out. Its event text goes to PendingEventText.
void HistoryTick(DriverContext& ctx, double elapsedSeconds);

// ---- Helpers for the browse and save channels --------------------------------------------

// The history file of a station: the history directory (ZKDRV_HISTORY_DIR, else the host
// executable's directory) + DriverName + the index + ".hdb".
std::string HistoryFilePath(const DriverContext& ctx, int station);
// The same name in another directory (which ends with its separator).
std::string HistoryFilePath(const DriverContext& ctx, int station, const std::string& directory);
// Record HdbUserPos of station HdbStation (10 bytes), or nullptr when it cannot be browsed
// now: no such defined station, no buffer, a copy in progress or a position beyond the ring.
const std::uint8_t* BrowsedHistoryRecord(const DriverContext& ctx);
// Writes every station's buffer (1..100) to its file; the number of files that failed.
int SaveAllHistories(DriverContext& ctx);

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
