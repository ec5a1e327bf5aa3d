// Receive framing: finds the prefix, reads the header and the body, checks and accepts frames.
#pragma once

#include <atomic>
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

// One step of the framing over the worker's line (filled by PumpLine): at most one read of the
// port's bytes per call. True exactly when this call stored a frame in `received`.
// `terminatorTaken` is the modem's note that a reply ended on the first prefix byte. The
// caller holds the instance's lock.
bool ReceiveDATA(FramingState& framing, const GlobalSettings& settings, LinePort& line, ReceiveQueue& received,
                 bool& terminatorTaken, LogState& log);

}  // namespace zk
