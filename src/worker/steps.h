// The framing and encoding steps on the instance's records, as the scheduler runs them.
// The caller holds the instance's lock.
#pragma once

#include "host/records.h"

namespace zk {

// One step of the receive framing over the worker's line into ReceiveQueue (ReceiveDATA),
// with the station whose request waits for its answer; `foreign` as ReceiveDATA sets it.
bool ReceiveFrame(DriverContext& ctx, bool* foreign = nullptr);

// The frame of a request to its defined station (CodeMess); empty when it cannot be built.
Str255 EncodeRequest(DriverContext& ctx, const RequestNode& request);

}  // namespace zk
