// The stations' number forms and the driver's number texts.
#include "protocol/encodings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace zk;

namespace {
StationReal SR(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    StationReal r;
    r.b[0] = a;
    r.b[1] = b;
    r.b[2] = c;
    return r;
}
std::string Hex(const StationReal& r) { return BytesToHex(r.view()); }

// The encoding as the stations' documentation describes it: the exponent found by halving or
// by searching powers of two, then the 16 fraction bits taken one by one.
StationReal EncodeBitByBit(double v) {
    StationReal r;
    if (v == 0) return r;
    const bool neg = v < 0;
    double a = std::fabs(v);
    int b0 = 0;
    double f = 0;
    if (a > 1) {
        int e = 0;
        while (a >= 2) {
            ++e;
            a /= 2;
        }
        f = a - 1;
        b0 = e + 0x40;
    } else if (a == 1) {
        b0 = 0x40;
    } else {
        int n = 1;
        while (n < 63 && !(a >= std::ldexp(1.0, -n))) ++n;
        f = a * std::ldexp(1.0, n) - 1;
        b0 = 0x40 - n;
    }
    unsigned F = 0;
    for (int k = 1; k <= 16; ++k)
        if (f >= std::ldexp(1.0, -k)) {
            F += 1u << (16 - k);
            f -= std::ldexp(1.0, -k);
        }
    return SR(static_cast<std::uint8_t>(b0 | (neg ? 0x80 : 0)), static_cast<std::uint8_t>(F >> 8),
              static_cast<std::uint8_t>(F & 0xFF));
}
}  // namespace

struct StationRealCase {
    double value;
    StationReal bytes;
};

class StationRealEncoding : public ::testing::TestWithParam<StationRealCase> {};

TEST_P(StationRealEncoding, EncodesToTheDocumentedBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(Hex(FloatToStationReal(c.value)), Hex(c.bytes)) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, StationRealEncoding,
    ::testing::Values(StationRealCase{1.0, SR(0x40, 0, 0)}, StationRealCase{-1.0, SR(0xC0, 0, 0)},
                      StationRealCase{0.5, SR(0x3F, 0, 0)}, StationRealCase{0.75, SR(0x3F, 0x80, 0)},
                      StationRealCase{2.0, SR(0x41, 0, 0)}, StationRealCase{3.0, SR(0x41, 0x80, 0)},
                      StationRealCase{100.0, SR(0x46, 0x90, 0)}, StationRealCase{-100.0, SR(0xC6, 0x90, 0)},
                      StationRealCase{65535.0, SR(0x4F, 0xFF, 0xFE)}, StationRealCase{0.0, SR(0, 0, 0)},
                      StationRealCase{0.1, SR(0x3C, 0x99, 0x99)}, StationRealCase{12345.678, SR(0x4D, 0x81, 0xCD)}));

TEST(StationReal, FractionIsCutNotRounded) {
    EXPECT_DOUBLE_EQ(StationRealToFloat(SR(0x3C, 0x99, 0x99)), 0.09999942779541016);
    EXPECT_DOUBLE_EQ(StationRealToFloat(SR(0x4D, 0x81, 0xCD)), 12345.625);
}

TEST(StationReal, DecodingEdges) {
    EXPECT_EQ(StationRealToFloat(SR(0x00, 0x80, 0x00)), 1.5 * std::ldexp(1.0, -64));  // only 00 00 00 is zero
    EXPECT_EQ(StationRealToFloat(SR(0x00, 0x00, 0x00)), 0.0);
    EXPECT_EQ(StationRealToFloat(SR(0x7F, 0xFF, 0xFF)), (1.0 + 65535.0 / 65536.0) * std::ldexp(1.0, 63));
    EXPECT_LT(StationRealToFloat(SR(0x7F, 0xFF, 0xFF)), std::ldexp(1.0, 64));
    EXPECT_EQ(StationRealToFloat(SR(0x80, 0x00, 0x00)), -std::ldexp(1.0, -64));
    EXPECT_EQ(StationRealToFloat(std::string_view("\x40", 1)), 1.0);  // missing bytes count as zero
}

TEST(StationReal, DirectArithmeticMatchesTheBitByBitEncoding) {
    // Powers of two, their neighbours and a spread of magnitudes across the whole range.
    for (int e = -70; e <= 63; ++e) {
        for (const double m : {1.0, 1.0000001, 1.5, 1.99999, 1.2345678901, 1.0 + 1.0 / 65536, 1.0 - 1e-9}) {
            for (const double sign : {1.0, -1.0}) {
                const double v = sign * m * std::ldexp(1.0, e);
                EXPECT_EQ(Hex(FloatToStationReal(v)), Hex(EncodeBitByBit(v))) << v;
            }
        }
    }
}

