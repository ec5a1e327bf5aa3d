#include "base/format.h"

#include <cstdio>
#include <vector>

namespace zk {

std::string VFmt(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

std::string Fmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = VFmt(format, args);
    va_end(args);
    return s;
}

}  // namespace zk
