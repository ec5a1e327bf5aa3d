// The station's own number forms and frame helpers, written from the station's side of the
// line. Nothing here is shared with the driver: the simulator must be able to catch the
// driver's mistakes, so it keeps its own arithmetic.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zksim {

using Bytes = std::string;  // raw bytes on the line (every char is one byte)

// The station real: sign bit, 7-bit exponent biased by 64, 16-bit fraction with a hidden
// leading 1, most significant byte first; 00 00 00 is zero. The fraction is cut, not rounded.
// Magnitudes below 2^-64 encode as zero, magnitudes of 2^64 and above as the largest value.
std::array<uint8_t, 3> EncodeStationReal(double value);
double DecodeStationReal(uint8_t b0, uint8_t b1, uint8_t b2);

// IEEE single, least significant byte first (the order of the station's memory).
std::array<uint8_t, 4> EncodeSingle(float value);
float DecodeSingle(const uint8_t* bytes);

// 32-bit integer, least significant byte first.
std::array<uint8_t, 4> EncodeLong(uint32_t value);
uint32_t DecodeLong(const uint8_t* bytes);

// Packed BCD byte: tens in the high nibble (0..99; larger values are kept modulo 100).
uint8_t EncodeBcd(int value);

// XOR of all bytes.
uint8_t XorOf(std::string_view bytes);

// One line of hex: "01 FF 2A".
std::string HexText(std::string_view bytes);
// Parses "01 ff 2A", "01ff2a" or "0x01 0xff" back into bytes; false on anything else.
bool ParseHex(std::string_view text, Bytes& out);

inline uint8_t Byte(char c) { return static_cast<uint8_t>(c); }
inline char Char(unsigned v) { return static_cast<char>(static_cast<uint8_t>(v)); }

}  // namespace zksim
