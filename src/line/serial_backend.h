// The system side of TSerial: one open port of the operating system. serial_posix.cpp and
// serial_win32.cpp each implement it; TSerial (serial.cpp) keeps the properties, the open
// state and the threads and reaches the system only through this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "line/serial.h"

namespace zk {

// Line events as mask bits (the values of the Win32 event mask).
enum SerialEvent : std::uint32_t {
    EvRxChar = 0x0001,
    EvTxEmpty = 0x0004,
    EvCts = 0x0008,
    EvDsr = 0x0010,
    EvRlsd = 0x0020,
    EvBreak = 0x0040,
    EvRing = 0x0100,
};
inline constexpr std::uint32_t kSerialEventMask = EvRxChar | EvTxEmpty | EvCts | EvDsr | EvRlsd | EvBreak | EvRing;

struct ModemLines {
    bool Cts = false, Dsr = false, Rlsd = false;
};

// Write time-outs of the system that survive from one open to the next (Win32 keeps its last
// write multiplier and constant when the flow mode is fcNone).
struct WriteTimeouts {
    std::uint32_t Multiplier = 0;
    std::uint32_t Constant = 0;
};

// One open port. Every member may be called from any thread. Cancel() ends every wait in
// progress and makes every later one return at once; the handle itself is closed by the
// destructor, which runs only when nobody uses the object any more. Results are 0 or the
// system's error code.
class SerialBackend {
public:
    virtual ~SerialBackend() = default;

    // Writes all of `data`, giving up after `timeoutMs`, at Cancel or at AbortWrite (an
    // abandoned or aborted write is not an error; a time-out is).
    virtual int Write(std::string_view data, std::uint32_t timeoutMs) = 0;
    // Reads what is buffered, up to `size` bytes, into `buffer`; `got` bytes were read. Never
    // waits longer than 100 ms, and returns at once when nothing is buffered.
    virtual int Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) = 0;
    // Bytes waiting in the system's input and output buffers.
    virtual int Waiting(std::int32_t& rx, std::int32_t& tx) = 0;
    // Cancels reads (rx) and writes (tx) in progress; buffered bytes stay.
    virtual int Purge(bool rx, bool tx) = 0;
    // Line 0 is RTS, line 1 is DTR.
    virtual int SetControlLine(int line, bool on) = 0;
    virtual int ReadModemLines(ModemLines& lines) = 0;
    // The event thread's wait: returns with the events seen, or with mask 0 after Cancel.
    virtual int WaitEvents(std::uint32_t& mask) = 0;
    virtual void Cancel() = 0;
    virtual bool Cancelled() const = 0;
};

// True when a result of this interface means that the device behind the port is gone
// (unplugged, switched off, the far end of a pseudo-terminal closed): every later call on this
// open would fail the same way, and only a new open can reach the device again.
bool DeviceGone(int error);

// Opens the device named in the settings with them applied. On failure returns nullptr and the
// error code in `error`. Failures that leave the port usable go to `softError`.
std::shared_ptr<SerialBackend> OpenSerialDevice(const SerialSettings& settings, WriteTimeouts& timeouts, int& error,
                                                const std::function<void(int)>& softError);

// Lowers the calling thread to idle priority (the event thread).
void LowerEventThreadPriority();

}  // namespace zk
