// The request encoder: one request record becomes the frame that goes out on the line.
#pragma once

#include "base/shortstr.h"
#include "config/settings.h"
#include "config/station.h"
#include "diag/log.h"
#include "protocol/queues.h"

namespace zk {

// The frame for `request` to `station` (PREFIX, RETRANSLATION, length, routing, body,
// PRESUFFIX, check, SUFFIX), or an empty text when there is no such station or the request
// cannot be built for it. Writes the "CodeMess" log lines. The caller holds the instance's lock.
Str255 CodeMess(const GlobalSettings& settings, const StationRecord* station, const RequestNode& request,
                LogState& log);

}  // namespace zk
