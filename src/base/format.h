// printf-style formatting into std::string (locale-independent for the formats the driver uses).
#pragma once

#include <cstdarg>
#include <string>

namespace zk {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Fmt(const char* format, ...);

std::string VFmt(const char* format, va_list args);

}  // namespace zk
