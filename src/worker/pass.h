// One pass of the worker thread, and the pieces of it that the scheduler and the modem machine
// share.
//
// A pass: take what the port received (no lock), then under the instance's lock the timing
// statistics, the timer tick, the modem tick, the modem's init request, one step of the modem
// machine (which steps the scheduler while a line is connected) and one decoding step; then,
// without the lock, write what the pass queued for the line and run a port set-up that the
// modem machine asked for.
#pragma once

#include <atomic>
#include <chrono>
#include <string_view>

namespace zk {

// The millisecond timers that every timer tick advances.
struct PassTimers {
    double Silence = 0.0;  // since the last answer: the pause before the next request (SILENCE_WAIT)
    double Answer = 0.0;   // since the last answer of any station
    double Hold = 0.0;     // since an answered call: polling is held for 10 s
    double Refresh = 0.0;  // the status lines are refreshed every second
};

// The worker's pass statistics (milliseconds; LastPassTime is a reading of the instance's
// monotonic clock, so that a change of the wall clock shows up as no pass at all).
struct PassTiming {
    std::atomic<double> IntervalSum{0.0};
    std::atomic<double> PassCount{0.0};
    double LastPassTime = 0.0;
    std::atomic<double> PassInterval{0.0};
    std::atomic<double> MaxPassInterval{0.0};
    bool WorkerBusy = false;
    std::uint16_t PassesAtOnce = 0;  // passes run one after another without a pause
    // The heap in use as the status window shows it. Walking the heap can take long on a big
    // host, so the worker samples it outside the instance lock, about once a second.
    std::atomic<std::int64_t> HeapBytes{0};
    std::chrono::steady_clock::time_point HeapSampledAt{};
};

struct DriverRecord;

// Runs one pass; returns the pause in milliseconds that should follow it (IDLE_TIME, or 0
// when the pass was skipped).
int WorkerPass(DriverRecord& rec);

// The locked part of a pass (timing to decoding). The caller holds the instance's lock and has
// pumped the line.
void RunPassSteps(DriverRecord& rec);

// RunPassSteps and the pause that should follow in milliseconds: none with IDLE_TIME 0 or after
// a pass that moved something on (at most 64 in a row), else IDLE_TIME or the time until the
// limit the line waits for falls due, when sooner. The caller holds the instance's lock.
int RunPassThenPause(DriverRecord& rec);

// The timer tick at the start of every pass. The caller holds the instance's lock.
void TimerTick(DriverRecord& rec);

// Writes the four refreshed status lines (pass time, queued requests, message counters, heap).
// The caller holds the instance's lock.
void RefreshStatusLabels(DriverRecord& rec);

// The worker's and the host's way to show a text: the event list and the log tag "AddToMemo".
// AddToMemo shows PendingEventText, if any; Show shows `text` in its place. The caller holds
// the instance's lock.
void AddToMemo(DriverRecord& rec);
void Show(DriverRecord& rec, std::string_view text);

// Shows a text in the event list and logs it under "AddToMemo". A text that another step left
// in PendingEventText is shown first, so none is lost. The caller holds the instance's lock.
void ShowEvent(DriverRecord& rec, std::string_view text);

}  // namespace zk
