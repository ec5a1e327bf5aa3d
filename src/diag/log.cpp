#include "diag/log.h"

#include <cstdio>
#include <string>

#include "base/texts.h"
#include "protocol/encodings.h"

namespace zk {

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
    if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
    log.LogBusy.store(false, std::memory_order_release);
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
