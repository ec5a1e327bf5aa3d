// The request encoder: one request record becomes the frame that goes out on the line.
#pragma once

#include "base/shortstr.h"
#include "host/queues.h"
#include "host/records.h"

namespace zk {

// The frame for `request` (PREFIX, RETRANSLATION, length, routing, body, PRESUFFIX, check,
// SUFFIX), or an empty text when the request cannot be built for its station. Writes the
// "CodeMess" log lines. The caller holds the instance's lock.
Str255 CodeMess(DriverContext& ctx, const RequestNode& request);

}  // namespace zk
