// Builders of the parameter file's records for fixtures and fuzzers: channel items and memory
// blocks added to a station as the loader would add them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "config/station.h"

namespace zktest {

// Appends a QQ channel item with the number, type, direction and station address d, b, a.
inline zk::ChannelItem& AddChannelItem(zk::StationRecord& s, std::uint16_t number, std::uint8_t type,
                                       std::uint8_t direction, std::uint8_t d, std::uint8_t b, std::uint8_t a) {
    auto item = std::make_unique<zk::ChannelItem>();
    item->Channel = number;
    item->Type = type;
    item->Direction = direction;
    item->Address[0] = d;
    item->Address[1] = b;
    item->Address[2] = a;
    s.Channels.push_back(std::move(item));
    return *s.Channels.back();
}

// Appends a memory block at the address with one BIDIR element per type.
inline zk::MemoryBlock& AddMemoryBlock(zk::StationRecord& s, std::uint16_t addr, std::initializer_list<int> types) {
    auto block = std::make_unique<zk::MemoryBlock>();
    block->Addr = addr;
    unsigned total = 0;
    for (const int t : types) {
        block->Types.append(static_cast<char>(t));
        block->Directions.append('\x03');
        total += zk::ElementSize(static_cast<std::uint8_t>(t));
    }
    block->TotalSize = static_cast<std::uint8_t>(total);
    s.MemoryBlocks.push_back(std::move(block));
    return *s.MemoryBlocks.back();
}

}  // namespace zktest
