// The diagnostic log of an instance: one time-stamped line per call, the file opened and closed
// around every line, nothing written until the parameter file says "$DIAGS".
#pragma once

#include <atomic>
#include <string_view>

#include "base/shortstr.h"
#include "platform/platform.h"

namespace zk {

struct LogState {
    std::atomic<bool> LogEnabled{false};
    std::atomic<bool> LogBusy{false};  // one writer at a time; a second writer drops its line
    Str255 LogFileName;                // set while loading, before the worker starts
    const zk::Clock* Clock = nullptr;  // the instance's clock, for the time stamps
};

// Whether WriteLog writes anything: callers skip formatting a line nobody will read.
inline bool Logging(const LogState& log) {
    return log.LogEnabled.load(std::memory_order_acquire) && !log.LogFileName.empty();
}

// Appends "date time tag : detail" (cut to 255 characters) and CR LF when logging is on.
void WriteLog(LogState& log, std::string_view tag, std::string_view detail);
// A header line with the title, then lines of up to 16 bytes as hexadecimal pairs.
void HexDumpLog(LogState& log, std::string_view title, std::string_view bytes);
// Switches logging on (once) and settles the default file name from the driver's name.
void EnableLog(LogState& log, std::string_view driverName);

}  // namespace zk
