// The stations' implicit channels (tier 3): a station's data image, counters and status flags
// to read, and its commands to write. The caller holds the instance's lock.
#pragma once

#include <cstdint>

#include "host/channels.h"
#include "host/host_value.h"
#include "host/records.h"
#include "worker/line_commands.h"

namespace zk {

void GetStationChannel(DriverContext& ctx, const StationChannel& hit, ZkHostValue& v);
// Returns the station to dial (a true written to its connect channel), else 0.
int OutputStationChannel(DriverRecord& rec, const StationChannel& hit, std::uint32_t type, HostBits b,
                         PortActions& port);

}  // namespace zk
