#include "zksim/trace.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "zksim/codec.h"

namespace zksim {

bool Trace::Open(const std::string& path, std::string& error) {
    Close();
    file_ = std::fopen(path.c_str(), "a");
    if (!file_) {
        error = "cannot open the trace file " + path + ": " + std::strerror(errno);
        return false;
    }
    start_ = std::chrono::steady_clock::now();
    return true;
}

void Trace::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void Trace::Stamp() {
    using namespace std::chrono;
    const auto wall = system_clock::now();
    const std::time_t t = system_clock::to_time_t(wall);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    const long ms = static_cast<long>(duration_cast<milliseconds>(wall.time_since_epoch()).count() % 1000);
    const double since = duration<double>(steady_clock::now() - start_).count();
    std::fprintf(file_, "%s.%03ld +%.6f ", text, ms, since);
}

void Trace::Write(TraceDirection direction, std::string_view bytes) {
    if (!file_) return;
    Stamp();
    std::string printable;
    for (char c : bytes) printable += (Byte(c) >= 0x20 && Byte(c) < 0x7F) ? c : '.';
    std::fprintf(file_, "%s %s  |%s|\n", direction == TraceDirection::FromDriver ? "drv->sim" : "sim->drv",
                 HexText(bytes).c_str(), printable.c_str());
    std::fflush(file_);
}

void Trace::Note(std::string_view text) {
    if (!file_) return;
    Stamp();
    std::fprintf(file_, "# %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

}  // namespace zksim
