// Number forms of the stations and the number texts of the driver: the three-byte station
// real, IEEE singles from the station image, packed BCD, bits, the display character set and
// the hexadecimal and real-number texts of the log, the event list and the encoder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// Station real: sign bit, 7-bit exponent biased by 64, 16-bit fraction with a hidden leading 1,
// most significant byte first; 00 00 00 is zero.
struct StationReal {
    std::uint8_t b[3] = {0, 0, 0};
    std::string_view view() const { return {reinterpret_cast<const char*>(b), 3}; }
    friend bool operator==(const StationReal&, const StationReal&) = default;
};

// The value of the first three bytes (missing bytes count as zero).
double StationRealToFloat(std::string_view bytes);
double StationRealToFloat(const StationReal& r);

// The station real of a value; the fraction is cut, never rounded. Magnitudes of 2^64 and above
// (and infinities) give the largest station real of their sign; NaN gives zero.
StationReal FloatToStationReal(double v);

// The text of an IEEE single held as four bytes, least significant first, in a 32-bit number:
// "+infinity", "-infinity", "NaN/x87 err", or the value in the default exponential form.
std::string IeeeSingleToText(std::uint32_t bits);

// The value of an IEEE single as read back from its text; the fallback for the special texts.
double IeeeSingleToFloat(std::uint32_t bits, double fallback);

// Fixed-point text with `decimals` digits, padded on the left to `width`; width 0 and
// decimals 0 give the default exponential form " 1.00000000000000E+0000".
std::string FormatReal(int width, int decimals, double value);

// The value as a whole number, through its fixed-point text; 0 when that text is no integer.
std::int64_t RoundToInt(double value);

char NibbleToHex(unsigned nibble);
std::string ByteToHex(std::uint8_t b);
std::string WordToHex(std::uint16_t w);
// Two hexadecimal digits and a blank per byte.
std::string BytesToHex(std::string_view bytes);
// Radix 10: signed decimal. Otherwise two hexadecimal digits up to 255 (signed comparison),
// four above; radix 16 appends "h".
std::string NumberToText(std::int64_t number, int radix);

// The two hexadecimal digits of a byte read as a decimal number, up to the first non-digit.
int BcdToInt(std::uint8_t b);

// The stations' display characters mapped to the driver's code page.
std::string LcdToText(std::string_view text);

bool BitOfByte(std::uint32_t value, unsigned n);
bool BitOfWord(std::uint32_t value, unsigned n);
void SetBitInByte(std::uint8_t& b, unsigned n);
void ClearBitInWord(std::uint16_t& w, unsigned n);
double PowerOfTwo(int n);

// Conversions of reals to integers with a defined result for every input: NaN gives 0, values
// outside the 64-bit range saturate, then the fraction is cut toward zero.
std::int64_t TruncToInt64(double v);
// The low 32/16/8 bits of TruncToInt64.
std::uint32_t TruncLow32(double v);
std::uint16_t TruncLow16(double v);
std::uint8_t TruncLow8(double v);
// A real narrowed to a 32-bit float without undefined behaviour (out-of-range gives infinity).
float ToFloat32(double v);

}  // namespace zk
