// Station history buffers, their files and the history read-out from the stations. Every
// function expects the caller to hold the instance's lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"

namespace zk {

struct HistoryDateTime {
    std::uint16_t Day = 1, Month = 1, Year = 2000, Hour = 0, Minute = 0, Second = 0;
};

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
// The worker's tick: completion (no history read left → queue the write-back) and the
// read-out's time-out.
void HistoryTick(DriverContext& ctx, double elapsedSeconds);

}  // namespace zk
