// Code page 1250 and UTF-8 on Windows, through UTF-16.
#include <windows.h>

#include "common/text.h"

namespace zktool {

namespace {
std::string Convert(UINT to, UINT from, std::string_view in) {
    if (in.empty()) return {};
    const int n = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (n <= 0) return std::string(in);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), wide.data(), n);
    const int m = WideCharToMultiByte(to, 0, wide.data(), n, nullptr, 0, to == CP_UTF8 ? nullptr : "?", nullptr);
    if (m <= 0) return std::string(in);
    std::string out(static_cast<std::size_t>(m), '\0');
    WideCharToMultiByte(to, 0, wide.data(), n, out.data(), m, to == CP_UTF8 ? nullptr : "?", nullptr);
    return out;
}
}  // namespace

std::string FromCp1250(std::string_view cp1250) { return Convert(CP_UTF8, 1250, cp1250); }
std::string ToCp1250(std::string_view utf8) { return Convert(1250, CP_UTF8, utf8); }

}  // namespace zktool
