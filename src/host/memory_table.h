// The memory-block table of an instance: the 528 rows that a memory-block read of a station
// fills (7 state bytes and 8 station reals each) and the state of that read.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "base/shortstr.h"

namespace zk {

inline constexpr int kTableRows = 528;

struct TextRow {
    std::uint8_t State[7] = {};
    std::array<ShortStr<3>, 8> Cells;
};

struct MemoryBlockTable {
    std::unique_ptr<TextRow[]> TextTable;  // rows 1..528 at [0..527]; the start allocates them
    std::uint16_t MbWords[6] = {};
    std::uint8_t MbStation = 1;            // the station being read
    std::uint8_t MbRequestStation = 1;     // the station the host asks for (0: none)
    std::atomic<bool> MbActive{false};
    std::uint16_t TableRow = 1;            // the row the host reads, 1..528
    TextRow RowBuffer;
    std::uint8_t MbKindIndex = 1;          // 1..3
    std::atomic<bool> MbAltKinds{false};   // the second request-kind table
    bool MbFileFlag = false;               // the last ".CUC" save wrote every row
};

}  // namespace zk
