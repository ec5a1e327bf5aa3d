#include <malloc.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <ctime>

#include "platform/platform.h"

namespace zk {

LocalTime LocalNow() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::tm tm{};
    const time_t secs = tv.tv_sec;
    localtime_r(&secs, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    t.millisecond = static_cast<int>(tv.tv_usec / 1000);
    return t;
}

std::int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string DateTimeText(const LocalTime& t) {
    char buf[64];
    if (t.hour == 0 && t.minute == 0 && t.second == 0 && t.millisecond == 0)
        std::snprintf(buf, sizeof buf, "%d.%d.%04d", t.day, t.month, t.year);
    else
        std::snprintf(buf, sizeof buf, "%d.%d.%04d %d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
    return buf;
}

std::string RootDirectory() { return "./"; }

char PathSeparator() { return '/'; }

bool FileNamesIgnoreCase() { return false; }

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ExecutableDirectory() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return RootDirectory();
    std::string path(buf, static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? RootDirectory() : path.substr(0, slash + 1);
}

std::string DefaultPortName(int n) { return "/dev/ttyS" + std::to_string(n - 1); }

std::int64_t HeapBytesInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    return static_cast<std::int64_t>(mallinfo2().uordblks);
#else
    return static_cast<std::int64_t>(mallinfo().uordblks);
#endif
}

namespace {
// strerror_r comes in two forms: the GNU one returns the text, the XSI one fills the buffer.
[[maybe_unused]] const char* ErrorTextOf(const char* text, const char*) { return text; }
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
}  // namespace

int LastSystemError() { return errno; }

std::string SystemErrorText(int code) {
    char buffer[256] = {};
    const char* text = ErrorTextOf(strerror_r(code, buffer, sizeof buffer), buffer);
    std::string out = text && *text ? text : "error " + std::to_string(code);
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    return out;
}

void Beep(unsigned, unsigned) {}

}  // namespace zk
