#include "protocol/encodings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zk {

double PowerOfTwo(int n) { return std::ldexp(1.0, n); }

double StationRealToFloat(const StationReal& r) {
    if (r.b[0] == 0 && r.b[1] == 0 && r.b[2] == 0) return 0.0;
    double m = 1.0 + r.b[1] / 256.0 + r.b[2] / 65536.0;
    if (r.b[0] & 0x80) m = -m;
    return m * PowerOfTwo(static_cast<int>(r.b[0] & 0x7F) - 64);
}

double StationRealToFloat(std::string_view bytes) {
    StationReal r;
    for (std::size_t i = 0; i < 3 && i < bytes.size(); ++i) r.b[i] = static_cast<std::uint8_t>(bytes[i]);
    return StationRealToFloat(r);
}

StationReal FloatToStationReal(double v) {
    StationReal r;
    if (v == 0.0 || std::isnan(v)) return r;
    const bool negative = v < 0;
    double a = std::fabs(v);
    const std::uint8_t sign = negative ? 0x80 : 0x00;
    if (a >= PowerOfTwo(64)) {  // would overflow the exponent into the sign bit
        r.b[0] = static_cast<std::uint8_t>(0x7F | sign);
        r.b[1] = r.b[2] = 0xFF;
        return r;
    }
    int exponent = 0;  // stored exponent minus 64
    double fraction = 0.0;
    if (a > 1.0) {
        int e = 0;
        while (a >= 2.0) {  // halving is exact
            a /= 2.0;
            ++e;
        }
        exponent = e;
        fraction = a - 1.0;
    } else if (a == 1.0) {
        exponent = 0;
        fraction = 0.0;
    } else {
        int n = 1;
        while (n < 63 && a < PowerOfTwo(-n)) ++n;
        exponent = -n;
        fraction = a * PowerOfTwo(n) - 1.0;
    }
    // The 16 fraction bits, cut: floor(f * 2^16) for 0 <= f < 1; a negative f (magnitudes below
    // 2^-63) has no bits.
    unsigned f16 = 0;
    if (fraction > 0) f16 = static_cast<unsigned>(std::floor(fraction * 65536.0));
    if (f16 > 0xFFFF) f16 = 0xFFFF;
    r.b[0] = static_cast<std::uint8_t>(((exponent + 0x40) & 0x7F) | sign);
    r.b[1] = static_cast<std::uint8_t>(f16 >> 8);
    r.b[2] = static_cast<std::uint8_t>(f16 & 0xFF);
    return r;
}

std::string FormatReal(int width, int decimals, double value) {
    char buf[400];
    if (value == 0.0) value = 0.0;  // zero has no sign in the texts
    if (width == 0 && decimals == 0) {
        if (std::isnan(value)) return "                    Nan";
        if (std::isinf(value)) return value > 0 ? "                   +Inf" : "                   -Inf";
        // " d.ddddddddddddddE+dddd": sign or blank, 15 significant digits, four exponent digits.
        std::snprintf(buf, sizeof buf, "%.14E", value);
        const char* e = std::strchr(buf, 'E');
        const std::string mantissa(buf, static_cast<std::size_t>(e - buf));
        const int exp = std::atoi(e + 1);
        std::string out = mantissa[0] == '-' ? mantissa : " " + mantissa;
        char tail[16];
        std::snprintf(tail, sizeof tail, "E%c%04d", exp < 0 ? '-' : '+', exp < 0 ? -exp : exp);
        return out + tail;
    }
    if (decimals < 0) decimals = 0;
    if (decimals > 60) decimals = 60;
    if (width < 0) width = 0;
    if (width > 200) width = 200;
    std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
    return buf;
}

std::int64_t RoundToInt(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return 0;
    const std::string text = FormatReal(1, 0, value);
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return 0;
    return n;
}

