// Code page 1250, the driver's character set on every boundary (files, host, event list).
// Texts are written in the source as readable UTF-8 (u8"..."_cp) and become CP1250 bytes at
// compile time; a character that CP1250 cannot hold is a compile error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// Unicode code points of the CP1250 bytes 0x80..0xFF; 0 marks the five unassigned bytes.
inline constexpr std::array<char16_t, 128> kCp1250High = {
    0x20AC, 0,      0x201A, 0,      0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0,      0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0,      0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

// The CP1250 byte of a code point, or -1.
constexpr int Cp1250FromCodePoint(char32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    for (std::size_t i = 0; i < kCp1250High.size(); ++i)
        if (kCp1250High[i] != 0 && kCp1250High[i] == cp) return static_cast<int>(0x80 + i);
    return -1;
}

template <std::size_t N>
struct Cp1250Text {
    char bytes[N] = {};
    std::size_t len = 0;
    constexpr std::string_view view() const { return {bytes, len}; }
};

template <std::size_t N>
struct Utf8Literal {
    char8_t s[N] = {};
    consteval Utf8Literal(const char8_t (&lit)[N]) {  // NOLINT: literal operator template argument
        for (std::size_t i = 0; i < N; ++i) s[i] = lit[i];
    }
};

template <std::size_t N>
consteval Cp1250Text<N> ToCp1250(const Utf8Literal<N>& in) {
    Cp1250Text<N> out;
    std::size_t i = 0;
    const std::size_t end = N - 1;  // drop the literal's NUL
    while (i < end) {
        const auto c = static_cast<unsigned char>(in.s[i]);
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
        } else {
            throw "text outside code page 1250";
        }
        for (std::size_t k = 1; k <= more; ++k) {
            if (i + k >= end) throw "broken UTF-8";
            cp = (cp << 6) | (static_cast<unsigned char>(in.s[i + k]) & 0x3F);
        }
        i += 1 + more;
        const int b = Cp1250FromCodePoint(cp);
        if (b < 0) throw "text outside code page 1250";
        out.bytes[out.len++] = static_cast<char>(b);
    }
    return out;
}

template <Utf8Literal L>
inline constexpr auto kCp1250Storage = ToCp1250(L);

inline namespace literals {
// u8"Příjem"_cp is the CP1250 text as a string_view into constant storage.
template <Utf8Literal L>
constexpr std::string_view operator""_cp() {
    return kCp1250Storage<L>.view();
}
}  // namespace literals

// CP1250 bytes as UTF-8 (for the terminal of the tools and for readable test failures).
std::string Cp1250ToUtf8(std::string_view cp1250);

// UTF-8 as CP1250; characters outside the code page become '?'.
std::string Utf8ToCp1250(std::string_view utf8);

}  // namespace zk
