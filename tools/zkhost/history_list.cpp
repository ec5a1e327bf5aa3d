#include "zkhost/history_list.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "history/history.h"
#include "zkhost/json.h"

namespace zkhost {

namespace {
constexpr std::uint32_t kRecords = 50000;
constexpr std::size_t kRecordSize = 10;
}  // namespace

std::vector<HistoryRow> HistoryRows(const std::string& bytes, std::uint32_t from, std::uint32_t count, bool all) {
    std::vector<HistoryRow> rows;
    const auto available = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() / kRecordSize, kRecords));
    for (std::uint64_t n = from; n < available && n < std::uint64_t{from} + count; ++n) {
        const char* r = bytes.data() + n * kRecordSize;
        if (!all && std::all_of(r, r + kRecordSize, [](char c) { return c == 0; })) continue;
        HistoryRow row;
        row.Number = static_cast<std::uint32_t>(n);
        std::memcpy(&row.Word, r, 2);
        std::memcpy(&row.Stamp, r + 2, 4);
        std::memcpy(&row.Sample, r + 6, 4);
        if (!std::isfinite(row.Sample)) row.Sample = -1.0f;
        const zk::HistoryDateTime t = zk::HistoryTime(row.Stamp);
        char buf[48];
        std::snprintf(buf, sizeof buf, "%u.%u.%u %u:%02u:%02u", unsigned{t.Day}, unsigned{t.Month}, unsigned{t.Year},
                      unsigned{t.Hour}, unsigned{t.Minute}, unsigned{t.Second});
        row.Time = buf;
        rows.push_back(row);
    }
    return rows;
}

int RunHistoryList(int argc, char** argv) {
    std::string file;
    std::uint32_t from = 0, count = kRecords;
    bool csv = false, json = false, all = false;
    auto number = [](const char* text, std::uint32_t& out) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(text, &end, 10);
        if (!*text || *end || v > kRecords) return false;
        out = static_cast<std::uint32_t>(v);
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--from" || arg == "--count") && i + 1 < argc) {
            if (!number(argv[++i], arg == "--from" ? from : count)) {
                std::fprintf(stderr, "zkhost history: %s takes a number 0..50000, not '%s'\n", arg.c_str(), argv[i]);
                return 2;
            }
        } else if (arg == "--csv") csv = true;
        else if (arg == "--json") json = true;
        else if (arg == "--all") all = true;
        else if (arg == "-h" || arg == "--help") {
            std::printf("usage: zkhost history FILE.hdb [--from N] [--count N] [--all] [--csv|--json]\n"
                        "  Lists the records of a station's history file as the browse channels show them:\n"
                        "  number (65410), time (65416..65421), first word (65411), time stamp (65412) and\n"
                        "  sample (65413). Records that are all zero are left out unless --all.\n");
            return 0;
        } else if (file.empty() && !arg.empty() && arg[0] != '-') file = arg;
        else {
            std::fprintf(stderr, "zkhost history: unexpected argument '%s'\n", arg.c_str());
            return 2;
        }
    }
    if (file.empty() || (csv && json)) {
        std::fprintf(stderr, "usage: zkhost history FILE.hdb [--from N] [--count N] [--all] [--csv|--json]\n");
        return 2;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zkhost history: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
        return 2;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    const std::string bytes = buffer.str();
    if (bytes.size() < kRecords * kRecordSize)
        std::fprintf(stderr, "zkhost history: %s holds %zu bytes, not %zu: the driver does not load it (listing what "
                     "is there)\n", file.c_str(), bytes.size(), kRecords * kRecordSize);
    const auto rows = HistoryRows(bytes, from, count, all);
    if (csv) std::printf("record,time,word,stamp,sample\n");
    for (const HistoryRow& r : rows) {
        if (csv) {
            std::printf("%u,%s,%u,%u,%g\n", r.Number, r.Time.c_str(), unsigned{r.Word}, r.Stamp, double{r.Sample});
        } else if (json) {
            JsonWriter j;
            j.Field("record", r.Number).Field("time", r.Time).Field("word", unsigned{r.Word}).Field("stamp", r.Stamp);
            char sample[32];
            std::snprintf(sample, sizeof sample, "%g", double{r.Sample});
            j.Raw("sample", sample);
            std::printf("%s\n", j.Str().c_str());
        } else {
            std::printf("%6u  %-20s  word %5u  stamp %10u  sample %g\n", r.Number, r.Time.c_str(), unsigned{r.Word},
                        r.Stamp, double{r.Sample});
        }
    }
    if (!csv && !json) std::fprintf(stderr, "%zu record(s)\n", rows.size());
    return 0;
}

}  // namespace zkhost
