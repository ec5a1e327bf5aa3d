// The diagnostic log of an instance: one time-stamped line per call, the file opened and closed
// around every line, nothing written until the parameter file says "$DIAGS".
#pragma once

#include <atomic>
#include <string_view>

#include "base/shortstr.h"

namespace zk {

struct DriverContext;

struct LogState {
    std::atomic<bool> LogEnabled{false};
    std::atomic<bool> LogBusy{false};  // one writer at a time; a second writer drops its line
    Str255 LogFileName;                // set while loading, before the worker starts
};

// Appends "date time tag : detail" (cut to 255 characters) and CR LF when logging is on.
void WriteLog(DriverContext& ctx, std::string_view tag, std::string_view detail);
// A header line with the title, then lines of up to 16 bytes as hexadecimal pairs.
void HexDumpLog(DriverContext& ctx, std::string_view title, std::string_view bytes);
// Switches logging on (once) and settles the default file name.
void EnableLog(DriverContext& ctx);

}  // namespace zk
