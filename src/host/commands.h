// The driver's commands that both the host's channels and the worker use. The caller holds the
// instance's lock.
#pragma once

#include "host/records.h"

namespace zk {

// The connection clean-up without hang-up: returns the highest station index whose
// DialRequested is set (0 if none) and clears DialRequested, OnLine and AwaitingAnswer of every
// station.
int ConnectionCleanup(DriverContext& ctx);

}  // namespace zk
