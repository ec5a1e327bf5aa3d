// The host's channel reads and writes. The callers hold no lock; these take it.
#pragma once

#include <cstdint>

#include "host/records.h"

struct ZkHostValue;

namespace zk {

void InputRequest(DriverRecord& rec, std::uint16_t channel);
void GetInput(DriverRecord& rec, std::uint16_t channel, ZkHostValue& value);
void OutputRequest(DriverRecord& rec, std::uint16_t channel, std::uint32_t type, std::uint64_t value);

}  // namespace zk
