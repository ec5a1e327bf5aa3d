// Placeholder until channel resolution exists: no channel is known.
#include "host/requests.h"

namespace zk {

void InputRequest(DriverRecord&, std::uint16_t) {}
void GetInput(DriverRecord&, std::uint16_t, ZkHostValue&) {}
void OutputRequest(DriverRecord&, std::uint16_t, std::uint32_t, std::uint64_t) {}

}  // namespace zk
