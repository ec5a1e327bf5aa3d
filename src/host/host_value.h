// What the three parts of the host's channel reads and writes share: the host's value as it is
// read and written, the 8 bytes of a write, and the worker's wake-up.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "zkdrv.h"

#include "base/format.h"
#include "base/shortstr.h"
#include "host/records.h"
#include "host/requests.h"

namespace zk {

// True while the worker serves the line. Before Init, after a failed Init and after Done,
// modem commands and port work are not taken: nobody would carry them out, and a later Init
// would find them waiting.
inline bool LineServed(const DriverRecord& rec) { return rec.Running.load(); }

template <typename T>
inline void Put(ZkHostValue& v, T x) {
    static_assert(sizeof x <= sizeof v.value);
    std::memcpy(v.value, &x, sizeof x);
}

inline bool Is(const ZkHostValue& v, HostType t) { return static_cast<std::uint32_t>(v.type) == t; }

// The host's text buffer of a type-11 value (a native pointer at the start of the value area).
inline char* TextBuffer(const ZkHostValue& v) {
    char* p = nullptr;
    std::memcpy(&p, v.value, sizeof p);
    return p;
}

// The 8 bytes that OutputRequest receives, little-endian, read as each host type.
struct HostBits {
    std::uint64_t raw;
    std::uint8_t U8() const { return static_cast<std::uint8_t>(raw); }
    std::int8_t I8() const { return static_cast<std::int8_t>(U8()); }
    std::uint16_t U16() const { return static_cast<std::uint16_t>(raw); }
    std::int16_t I16() const { return static_cast<std::int16_t>(U16()); }
    std::uint32_t U32() const { return static_cast<std::uint32_t>(raw); }
    std::int32_t I32() const { return static_cast<std::int32_t>(U32()); }
    float F32() const { return std::bit_cast<float>(U32()); }
    double F64() const { return std::bit_cast<double>(raw); }
    bool Flag() const { return U8() != 0; }
};

// Wakes the worker so that a queued request goes out without waiting for the end of its pause.
inline void Resume(DriverRecord& rec) { rec.Wake.Raise(); }

// A station's name and a label, cut together to `cut` characters, for an event line.
inline Str255 NameLine(const StationRecord& s, std::string_view label, std::size_t cut) {
    std::string line = s.Name.str();
    line.append(label);
    return Str255(Cut(line, cut));
}

}  // namespace zk
