#include "base/cp1250.h"

namespace zk {

std::string Cp1250ToUtf8(std::string_view cp1250) {
    std::string out;
    out.reserve(cp1250.size() * 2);
    for (const char ch : cp1250) {
        const auto b = static_cast<unsigned char>(ch);
        char32_t cp = b < 0x80 ? b : kCp1250High[b - 0x80];
        if (cp == 0 && b != 0) cp = 0xFFFD;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string Utf8ToCp1250(std::string_view utf8) {
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0;
        std::size_t more = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            more = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            more = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            more = 3;
        } else {
            out += '?';
            ++i;
            continue;
        }
        if (i + more >= utf8.size() && more > 0) {  // truncated sequence at the end
            out += '?';
            break;
        }
        for (std::size_t k = 1; k <= more; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += 1 + more;
        const int b = Cp1250FromCodePoint(cp);
        out += b < 0 ? '?' : static_cast<char>(b);
    }
    return out;
}

}  // namespace zk
