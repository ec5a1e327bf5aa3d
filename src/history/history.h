// Station history buffers and their files.
#pragma once

#include "host/records.h"

namespace zk {

// Loads the station's history file into a new buffer (no file: no buffer).
void LoadHistory(DriverContext& ctx, int station);
// Writes the station's buffer to its history file.
void SaveHistory(DriverContext& ctx, int station);
// The date and time words of record HdbUserPos of station HdbStation, when it can be browsed.
void ShowHistoryRecord(DriverContext& ctx);

}  // namespace zk
