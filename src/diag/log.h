// The diagnostic log of an instance: one time-stamped line per call, the file opened and closed
// around every line, nothing written until the parameter file says "$DIAGS".
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/shortstr.h"
#include "platform/platform.h"

namespace zk {

// The size at which the log is renamed to its ".old" file and started again: 10 MiB.
inline constexpr std::int64_t kLogSizeLimit = 10 * 1024 * 1024;

struct LogState {
    std::atomic<bool> LogEnabled{false};
    std::atomic<bool> LogBusy{false};  // one writer at a time; a second writer drops its line
    Str255 LogFileName;                // set while loading, before the worker starts
    const zk::Clock* Clock = nullptr;  // the instance's clock, for the time stamps
    std::int64_t SizeLimit = kLogSizeLimit;
    // The first line that could not be written: its file and the system's reason (written by
    // the writer holding LogBusy, before WriteFailed is set). Shown once in the event list.
    std::atomic<bool> WriteFailed{false};
    std::atomic<bool> FailureShown{false};
    std::string FailurePath, FailureReason;
};

// Back to off, as after MakeDriver: no file name, nothing failed yet (a new Init).
void ResetLog(LogState& log);
// The event-list text for a log that could not be written, once: empty when every line was
// written or the text has been taken already.
std::string TakeLogFailure(LogState& log);

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
