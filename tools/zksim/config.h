// What the simulator knows about the line and its stations: read from the same parameter
// file the driver reads (an independent scanner of the few keys the stations need), plus the
// simulator's own settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zksim/codec.h"

namespace zksim {

// How a station lays out its answers: with the routing item ("y" after the length byte, the
// station's address in the routing item) or without it (the station's address first).
enum class Layout { Routed, Short };

struct MemoryEntry {      // one DEF_MEMORY_IN / DEF_MEMORY_OUT entry
    uint16_t address = 0;
    uint8_t type = 3;     // 1 byte, 2 word, 3 station real
};

struct QqItemDef {        // one QQ channel item
    uint8_t d = 0, b = 0, a = 0;
    uint8_t type = 0;     // 1 BYTE .. 7 STRING
};

struct BlockDef {         // one MEMORY_BLOCK
    uint16_t address = 0;
    std::vector<uint8_t> types;  // element type codes 1..6
};

struct StationDef {
    uint8_t address = 0;
    uint8_t retranslation = 0;
    std::string name;
    std::string phone;           // PHONE without its leading "D"; empty: reachable on every call
    int numBinaryIn = 0, numBinaryOut = 0, numAnalogIn = 0, numCounterIn = 0;
    int numMemoryIn = 0, numMemoryOut = 0;
    uint16_t analogAddress = 0;  // DEF_ANALOG_IN_ADDR
    bool wholeBlockRead = false;
    std::vector<MemoryEntry> memoryIn;   // index 0 = entry 1 (100 entries)
    std::vector<MemoryEntry> memoryOut;  // index 0 = entry 1 (100 entries)
    std::vector<QqItemDef> qqItems;
    std::vector<BlockDef> blocks;
    Layout layout = Layout::Routed;
};

struct LineDef {
    Bytes prefix, suffix, presuffix;
    uint8_t driverAddress = 1;
    Bytes ringText;              // CONNECT_RING; empty: the parameter file names none
    std::vector<StationDef> stations;
};

// Reads the parameter file. Lenient: what it cannot read is left at its default; false and a
// message only when the file cannot be opened or names no station.
bool ScanParameterFile(const std::string& path, LineDef& line, std::string& error);
// The same from text already in memory.
bool ScanParameterText(std::string_view text, LineDef& line, std::string& error);

// The line the simulator plays without a parameter file: driver address 1, no prefix, one
// station at address 5 (16 binary inputs, 8 outputs, 4 analog inputs at 256, phone 123).
LineDef DefaultLine();

}  // namespace zksim
