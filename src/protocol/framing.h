// Receive framing: finds the prefix, reads the header and the body, checks and accepts frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/shortstr.h"
#include "config/settings.h"
#include "diag/log.h"
#include "line/line.h"
#include "protocol/queues.h"

namespace zk {

// The receive framing's state: the prefix window and the frame being read, the request sent
// last (stored with the next frame) and the framing's counters, which the host reads.
struct FramingState {
    Str255 PrefixWindow;
    Str255 RxFrame;
    Str255 LastTxMessage;
    std::atomic<double> ReceivedCount{0.0};  // frame starts seen
    std::atomic<double> AcceptedCount{0.0};  // frames accepted
};

// Back to searching for the prefix.
void RestartFraming(FramingState& framing);

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

// The station whose request waits for its answer: its index (0 when none waits) and its
// address on the line (none when the index names no station record).
struct AskedStation {
    int Index = 0;
    std::optional<std::uint8_t> Address;
};

// One step of the framing over the worker's line (filled by PumpLine): at most one read of the
// port's bytes per call. True exactly when this call stored a frame in `received`.
// `terminatorTaken` is the modem's note that a reply ended on the first prefix byte. The
// caller holds the instance's lock.
// A frame from another station than the one asked is stored too (for its reports), but it
// answers nothing: `foreign` tells the caller so, and the request text stays for the real
// answer.
bool ReceiveDATA(FramingState& framing, const GlobalSettings& settings, LinePort& line, ReceiveQueue& received,
                 bool& terminatorTaken, LogState& log, const AskedStation& asked, bool* foreign = nullptr);

}  // namespace zk
