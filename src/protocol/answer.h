// A station's frame read as a typed answer. The parse only reads the frame: it knows nothing of
// the stations, the instance or the request the frame answers, and writes nothing. Applying the
// answer (the stations' image, the table rows, the history, the event text, the log) is the
// worker's step.
//
// A frame (first address byte through the check byte) is a sequence of items from its third
// byte, each starting with a letter. The walk runs over the bytes between the length byte and
// the check byte, and no item is read past them: an item that does not fit ends the walk.
// Views in the answer point into the frame, which must outlive them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zk {

// A: the raw words of the analog inputs, in the frame's order. `input` counts from 1.
struct AnalogWord {
    std::uint8_t input;
    std::uint16_t raw;
};
struct AnalogItem {
    std::vector<AnalogWord> words;
};

// B (inputs) or b (the outputs echoed): 8 bits per group, group 0 holds inputs 1-8.
struct BitGroup {
    std::uint8_t group;
    std::uint8_t bits;
};
struct BinaryItem {
    bool inputs;
    std::vector<BitGroup> groups;
};

// C: the counters. With `reset` the station took over the raw counts of `groups` and sent no
// data; otherwise `counts` holds the raw counts it sent. `counter` counts from 1.
struct CounterWord {
    std::uint8_t counter;
    std::uint16_t raw;
};
struct CounterItem {
    bool reset;
    std::vector<std::uint8_t> groups;
    std::vector<CounterWord> counts;
};

// E: an error report with its code.
struct ErrorReportItem {
    std::uint8_t code;
};
// H: an active report; X: a control error. Both ask for an acknowledgement.
struct ActiveReportItem {};
struct ControlErrorItem {};

// K (the constants read) or k (written): the reals by their memory output, counting from 1.
struct ConstantValue {
    std::uint8_t output;
    double value;
};
struct ConstantsItem {
    bool read;
    std::vector<ConstantValue> values;
};

// N: the bytes read from a memory address; n: a memory write confirmed.
struct MemoryReadItem {
    std::uint16_t address;
    std::string_view data;
};
struct MemoryWrittenItem {
    std::uint16_t address;
};

// QH1: the password item.
struct PasswordItem {};

// One row of a 186-byte sample block: the row of the table (counting from 1, may lie outside
// it), the seven state bytes (six of them BCD, decoded) and the eight 3-byte cells.
struct SampleRow {
    int row;
    std::array<std::uint8_t, 7> state;
    std::array<std::string_view, 8> cells;
};

// QN: a block of data of request kind `kind` from `address`. A block of 186 bytes at an address
// on the sample grid is also read as six sample rows.
struct BlockDataItem {
    std::uint8_t kind;
    std::uint16_t address;
    std::string_view data;
    std::optional<std::array<SampleRow, 6>> samples;
};

// QQ or QX: QQ values written. Ends the walk.
struct QqWrittenItem {};

// Qq or Qx: the 4-byte values from after the sub-letter up to the check byte (a shorter tail is
// dropped). `invalid` marks the station's marker BE BE BE BE. Ends the walk.
struct QqValue {
    std::array<std::uint8_t, 4> bytes;
    bool invalid;
};
struct QqValuesItem {
    std::vector<QqValue> values;
};

using AnswerItem = std::variant<AnalogItem, BinaryItem, CounterItem, ErrorReportItem, ActiveReportItem,
                                ControlErrorItem, ConstantsItem, MemoryReadItem, MemoryWrittenItem, PasswordItem,
                                BlockDataItem, QqWrittenItem, QqValuesItem>;

// Why the walk ended.
enum class ParseStop {
    FrameEnd,       // every item fitted
    LastItem,       // a QQ/QX/Qq/Qx item, which runs to the check byte
    UnknownLetter,  // a letter (or Q sub-letter) that is no item
    Truncated,      // an item that does not fit before the check byte
};

struct Answer {
    std::vector<AnswerItem> items;  // in the frame's order; routing, L, R, Q! and other QH items
                                    // are walked over and not listed
    ParseStop stop = ParseStop::FrameEnd;
    std::size_t stopAt = 0;  // the 1-based position of the item that ended the walk (0: none)
    // The acknowledgement frame (without PREFIX and SUFFIX) when an item asks for one (H, X):
    // for a routed frame the routing item turned round and the items echoed, with its own length
    // and check byte; otherwise the frame itself. Empty when none is asked for.
    std::string acknowledgement;
};

Answer ParseAnswer(std::string_view frame);

}  // namespace zk
