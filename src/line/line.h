// The worker's view of its serial line. The worker takes what the port has received into Rx
// before it locks the instance, works on Rx and on the Outbox while it holds the lock, and
// writes the Outbox after it has released the lock, so the lock never spans port I/O. Only
// the worker thread touches a LinePort; the host's thread goes to the TSerial directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "base/shortstr.h"
#include "line/serial.h"

namespace zk {

class TSerial;

// The transmit state of the scheduler, which the line helpers set as a request leaves; the host
// reads the number on channel 495. Any value not named here returns the scheduler to Choose.
enum class TxState : std::uint8_t {
    Choose = 0,      // choose and send the next request
    Sending = 1,     // the request is leaving the port
    Receiving = 2,   // waiting for the answer
    Pause = 3,       // the pause after an answer
    AckSent = 5,     // an acknowledgement was sent
    TimedOut = 255,  // no answer in time
};

struct LinePort {
    TSerial* Serial = nullptr;
    std::deque<std::uint8_t> Rx;      // received, not yet read
    std::int32_t TxWaiting = 0;       // the port's output count when it was last pumped
    bool Active = false;              // the port was open when it was last pumped
    std::uint64_t Generation = 0;     // the port's open count seen by the last pump
    std::vector<std::string> Outbox;  // texts to write, in order
    // The port's carrier-detect line when it was last pumped (Unknown where it has none).
    CarrierLine Carrier = CarrierLine::Unknown;
    bool PurgeRequested = false;
    std::size_t PurgeAfter = 0;       // Outbox texts queued before the purge was asked for
};

// Before the locked part of a pass: takes every byte the port holds (a port reopened since
// the last pump starts with an empty Rx) and its output count.
void PumpLine(LinePort& line);
// After the locked part: writes the Outbox in order and runs a requested purge at the point
// where it was asked for.
void FlushLine(LinePort& line);

// Bytes waiting to be read.
std::int32_t RxCount(const LinePort& line);
// Bytes waiting to leave: the port's output buffer and the Outbox.
std::int32_t TxCount(const LinePort& line);
// 1 and the byte when one is waiting, else 0.
int ReadByte(LinePort& line, std::uint8_t& out);
// Clears `text`, then reads up to `count` bytes; a read that finds nothing still uses one.
void ReadChars(LinePort& line, Str255& text, std::uint8_t count);
// Queues the text (its first 255 bytes) for writing.
void SendText(LinePort& line, std::string_view text);
// Stores `next` in the transmit state, then queues the text for writing.
void SendText(LinePort& line, std::atomic<TxState>& txState, std::string_view text, TxState next);
// True unless the state is Sending and bytes still wait to leave.
bool TransmitDone(const LinePort& line, TxState txState);
// Cancels reads and writes in progress (after the locked part); buffered bytes stay.
void PurgeLine(LinePort& line);

// The same purge on the port itself, for the host's thread.
void PurgePort(TSerial& port);

}  // namespace zk
