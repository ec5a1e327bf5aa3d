#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace zk {

LocalTime LocalNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

std::int64_t MonotonicMs() {
    LARGE_INTEGER count{}, frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart <= 0) return 0;  // not on any Windows since XP
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const std::int64_t f = frequency.QuadPart, c = count.QuadPart;
    return c / f * 1000 + c % f * 1000 / f;
}

std::string DateTimeText(const LocalTime& t) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    char date[80] = {}, time[80] = {};
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof date) == 0)
        std::snprintf(date, sizeof date, "%d.%d.%04d", t.day, t.month, t.year);
    if (t.hour == 0 && t.minute == 0 && t.second == 0 && t.millisecond == 0) return date;
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time) == 0)
        std::snprintf(time, sizeof time, "%d:%02d:%02d", t.hour, t.minute, t.second);
    return std::string(date) + " " + time;
}

std::string RootDirectory() { return "C:\\"; }

char PathSeparator() { return '\\'; }

bool FileNamesIgnoreCase() { return true; }

bool DirectoryExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return !path.empty() && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return !path.empty() && a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExecutableDirectory() {
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    std::string path(buf, n);
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? RootDirectory() : path.substr(0, slash + 1);
}

std::string DefaultPortName(int n) { return "\\\\.\\COM" + std::to_string(n); }

int LastSystemError() { return static_cast<int>(GetLastError()); }

std::string SystemErrorText(int code) {
    char buffer[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                   sizeof buffer, nullptr);
    std::string out(buffer, n);
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    if (out.empty()) out = "error " + std::to_string(code);
    return out;
}

std::int64_t HeapBytesInUse() {
    // The process's commit charge (its private committed bytes), as the system keeps it: no
    // walk of any heap, so no thread of the host that allocates is held up, and the cost does
    // not grow with the host's heap. PagefileUsage is that figure on every Windows version
    // that has the call (Wine fills it too, where PrivateUsage reads 0).
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<std::int64_t>(counters.PagefileUsage);
}

void Beep(unsigned frequency, unsigned milliseconds) { ::Beep(frequency, milliseconds); }

}  // namespace zk
