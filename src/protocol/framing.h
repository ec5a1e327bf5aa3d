// Receive framing: finds the prefix, reads the header and the body, checks and accepts frames.
#pragma once

#include <string_view>

#include "host/records.h"

namespace zk {

// True when the XOR of every byte but the last equals the last (a single byte: when it is 0).
bool XorCheck(std::string_view s);

// One step of the framing over the worker's line (ctx.Line, filled by PumpLine): at most one
// read of the port's bytes per call. True exactly when this call stored a frame in
// ReceiveQueue. The caller holds the instance's lock.
bool ReceiveDATA(DriverContext& ctx);

}  // namespace zk
