// zkhost history: the records of a station's history file (.hdb), as the driver's browse
// channels show them, listed as text, CSV or JSON lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zkhost {

struct HistoryRow {
    std::uint32_t Number = 0;  // 0..49 999
    std::uint16_t Word = 0;    // the first word (channel 65411)
    std::uint32_t Stamp = 0;   // bytes 2..5: seconds since 1.1.2000 (channel 65412)
    float Sample = 0;          // bytes 6..9, IEEE single; -1 for infinities and NaN (channel 65413)
    std::string Time;          // the stamp as d.M.yyyy H:mm:ss (channels 65416..65421)
};

// The rows from..from+count-1 of the file's bytes; records that are all zero are left out
// unless `all`.
std::vector<HistoryRow> HistoryRows(const std::string& bytes, std::uint32_t from, std::uint32_t count, bool all);

// `zkhost history FILE.hdb [--from N] [--count N] [--all] [--csv|--json]`; argv[0] is "history".
int RunHistoryList(int argc, char** argv);

}  // namespace zkhost
