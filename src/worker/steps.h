// The framing and encoding steps on the instance's records, as the scheduler runs them.
// The caller holds the instance's lock.
#pragma once

#include "host/records.h"

namespace zk {

// One step of the receive framing over the worker's line into ReceiveQueue (ReceiveDATA).
bool ReceiveFrame(DriverContext& ctx);

// The frame of a request to its defined station (CodeMess); empty when it cannot be built.
Str255 EncodeRequest(DriverContext& ctx, const RequestNode& request);

}  // namespace zk
