// Placeholder until the history files exist.
#include "history/history.h"

namespace zk {

void LoadHistory(DriverContext&, int) {}
void SaveHistory(DriverContext&, int) {}
HistoryDateTime HistoryTime(std::uint32_t) { return {}; }
void ShowHistoryRecord(DriverContext&) {}
void QueueHistoryReads(DriverContext&, int, std::int32_t, std::int32_t) {}
void HistoryPositionItem(DriverContext&, std::uint8_t, std::uint8_t, std::uint8_t, const std::uint8_t[4], int&,
                         Str255&) {}
void HistoryDataAnswer(DriverContext&, int, std::uint8_t, std::uint16_t, const std::uint8_t*, std::size_t) {}
void HistoryWriteBackItem(DriverContext&, std::uint8_t, std::uint8_t, std::uint8_t, Str255&) {}
void HistoryTick(DriverContext&, double) {}

}  // namespace zk
