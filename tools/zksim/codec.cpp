#include "zksim/codec.h"

#include <bit>
#include <cctype>
#include <cmath>

namespace zksim {

std::array<uint8_t, 3> EncodeStationReal(double value) {
    if (!(value == value) || value == 0.0) return {0, 0, 0};  // NaN and zero
    const bool negative = value < 0;
    double magnitude = std::fabs(value);
    int e = 0;
    const double m = std::frexp(magnitude, &e);  // magnitude = m * 2^e, 0.5 <= m < 1
    int exponent = e - 1;                          // magnitude = (2m) * 2^exponent, 1 <= 2m < 2
    uint32_t fraction = 0;
    if (exponent < -64) return {0, 0, 0};
    if (exponent > 63 || std::isinf(magnitude)) {
        exponent = 63;
        fraction = 0xFFFF;
    } else {
        fraction = static_cast<uint32_t>(std::floor((2.0 * m - 1.0) * 65536.0));
        if (fraction > 0xFFFF) fraction = 0xFFFF;
    }
    const uint8_t b0 = static_cast<uint8_t>((exponent + 64) | (negative ? 0x80 : 0));
    return {b0, static_cast<uint8_t>(fraction >> 8), static_cast<uint8_t>(fraction & 0xFF)};
}

double DecodeStationReal(uint8_t b0, uint8_t b1, uint8_t b2) {
    if (b0 == 0 && b1 == 0 && b2 == 0) return 0.0;
    const double mantissa = 1.0 + ((b1 << 8) | b2) / 65536.0;
    const double v = std::ldexp(mantissa, (b0 & 0x7F) - 64);
    return (b0 & 0x80) ? -v : v;
}

std::array<uint8_t, 4> EncodeSingle(float value) { return EncodeLong(std::bit_cast<uint32_t>(value)); }

float DecodeSingle(const uint8_t* bytes) { return std::bit_cast<float>(DecodeLong(bytes)); }

std::array<uint8_t, 4> EncodeLong(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

uint32_t DecodeLong(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

uint8_t EncodeBcd(int value) {
    const int v = ((value % 100) + 100) % 100;
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

uint8_t XorOf(std::string_view bytes) {
    uint8_t x = 0;
    for (char c : bytes) x ^= Byte(c);
    return x;
}

std::string HexText(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[Byte(c) >> 4];
        out += digits[Byte(c) & 15];
    }
    return out;
}

bool ParseHex(std::string_view text, Bytes& out) {
    out.clear();
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == ',') {
            ++i;
            continue;
        }
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            i += 2;
            continue;
        }
        if (i + 1 >= text.size()) return false;
        const int hi = value(text[i]);
        const int lo = value(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += Char(static_cast<unsigned>(hi << 4 | lo));
        i += 2;
    }
    return true;
}

}  // namespace zksim
