// The fixed system channels (tier 2: the memory-block table, the history read-out, the modem,
// the test value) and the driver-wide channels read last (tier 4). The caller holds the
// instance's lock.
#pragma once

#include <cstdint>

#include "host/host_value.h"
#include "host/records.h"
#include "worker/line_commands.h"

namespace zk {

// What a read of a system channel did: not one of them, served, or served and the number is
// still looked up among the stations' channels.
enum class SystemRead { NotSystem, Handled, Continue };

SystemRead GetSystemChannel(DriverRecord& rec, std::uint16_t ch, ZkHostValue& v);
void GetDriverChannel(DriverContext& ctx, std::uint16_t ch, ZkHostValue& v);
// False when the number is no system channel for output.
bool OutputSystemChannel(DriverRecord& rec, std::uint16_t ch, std::uint32_t type, HostBits b, PortActions& port);

}  // namespace zk