TEST(StationReal, EveryEncodingDecodesAndEncodesBackUnchanged) {
    for (unsigned b0 = 1; b0 < 256; b0 += 3) {
        if (b0 == 0x80) continue;  // 80 00 00 is the smallest negative magnitude
        for (unsigned f = 0; f < 65536; f += 997) {
            const StationReal r = SR(static_cast<std::uint8_t>(b0), static_cast<std::uint8_t>(f >> 8),
                                     static_cast<std::uint8_t>(f & 0xFF));
            EXPECT_EQ(Hex(FloatToStationReal(StationRealToFloat(r))), Hex(r));
        }
    }
}

TEST(StationReal, OutOfRangeClampsAndTinyMagnitudesKeepTheLowestExponent) {
    EXPECT_EQ(Hex(FloatToStationReal(std::ldexp(1.0, 64))), Hex(SR(0x7F, 0xFF, 0xFF)));
    EXPECT_EQ(Hex(FloatToStationReal(-1e30)), Hex(SR(0xFF, 0xFF, 0xFF)));
    EXPECT_EQ(Hex(FloatToStationReal(std::numeric_limits<double>::infinity())), Hex(SR(0x7F, 0xFF, 0xFF)));
    EXPECT_EQ(Hex(FloatToStationReal(std::nan(""))), Hex(SR(0, 0, 0)));
    EXPECT_EQ(Hex(FloatToStationReal(1e-30)), Hex(SR(0x01, 0, 0)));  // below 2^-62: n stops at 63
    EXPECT_EQ(Hex(FloatToStationReal(-1e-30)), Hex(SR(0x81, 0, 0)));
}

namespace {
std::uint32_t Bits(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    return static_cast<std::uint32_t>(b0) | static_cast<std::uint32_t>(b1) << 8 | static_cast<std::uint32_t>(b2) << 16 |
           static_cast<std::uint32_t>(b3) << 24;
}
}  // namespace

TEST(IeeeSingle, TextsAndFallbacks) {
    EXPECT_EQ(IeeeSingleToText(Bits(0, 0, 0x80, 0x3F)), " 1.00000000000000E+0000");
    EXPECT_EQ(IeeeSingleToFloat(Bits(0, 0, 0x80, 0x3F), -1.0), 1.0);
    EXPECT_EQ(IeeeSingleToText(Bits(0, 0, 0x80, 0x7F)), "+infinity");
    EXPECT_EQ(IeeeSingleToFloat(Bits(0, 0, 0x80, 0x7F), -1e37), -1e37);
    EXPECT_EQ(IeeeSingleToText(Bits(0, 0, 0xC0, 0xFF)), "-infinity");
    EXPECT_EQ(IeeeSingleToFloat(Bits(0, 0, 0xC0, 0xFF), -1.0), -1.0);
    EXPECT_EQ(IeeeSingleToText(Bits(1, 0, 0xC0, 0x7F)), "NaN/x87 err");
    float big = 2e38f;
    std::uint32_t bigBits;
    std::memcpy(&bigBits, &big, 4);
    EXPECT_EQ(IeeeSingleToText(bigBits), "+infinity");
    EXPECT_EQ(IeeeSingleToText(0), " 0.00000000000000E+0000");
    EXPECT_EQ(IeeeSingleToText(0x80000000u), " 0.00000000000000E+0000");
}

TEST(IeeeSingle, OrdinaryValuesSurviveTheTextRoundTripAsSingles) {
    for (const float f : {0.1f, -2.5f, 3.14159265f, 1e-20f, 123456.789f, -1e37f, 1e-40f /* subnormal */}) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        EXPECT_EQ(static_cast<float>(IeeeSingleToFloat(bits, -1.0)), f) << f;
    }
    const std::uint32_t smallestSubnormal = 1;
    EXPECT_GT(IeeeSingleToFloat(smallestSubnormal, -1.0), 0.0);
    EXPECT_LT(IeeeSingleToFloat(smallestSubnormal | 0x80000000u, -1.0), 0.0);
}

