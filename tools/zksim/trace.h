// The traffic trace: every chunk of bytes in either direction, hex and printable, with the
// wall-clock time and the seconds since the start, and short notes on what the simulator did.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace zksim {

enum class TraceDirection { FromDriver, ToDriver };

class Trace {
public:
    Trace() = default;
    ~Trace() { Close(); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    bool Open(const std::string& path, std::string& error);
    void Close();
    // "2024-05-01 12:00:00.123 +1.234567 drv->sim 41 54 0D  |AT.|"
    void Write(TraceDirection direction, std::string_view bytes);
    // "2024-05-01 12:00:00.123 +1.234567 # text"
    void Note(std::string_view text);

private:
    void Stamp();
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace zksim
