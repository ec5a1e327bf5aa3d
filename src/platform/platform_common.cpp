#include <cmath>
#include <cstdlib>

#include "platform/platform.h"

namespace zk {

std::int32_t CentisecondsOfDay(const LocalTime& t) {
    return t.hour * 360000 + t.minute * 6000 + t.second * 100 + t.millisecond / 10;
}

namespace {
// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;  // days since 1970-01-01
}
}  // namespace

double DateTimeValue(const LocalTime& t) {
    const long days = DaysFromCivil(t.year, t.month, t.day) + 25569;  // 1899-12-30 .. 1970-01-01
    const double fraction = (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) / 86400000.0;
    return static_cast<double>(days) + fraction;
}

std::string HistoryDirectory() {
    const char* dir = std::getenv("ZKDRV_HISTORY_DIR");
    if (!dir || !*dir) return ExecutableDirectory();
    std::string out(dir);
    const char sep = PathSeparator();
    if (out.back() != sep && out.back() != '/') out += sep;
    return out;
}

}  // namespace zk