std::string IeeeSingleToText(std::uint32_t bits) {
    const bool negative = (bits >> 31) != 0;
    const unsigned exponentField = (bits >> 23) & 0xFF;
    const std::uint32_t fraction = bits & 0x7FFFFF;
    double value = 0.0;
    if (exponentField == 0 && fraction == 0) {
        value = 0.0;
    } else if (exponentField == 0) {
        value = fraction * PowerOfTwo(-149);  // subnormal
    } else if (exponentField == 255 && fraction == 0x400000) {
        return negative ? "-infinity" : "+infinity";
    } else if (exponentField == 255 && fraction > 0x400000) {
        return "NaN/x87 err";
    } else {
        value = (1.0 + fraction / 8388608.0) * PowerOfTwo(static_cast<int>(exponentField) - 127);
    }
    if (value > 1e38) return negative ? "-infinity" : "+infinity";
    return FormatReal(0, 0, negative ? -value : value);
}

double IeeeSingleToFloat(std::uint32_t bits, double fallback) {
    const std::string text = IeeeSingleToText(bits);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(v)) return fallback;
    while (*end == ' ') ++end;
    return *end == '\0' ? v : fallback;
}

char NibbleToHex(unsigned nibble) {
    if (nibble < 10) return static_cast<char>('0' + nibble);
    if (nibble < 16) return static_cast<char>('A' + nibble - 10);
    return '?';
}

std::string ByteToHex(std::uint8_t b) { return {NibbleToHex(b >> 4), NibbleToHex(b & 0x0F)}; }

std::string WordToHex(std::uint16_t w) {
    return ByteToHex(static_cast<std::uint8_t>(w >> 8)) + ByteToHex(static_cast<std::uint8_t>(w & 0xFF));
}

std::string BytesToHex(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        out += ByteToHex(static_cast<std::uint8_t>(c));
        out += ' ';
    }
    return out;
}

std::string NumberToText(std::int64_t number, int radix) {
    if (radix == 10) return std::to_string(number);
    std::string s = number <= 255 ? ByteToHex(static_cast<std::uint8_t>(number & 0xFF))
                                  : WordToHex(static_cast<std::uint16_t>(number & 0xFFFF));
    if (radix == 16) s += 'h';
    return s;
}

int BcdToInt(std::uint8_t b) {
    const unsigned hi = b >> 4, lo = b & 0x0F;
    if (hi > 9) return 0;
    if (lo > 9) return static_cast<int>(hi);
    return static_cast<int>(hi * 10 + lo);
}

std::string LcdToText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        switch (static_cast<std::uint8_t>(c)) {
            case 0xDF: c = static_cast<char>(0xB0); break;
            case 0xFD: c = static_cast<char>(0xF7); break;
            case 0x7F: c = '<'; break;
            case 0x7E: c = '>'; break;
            case 0x5C: c = static_cast<char>(0x87); break;
            default: break;
        }
    }
    return out;
}

bool BitOfByte(std::uint32_t value, unsigned n) { return n < 8 && ((value & 0xFF) >> n & 1u); }

bool BitOfWord(std::uint32_t value, unsigned n) { return n < 16 && ((value & 0xFFFF) >> n & 1u); }

void SetBitInByte(std::uint8_t& b, unsigned n) {
    if (n < 8) b = static_cast<std::uint8_t>(b | (1u << n));
}

void ClearBitInWord(std::uint16_t& w, unsigned n) {
    if (n < 16) w = static_cast<std::uint16_t>(w & ~(1u << n));
}

std::int64_t TruncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);  // in range: truncation toward zero
}

std::uint32_t TruncLow32(double v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(TruncToInt64(v))); }
std::uint16_t TruncLow16(double v) { return static_cast<std::uint16_t>(TruncLow32(v)); }
std::uint8_t TruncLow8(double v) { return static_cast<std::uint8_t>(TruncLow32(v)); }

float ToFloat32(double v) {
    if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
    if (v > static_cast<double>(std::numeric_limits<float>::max())) {
        // values that round to FLT_MAX stay finite
        return v < 3.4028235677973366e38 ? std::numeric_limits<float>::max() : std::numeric_limits<float>::infinity();
    }
    if (v < -static_cast<double>(std::numeric_limits<float>::max()))
        return v > -3.4028235677973366e38 ? -std::numeric_limits<float>::max() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

}  // namespace zk
