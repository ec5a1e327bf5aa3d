#include "diag/log.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "protocol/encodings.h"

namespace zk {

namespace {

// The log opened for appending with its size so far; nullptr when it cannot be opened.
std::FILE* OpenForAppend(const std::string& path, std::int64_t& size) {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    size = 0;
    if (f && std::fseek(f, 0, SEEK_END) == 0) size = std::max<std::int64_t>(0, std::ftell(f));
    return f;
}

}  // namespace

void WriteLog(LogState& log, std::string_view tag, std::string_view detail) {
    if (!log.LogEnabled.load(std::memory_order_acquire)) return;
    if (log.LogFileName.empty()) return;
    if (log.LogBusy.exchange(true, std::memory_order_acquire)) return;  // another line is being written
    std::string line = DateTimeText(log.Clock ? log.Clock->now() : LocalNow());
    line += ' ';
    line += tag;
    line += " : ";
    line += detail;
    if (line.size() > 255) line.resize(255);
    line += "\r\n";
    const std::string path = log.LogFileName.str();
    // A log that has reached its size limit becomes the ".old" file (replacing an older one)
    // and the line starts a new log; the file is closed first, as a file in use cannot be
    // renamed everywhere.
    std::int64_t size = 0;
    std::FILE* f = OpenForAppend(path, size);
    if (f && size > 0 && size + static_cast<std::int64_t>(line.size()) > log.SizeLimit) {
        std::fclose(f);
        const std::string old = path + ".old";
        std::remove(old.c_str());
        std::rename(path.c_str(), old.c_str());
        f = OpenForAppend(path, size);
    }
    bool written = false;
    int error = 0;
    if (f) {
        written = std::fwrite(line.data(), 1, line.size(), f) == line.size();
        if (!written) error = LastSystemError();
        if (std::fclose(f) != 0 && written) {
            written = false;
            error = LastSystemError();
        }
    } else {
        error = LastSystemError();
    }
    if (!written && !log.WriteFailed.load(std::memory_order_acquire)) {
        log.FailurePath = path;
        log.FailureReason = SystemErrorText(error);
        log.WriteFailed.store(true, std::memory_order_release);
    }
    log.LogBusy.store(false, std::memory_order_release);
}

void ResetLog(LogState& log) {
    log.LogEnabled.store(false);
    log.LogFileName.clear();
    // A writer of the old log may still hold the flag: wait for it before the texts change.
    while (log.LogBusy.exchange(true, std::memory_order_acquire)) {
    }
    log.WriteFailed.store(false);
    log.FailureShown.store(false);
    log.FailurePath.clear();
    log.FailureReason.clear();
    log.LogBusy.store(false, std::memory_order_release);
}

std::string TakeLogFailure(LogState& log) {
    if (!log.WriteFailed.load(std::memory_order_acquire)) return {};
    if (log.FailureShown.exchange(true)) return {};
    return Fmt(std::string(text::kFmtLogNotWritten).c_str(), log.FailurePath.c_str(), log.FailureReason.c_str());
}

void HexDumpLog(LogState& log, std::string_view title, std::string_view bytes) {
    if (!log.LogEnabled.load(std::memory_order_acquire)) return;
    WriteLog(log, title, "");
    while (!bytes.empty()) {
        const std::string_view chunk = bytes.substr(0, 16);
        WriteLog(log, "Hex Dump", BytesToHex(chunk));
        bytes.remove_prefix(chunk.size());
    }
}

void EnableLog(LogState& log, std::string_view driverName) {
    if (log.LogEnabled.load()) return;
    log.LogBusy.store(false);
    std::string name = RootDirectory();
    name += "ZKDKRMOD_";
    name += driverName;
    name += ".LOG";
    if (log.LogFileName.empty()) log.LogFileName.assign(name);
    log.LogEnabled.store(true, std::memory_order_release);
}

}  // namespace zk
