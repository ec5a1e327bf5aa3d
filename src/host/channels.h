// Channel resolution: which parameter-file item or which implicit station channel a host
// channel number names. The driver searches in four tiers: the parameter-file items (tier 1),
// the fixed system channels (tier 2, in host/requests.cpp), the stations' implicit channels
// (tier 3) and the driver-wide channels (tier 4, in host/requests.cpp).
//
// Tiers 1 and 3 are answered from an index built once after the parameter file has been
// loaded; its answers are those of the search order below, number for number:
//   tier 1: stations 1..StationCount in index order (empty slots skipped), each station's
//           Channels list from its head; the first item with the number wins.
//   tier 3: stations 1..StationCount in index order; within a station the ranges of kinds
//           1, 2, 3, 4, 6, 5, the single numbers of kinds 7, 36, 8, 9, 10, 11, the range of
//           kind 12 (four numbers), the single numbers of kinds 13..33, 37, 38, then the
//           memory blocks in list order (the block's own number: kind 35; its elements:
//           kind 34). The first hit wins.
// Every function here expects the caller to hold the instance's lock.
#pragma once

#include <cstdint>
#include <vector>

#include "host/records.h"

namespace zk {

// A tier-1 hit: the item and the index of the station that owns it.
struct ParamChannel {
    int Station = 0;
    ChannelItem* Item = nullptr;
};

// A tier-3 hit: station index, kind (ChannelKind), index within the kind (1-based; 1 for a
// single number) and, for kinds 34 and 35, the memory block.
struct StationChannel {
    int Station = 0;
    int Kind = 0;
    int Index = 0;
    MemoryBlock* Block = nullptr;
};

struct ChannelIndex {
    // Per channel number: 0 for none, else 1 + the position in Params / Implicit.
    std::vector<std::uint32_t> ParamSlot;
    std::vector<std::uint32_t> ImplicitSlot;
    std::vector<ParamChannel> Params;
    std::vector<StationChannel> Implicit;
};

// The length of a station's range of kind 1..6 (the point count of the group, never more
// than the image holds) and of kind 12 (4); 0 for other kinds.
int RangeLength(const StationRecord& s, int kind);

// Builds the index from the stations as they stand now (Init calls it after the stations are
// prepared). The lookups build it themselves when none exists.
void BuildChannelIndex(DriverContext& ctx);
// Drops the index (before the stations are reset).
void ClearChannelIndex(DriverContext& ctx);

// Tier 1; false when no parameter-file item has the number.
bool FindChannel(DriverContext& ctx, std::uint16_t channel, ParamChannel& out);
// Tier 3; false when no station claims the number.
bool ResolveStationChannel(DriverContext& ctx, std::uint16_t channel, StationChannel& out);

}  // namespace zk