TEST(FormatReal, FixedAndExponentialForms) {
    EXPECT_EQ(FormatReal(0, 0, 1.0), " 1.00000000000000E+0000");
    EXPECT_EQ(FormatReal(0, 0, -12345.678).size(), 23u);
    EXPECT_EQ(FormatReal(0, 0, -12345.678), "-1.23456780000000E+0004");
    EXPECT_EQ(FormatReal(0, 0, 1e-5), " 1.00000000000000E-0005");
    EXPECT_EQ(FormatReal(1, 0, 42.0), "42");
    EXPECT_EQ(FormatReal(1, 2, 3.14159), "3.14");
    EXPECT_EQ(FormatReal(5, 1, 2.25), "  2.2");
    EXPECT_EQ(FormatReal(3, 0, 7.0), "  7");
    EXPECT_EQ(FormatReal(10, 2, -0.5), "     -0.50");
}

TEST(RoundToInt, WholeNumbersAndUnreadableTexts) {
    EXPECT_EQ(RoundToInt(32768.0), 32768);
    EXPECT_EQ(RoundToInt(-3.0), -3);
    EXPECT_EQ(RoundToInt(2.75), 3);
    EXPECT_EQ(RoundToInt(std::nan("")), 0);
    EXPECT_EQ(RoundToInt(1e300), 0);
}

TEST(HexTexts, NibblesBytesWordsAndNumbers) {
    EXPECT_EQ(NibbleToHex(9), '9');
    EXPECT_EQ(NibbleToHex(10), 'A');
    EXPECT_EQ(NibbleToHex(15), 'F');
    EXPECT_EQ(NibbleToHex(16), '?');
    EXPECT_EQ(ByteToHex(0x0A), "0A");
    EXPECT_EQ(WordToHex(0x8000), "8000");
    EXPECT_EQ(BytesToHex(""), "");
    EXPECT_EQ(BytesToHex(std::string_view("\x01\xFF", 2)), "01 FF ");
    EXPECT_EQ(NumberToText(300, 16), "012Ch");
    EXPECT_EQ(NumberToText(300, 10), "300");
    EXPECT_EQ(NumberToText(5, 16), "05h");
    EXPECT_EQ(NumberToText(5, 0), "05");
    EXPECT_EQ(NumberToText(10, 0), "0A");
    EXPECT_EQ(NumberToText(10, 16), "0Ah");
    EXPECT_EQ(NumberToText(-1, 16), "FFh");  // negative numbers give two digits
    EXPECT_EQ(NumberToText(-7, 10), "-7");
}

TEST(Bcd, DigitsUpToTheFirstNonDigit) {
    EXPECT_EQ(BcdToInt(0x59), 59);
    EXPECT_EQ(BcdToInt(0x5A), 5);
    EXPECT_EQ(BcdToInt(0xA5), 0);
    EXPECT_EQ(BcdToInt(0x00), 0);
    EXPECT_EQ(BcdToInt(0x99), 99);
}

TEST(Lcd, DisplayCharactersMapToTheCodePage) {
    EXPECT_EQ(LcdToText(std::string_view("\xDF\xFD\x7F\x7E\x5C" "A", 6)), std::string_view("\xB0\xF7<>\x87" "A", 6));
}

TEST(Bits, ByteAndWordBits) {
    EXPECT_TRUE(BitOfByte(0x80, 7));
    EXPECT_FALSE(BitOfByte(0x180, 8));
    EXPECT_FALSE(BitOfByte(0x100, 0));
    EXPECT_TRUE(BitOfWord(0x0100, 8));
    EXPECT_TRUE(BitOfWord(0x0001, 0));
    std::uint8_t b = 0x01;
    SetBitInByte(b, 3);
    SetBitInByte(b, 3);
    EXPECT_EQ(b, 0x09);
    std::uint16_t w = 0xFFFF;
    ClearBitInWord(w, 15);
    ClearBitInWord(w, 15);
    EXPECT_EQ(w, 0x7FFF);
    EXPECT_EQ(PowerOfTwo(-3), 0.125);
    EXPECT_EQ(PowerOfTwo(10), 1024.0);
}

TEST(RealToInteger, EveryInputHasADefinedResult) {
    EXPECT_EQ(TruncToInt64(std::nan("")), 0);
    EXPECT_EQ(TruncToInt64(1e300), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(TruncToInt64(-std::numeric_limits<double>::infinity()), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(TruncToInt64(-2.9), -2);
    EXPECT_EQ(TruncLow8(300.7), 44);
    EXPECT_EQ(TruncLow8(-1.0), 255);
    EXPECT_EQ(TruncLow16(70000.0), 4464);
    EXPECT_EQ(TruncLow32(4294967296.0 + 5), 5u);
    EXPECT_EQ(TruncLow32(1e300), 0xFFFFFFFFu);  // saturated to 2^63 - 1 first
    EXPECT_TRUE(std::isinf(ToFloat32(1e300)));
    EXPECT_EQ(ToFloat32(0.5), 0.5f);
}
