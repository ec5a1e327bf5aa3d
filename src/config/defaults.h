// The stations' defaults every start begins from, and the preparation of the stations' run-time data.
#pragma once

#include <cstdint>

#include "base/shortstr.h"
#include "config/station.h"

namespace zk {

// The parameter file's name from the host: at most `length` characters, up to the first NUL,
// at most 255; a negative or zero length, or no text, gives the empty name.
Str255 ParFileNameFromHost(std::int32_t length, const char* characters);

// New records in all 100 slots, each named "NAME_" and its index.
void ResetStations(StationSlots& stations);

// Clears the data image and counters of all 100 stations and sets their display lines.
void PrepareStations(StationSlots& stations);

// Gives station n (1..100) the standard channel numbering, with a = (n - 1) x 500.
void ApplyStandardNumbering(StationRecord& s, int n);

}  // namespace zk
