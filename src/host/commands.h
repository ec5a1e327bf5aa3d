// The host's commands on the memory-block table and the test injection. The caller holds the
// instance's lock.
#pragma once

#include "host/records.h"

namespace zk {

// Reads the memory-block table of station MbRequestStation: 88 block reads in ReadQueue, the
// request kinds chosen by MbKindIndex and MbAltKinds. Nothing happens for a station index 0 or
// above StationCount.
void StartMemoryBlockRead(DriverContext& ctx);

// The name of the memory-block table file (CUC_PATH, station code, kind digit, row state
// digits, ".CUC"); empty when MbStation has no record.
std::string MemoryBlockFileName(const DriverContext& ctx);
// Writes the 528 rows of TextTable (7 state bytes and 8 three-byte cells each) to that file;
// MbFileFlag tells whether every row was written.
void SaveMemoryBlockFile(DriverContext& ctx);

// Puts the test value into the station image at the test channel (standard numbering):
// points 1..96 of group 1 and 193..256 (analog points 1..64) of the station n div 500 + 1.
void InjectTestValue(DriverContext& ctx);

}  // namespace zk
