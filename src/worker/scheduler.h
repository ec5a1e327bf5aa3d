// The poll scheduler: chooses, sends and settles one request at a time while a modem line is
// connected. Writes go before reads, reads before the driver's own cyclic poll (the ring).
// Every function here expects the caller to hold the instance's lock.
//
// The transmit state (TxState, line/line.h) drives it: choose and send, sending, receiving,
// the pause after an answer, an acknowledgement sent, a time-out; any other value returns to
// choosing.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/shortstr.h"
#include "line/line.h"

namespace zk {

// The scheduler's state: the request in flight, the acknowledgement to send, the ring of the
// driver's own poll and the transmit state (which the host reads as a channel).
struct SchedulerState {
    bool Outstanding = false;  // a request is waiting for its answer
    bool AckPending = false;
    Str255 AckText;
    std::atomic<bool> HoldPolling{false};
    std::int32_t MergeLimit = 60;
    std::uint16_t RingStation = 1, RingBlock = 0, RingItem = 1;
    std::uint8_t LineCode = 222;
    std::atomic<zk::TxState> TxState{zk::TxState::Choose};
    Str255 TxMessage;
    // The outstanding request (the host reads them as channels 491 and 494).
    std::atomic<std::uint8_t> OutKind{0};
    std::atomic<std::uint8_t> OutStation{1};
    bool WriteChosen = false;  // which queue the current request came from
    bool ReadChosen = false;
    std::atomic<double> FullSleepLeft{0.0};  // the all-stations sleep, seconds
    // A tone (its frequency in Hz) that the scheduler asks for; the worker sounds it after it
    // has released the lock (worker thread only).
    std::uint16_t BeepRequested = 0;
};

struct DriverRecord;
struct DriverContext;

// One step of the scheduler.
void ScheduleStep(DriverRecord& rec);

// Moves the ring position one step: through the blocks 1..5 of a station (block 5, the memory
// inputs, once per entry unless the station reads them as one block), then to the next station.
void AdvanceRing(DriverContext& ctx);

// The request kind that the ring asks in its block (0..5).
std::int32_t RingKind(std::uint16_t block);

// Merges runs of single-item reads of one station into the read before them, up to the merge
// limit, which cycles 59, 60, 61 per merged node.
void CompactReadQueue(DriverContext& ctx);

// The outcome of a sent request for the queue node it came from (none for a ring request):
// an answer drops it, a time-out retries it or gives the station up.
enum class Outcome { Answered, TimedOut };
void SettleRequest(DriverContext& ctx, Outcome outcome);

// The report of a lost answer: the event line with the time, the counters, the station's sleep
// after SLEEP_COUNT time-outs in a row, the purge of the line.
void ReportTimeout(DriverRecord& rec);

}  // namespace zk
