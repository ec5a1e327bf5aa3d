// The host's channel reads and writes. The three entry points take the instance's lock
// themselves; the helpers below expect the caller to hold it.
#pragma once

#include <cstdint>

#include "host/records.h"

struct ZkHostValue;

namespace zk {

// Host value types.
enum HostType : std::uint32_t {
    HostBoolean = 2, HostU8 = 3, HostU16 = 4, HostU32 = 5, HostI8 = 6, HostI16 = 7, HostI32 = 8,
    HostFloat = 9, HostDouble = 10, HostText = 11, HostBuffer = 12,
};

void InputRequest(DriverRecord& rec, std::uint16_t channel);
void GetInput(DriverRecord& rec, std::uint16_t channel, ZkHostValue& value);
void OutputRequest(DriverRecord& rec, std::uint16_t channel, std::uint32_t type, std::uint64_t value);

// True when a read of the item's address for the station waits in ReadQueue (a merged read
// counts for each of its addresses).
bool IsReadQueued(const DriverContext& ctx, int station, const ChannelItem& item);
// Queues the read of an item: one request, or eight consecutive addresses for a STRING item.
void QueueChannelRead(DriverContext& ctx, const ChannelItem& item, int station);
// Queues the write of an item's value (nothing for a STRING item).
void QueueChannelWrite(DriverContext& ctx, const ChannelItem& item, int station);

}  // namespace zk
