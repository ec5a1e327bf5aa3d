// Receive framing: finds the prefix, reads the header and the body, checks and accepts frames.
#pragma once

#include <string_view>

#include "host/records.h"

namespace zk {

// True when the XOR of every byte but the last equals the last (a single byte: when it is 0).
bool XorCheck(std::string_view s);

// The address a frame is sent to and the address of its sender, by the frame's layout: with a
// routing item ("Y"/"y" third) the first and the sixth byte, otherwise the driver's own address
// and the first byte. Not valid for a frame too short to tell.
struct FrameAddresses {
    bool valid = false;
    std::uint8_t target = 0;
    std::uint8_t sender = 0;
};
FrameAddresses AddressesOf(std::string_view frame, std::uint8_t driverAddress);

// One step of the framing over the worker's line (ctx.Line, filled by PumpLine): at most one
// read of the port's bytes per call. True exactly when this call stored a frame in
// ReceiveQueue. The caller holds the instance's lock.
// A frame from another station than the one whose request waits for its answer is stored
// too (for its reports), but it answers nothing: `foreign` tells the caller so, and the
// request text stays for the real answer.
bool ReceiveDATA(DriverContext& ctx, bool* foreign = nullptr);

}  // namespace zk
