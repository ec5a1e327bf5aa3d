// The station groups of the parameter file and the definitions nested in them.
#pragma once

#include <array>
#include <cstdint>

#include "config/par_reader.h"

namespace zk {

// Reads the [STATION] groups one after another into Stations[1..100] and sets StationCount.
// The outcome is left in r.GroupMissing: clear when at least one station was complete.
void LoadStations(const ConfigContext& ctx, ParReader& r);

// The nested definitions. Each starts on its key's first value item, sets or clears
// KeyLoaded[key] and leaves the reader on the last item of its definition.
void LoadBinarXOR(const ConfigContext& ctx, ParReader& r, int key, std::array<bool, 97>& flags);
void LoadMemoryOutCfg(const ConfigContext& ctx, ParReader& r, int key, std::array<MemoryEntry, 101>& entries,
                      bool* wholeBlock);
void LoadCounterInCfg(const ConfigContext& ctx, ParReader& r, int key, std::array<CounterEntry, 49>& entries);
void LoadAnalogLimits(const ConfigContext& ctx, ParReader& r, int key, std::array<AnalogLimit, 65>& entries);
void LoadChannelItem(const ConfigContext& ctx, ParReader& r, int key, StationRecord& s);
void LoadMemoryBlock(const ConfigContext& ctx, ParReader& r, int key, StationRecord& s);

}  // namespace zk
