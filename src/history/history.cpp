// Placeholder until the history files exist.
#include "history/history.h"

namespace zk {

void LoadHistory(DriverContext&, int) {}
void SaveHistory(DriverContext&, int) {}
void ShowHistoryRecord(DriverContext&) {}

}  // namespace zk
