// The few facts the driver asks of the operating system: the clock, the local date and time
// as text, paths, and the heap in use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zk {

// Local calendar time, to the millisecond.
struct LocalTime {
    int year = 2000, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

LocalTime LocalNow();

// Local time of day in hundredths of a second: 0 at midnight, at most 8639999.
std::int32_t CentisecondsOfDay(const LocalTime& t);

// Days since 1899-12-30 with the time of day as the fraction.
double DateTimeValue(const LocalTime& t);

// The short date and the long time of the user's regional settings, a blank between them; the
// time is left out at exactly midnight. Linux: d.M.yyyy H:mm:ss.
std::string DateTimeText(const LocalTime& t);

// Milliseconds on a clock that moves at the pace of real time and never jumps, whatever is
// done to the time of day (summer time, a clock set by hand or by NTP, midnight). Its origin is
// arbitrary: only differences mean anything. Linux: CLOCK_MONOTONIC; Windows:
// QueryPerformanceCounter.
std::int64_t MonotonicMs();

// The two clocks an instance reads. `now` is the wall clock, for the texts that show a date or
// a time (log lines, history times, the status line); `monotonicMs` measures every interval
// (the soft timers, the modem's pauses and limits, the pass times). Tests replace both.
struct Clock {
    std::function<LocalTime()> now = LocalNow;
    std::function<std::int64_t()> monotonicMs = MonotonicMs;
};

// The root that stands for "C:\" (log default, memory-block file directory), with its separator.
std::string RootDirectory();
// The separator appended to a directory.
char PathSeparator();
// True where the file system ignores the case of file names (Windows); a path read from the
// parameter file must keep its case where it does not.
bool FileNamesIgnoreCase();
// True when the path names an existing directory.
bool DirectoryExists(const std::string& path);
// True when the path names an existing file.
bool FileExists(const std::string& path);
// The directory of the host's executable, with a trailing separator.
std::string ExecutableDirectory();
// The directory of the history files, with a trailing separator: the environment variable
// ZKDRV_HISTORY_DIR when it is set and not empty (an installed host's directory is often not
// writable), else the host's executable directory.
std::string HistoryDirectory();
// The system's name of serial port number n (1..255).
std::string DefaultPortName(int n);
// The system's text for an error code of its calls (errno here, GetLastError on Windows), in
// the system's own words without a closing full stop; "error N" when the system has none.
std::string SystemErrorText(int code);
// The code of the last failed call of this thread (errno here, GetLastError on Windows), for
// SystemErrorText.
int LastSystemError();
// Bytes of memory in use by the process, from a figure the system keeps (no heap walk, no
// lock that other threads wait for): on Windows the process's private committed bytes, here
// the C library's count of allocated heap bytes.
std::int64_t HeapBytesInUse();
// A short tone (Windows only; nothing elsewhere).
void Beep(unsigned frequency, unsigned milliseconds);

}  // namespace zk
