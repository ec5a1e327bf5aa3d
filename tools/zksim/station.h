// One simulated station: its memory image and how it answers the request items it is sent.
// Pure data and functions; the simulator adds the line, the timing and the faults.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include "zksim/config.h"

namespace zksim {

// The history area of a station: 50 000 records of 10 bytes from the 24-bit address F00000.
constexpr uint32_t kHistoryBase = 0xF00000;
constexpr uint32_t kHistoryRecords = 50000;
constexpr uint32_t kHistoryBytes = kHistoryRecords * 10;
// The sample tables read through "QN" at 8000h: 528 rows of 31 bytes each.
constexpr uint16_t kSampleBase = 0x8000;
constexpr int kSampleRows = 528;
constexpr int kSampleRowBytes = 31;

// Fills `count` bytes of the station's history area read at the 24-bit `address`
// (F00000..F7FFFF). The default reads the station's own history image.
using HistoryReader = std::function<void(uint32_t address, uint8_t* out, size_t count)>;

// The value a QQ item gives when the station does not hold it: the invalid marker.
constexpr std::array<uint8_t, 4> kQqInvalid = {0xBE, 0xBE, 0xBE, 0xBE};

// The history items every station holds (QQ addresses d/b/a): the capacity code 0/0/1 (1: the
// ring of 50 000 records), the item 186/1/13, Top 186/1/14 (the record the station fills
// next) and UserPos 186/1/(n + 4) of user n = 1..8 (the first record user n has not read).
constexpr uint8_t kHistoryGroup = 0xBA;
constexpr uint8_t kHistoryItem13 = 13;
constexpr uint8_t kHistoryTopItem = 14;
constexpr int kHistoryUsers = 8;
constexpr uint8_t HistoryUserItem(int user) { return static_cast<uint8_t>(user + 4); }

struct StationImage {
    StationDef def;
    std::array<bool, 96> binaryIn{};
    std::array<bool, 96> binaryOut{};
    std::array<uint16_t, 64> analogRaw{};  // raw words of the "A" answer (bit 15: 12-bit range)
    std::array<uint16_t, 48> counters{};   // raw counts of the "C" answer
    std::array<double, 8> constants{};     // the eight constants ("K"/"k")
    std::vector<uint8_t> memory = std::vector<uint8_t>(65536);  // "N"/"n" memory
    std::map<uint32_t, std::array<uint8_t, 4>> qq;               // QQ items by d<<16|b<<8|a
    std::array<std::vector<uint8_t>, 3> samples;                 // sample tables 1..3
    std::vector<uint8_t> history;                                // the history image (lazy)
    HistoryReader historyReader;                                 // overrides the image when set

    explicit StationImage(StationDef d);

    static uint32_t QqKey(uint8_t d, uint8_t b, uint8_t a) { return uint32_t{d} << 16 | uint32_t{b} << 8 | a; }

    // Station reals of the analog area (DEF_ANALOG_IN_ADDR), entries from 1.
    void SetAnalogValue(int n, double value);
    // Memory input/output entry n (from 1) written/read by its type code.
    void SetMemoryEntry(const MemoryEntry& entry, double value);
    double MemoryEntryValue(const MemoryEntry& entry) const;
    // Element `item` (from 1) of memory block `block` (from 1), by the element's type.
    bool SetBlockItem(size_t block, size_t item, double value);
    // A sample row of table `table` (1..3), row 1..528: six date-time numbers (BCD on the
    // line), a state byte and eight values as station reals.
    bool SetSampleRow(int table, int row, const std::array<int, 6>& dateTime, uint8_t state,
                      const std::array<double, 8>& values);
    // One record of the history image.
    bool SetHistoryRecord(uint32_t record, uint16_t word, uint32_t seconds, float value);
    // The station samples: the record goes to Top, and Top moves on along the ring (after
    // record 49 999 comes record 0). A Top outside the ring (or invalid) counts as 0.
    void AppendHistory(uint16_t word, uint32_t seconds, float value);
    // Top and UserPos of user 1..8 as 32-bit numbers (their QQ items, least significant byte
    // first); false when the user is out of range.
    uint32_t HistoryTop() const;
    void SetHistoryTop(uint32_t top);
    bool HistoryUserPos(int user, uint32_t& pos) const;
    bool SetHistoryUserPos(int user, uint32_t pos);
    // Reads `count` bytes of the 24-bit "QN" space.
    void ReadExtended(uint32_t address, uint8_t* out, size_t count);
};

// A request frame as the station sees it (prefix and suffix already stripped).
struct Request {
    uint8_t retranslation = 0;  // byte 1: the station the frame is sent through
    uint8_t driver = 0;         // the driver's address (routing item)
    uint8_t station = 0;        // the station addressed (routing item)
    Bytes body;                 // the request item, without the pre-suffix
};

// Splits a checked frame [retr, L, "Y", drv, st, drv, body, presuffix, X]; false when it is
// not a request (too short, no "Y" routing item).
bool ParseRequest(std::string_view frame, std::string_view presuffix, Request& out);

// The answer items to one request item (possibly changing the image).
Bytes AnswerItems(StationImage& st, std::string_view body);

// Frames answer items to the driver: routed [drv, L, "y", st, drv, st, items, X] (`report`:
// an unsolicited report, with "Y" so that the driver acknowledges it) or short
// [st, L, items, X]. Without the line's prefix and suffix.
Bytes FrameAnswer(Layout layout, uint8_t driver, uint8_t station, std::string_view items, bool report = false);

}  // namespace zksim
