// The state of one driver instance: the driver record the host holds and its context, which
// puts together the records that each part of the driver owns:
//   config/settings.h      GlobalSettings, ComSettings  the [GLOBAL] and [COM] settings
//   config/station.h       StationRecord                 definitions and data image, 1..100
//   line/modem.h           ModemRecord                   the AT modem and its command queue
//   line/line.h            LinePort                      the worker's view of the serial line
//   protocol/framing.h     FramingState                  the receive framing
//   protocol/queues.h      RequestQueue, ReceiveQueue    requests to send, frames to decode
//   history/history.h      HistoryReadout                history read-out and browsing
//   diag/log.h             LogState                      the log file
//   worker/scheduler.h     SchedulerState                the poll scheduler
//   worker/pass.h          PassTiming                    the worker's pass statistics
//   host/memory_table.h    MemoryBlockTable              the memory-block table
// plus what is the instance's own (its lock and clock, names, statistics, timers and the
// hand-over flags). Reals the stations keep in their own forms are held here as doubles.
//
// Threads. The host's thread runs the exports; the worker thread runs the passes. Both hold
// DriverContext::Lock while they touch the queues, the station records, the channel items,
// the memory blocks, the text table, the modem record, the history state or the status
// window. Neither holds it across port I/O, a sleep or a wait for the other thread. The
// fields that one side reads without the lock are std::atomic.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/shortstr.h"
#include "base/wake_signal.h"
#include "config/par_reader.h"
#include "config/settings.h"
#include "config/station.h"
#include "diag/log.h"
#include "history/history.h"
#include "host/memory_table.h"
#include "line/line.h"
#include "line/modem.h"
#include "platform/platform.h"
#include "protocol/framing.h"
#include "protocol/queues.h"
#include "worker/pass.h"
#include "worker/scheduler.h"

namespace zk {

class TSerial;
class DrvThread;
struct StatusWindow;
class StatusView;
struct ChannelIndex;

inline constexpr std::size_t kHostBufferSize = 16862;

// ---- Context ------------------------------------------------------------------------------

struct DriverContext {
    std::mutex Lock;  // the instance's lock (see the top of this file)
    zk::Clock Clock;  // the wall clock of the time stamps, the monotonic clock of every timer

    std::atomic<bool> StopRequest{false};
    ShortStr<27> KeyCodes;

    GlobalSettings Global;
    ComSettings Com;
    std::uint8_t StationCount = 0;
    StationSlots Stations;  // 1..100
    // The channel lookup built from the loaded stations (host/channels.h); none until built.
    std::shared_ptr<const ChannelIndex> ChannelLookup;

    ModemRecord Modem;
    LinePort Line;  // the worker's line (worker thread only)
    FramingState Framing;
    zk::ReceiveQueue ReceiveQueue;
    RequestQueue WriteQueue;
    RequestQueue ReadQueue;
    SchedulerState Scheduler;
    PassTiming Timing;
    HistoryReadout History;
    MemoryBlockTable Table;
    LogState Log;

    char ErrorText[256] = {};
    Str255 ParFileName;
    Str255 DriverName;

    // Test injection.
    std::uint16_t TestChannel = 1;
    double TestValue = 0.0;
    bool TestFlag = false;

    // Communication statistics (host reads them as channels).
    std::atomic<double> SinceAnswer{0.0};
    std::atomic<double> SinceTransmit{0.0};
    std::atomic<double> SentCount{0.0};
    std::atomic<double> ErrorTotal{0.0};
    std::int64_t LastTick = 0;        // TickHundredths at the last timer tick
    std::int32_t LastTimeOfDay = 0;   // CentisecondsOfDay at the last timer tick (the pass average)
    std::int64_t StatsResetTime = 0;  // TickHundredths at the context reset
    PassTimers Timers;

    bool AnsweredCall = false;
    // The modem machine asks for the serial set-up again; the worker runs it after it has
    // released the lock (worker thread only).
    bool ReopenPortRequested = false;
    // The device behind the port went away and the port has not opened since: the host's next
    // modem command opens it again (HandlePortLoss sets it, a successful serial set-up clears it).
    bool PortLost = false;

    std::uint8_t* HostBuffer = nullptr;  // the host's shared buffer (kHostBufferSize bytes)

    Str255 PendingEventText;
    std::atomic<bool> InputsSuspended{false};

    DriverContext();
    ~DriverContext();
    DriverContext(const DriverContext&) = delete;
    DriverContext& operator=(const DriverContext&) = delete;
};

// The current local time of day in hundredths of a second, from the instance's wall clock.
std::int32_t CentisecondsOfDay(const DriverContext& ctx);
// The instance's monotonic clock in hundredths of a second: the time base of every soft timer.
// A change of the wall clock does not move it.
std::int64_t TickHundredths(const DriverContext& ctx);

// The station with index 1..StationCount (an existing record), or nullptr.
StationRecord* DefinedStation(DriverContext& ctx, int index);

// Every setting to its default; allocates the 100 station records and the text table.
void ResetContext(DriverContext& ctx);

// The parameter file loader's view of the instance, with the status window for its lines.
ConfigContext ConfigOf(DriverContext& ctx, StatusWindow* window);

// The history functions' view of the instance; an abandoned read-out clears the queues and the
// line with the instance's common step.
HistoryContext HistoryOf(DriverContext& ctx);

// ---- Driver record ------------------------------------------------------------------------

struct DriverRecord {
    std::uint32_t Magic = 0x5A4B4452;      // "ZKDR" while the record lives
    std::unique_ptr<StatusWindow> Window;  // created by Init, freed by Done
    std::unique_ptr<StatusView> View;      // the window on the screen (Windows), before the model goes
    std::unique_ptr<DrvThread> Thread;     // exists while the worker runs
    std::uint32_t LoginLevel = 0;
    std::uint32_t InitArg9 = 0;
    std::uint32_t InitArg8 = 0;
    std::atomic<bool> Running{false};
    // Ends the worker's pause between passes: raised by the port's receive event, by the host's
    // requests and by a stop. Declared before the port, whose event thread raises it, so that
    // it outlives the port.
    WakeSignal Wake;
    // Serialises the port's set-up: the worker (after a failed command or a hang-up) and the
    // host (a dial) may both reopen the port, and neither may close it under the other.
    // Never taken while the instance's lock is held.
    std::mutex PortSetupLock;
    std::unique_ptr<DriverContext> Context;
    std::unique_ptr<TSerial> SerialPort;

    DriverRecord();
    ~DriverRecord();
    DriverRecord(const DriverRecord&) = delete;
    DriverRecord& operator=(const DriverRecord&) = delete;
};

}  // namespace zk
