#include "worker/pass.h"

#include <algorithm>

#include <cmath>
#include <string>
#include <utility>

#include "base/format.h"
#include "base/texts.h"
#include "diag/status_window.h"
#include "history/history.h"
#include "host/records.h"
#include "line/line.h"
#include "line/modem.h"
#include "worker/decoder.h"
#include "worker/line_commands.h"
#include "worker/modem_machine.h"

namespace zk {

namespace {

// A whole number with a blank between groups of three digits.
std::string GroupedNumber(long long n) {
    const bool negative = n < 0;
    std::string digits = std::to_string(negative ? -n : n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

// A running history read-out: the history module completes it (queues the write-back) or
// abandons it at its time-out (and resets the line's receive state); the worker shows the
// text it leaves.
void SuperviseHistoryReadOut(DriverRecord& rec, double elapsedSeconds) {
    DriverContext& ctx = *rec.Context;
    if (ctx.History.HdbReadState != HdbReadState::Reading) return;
    AddToMemo(rec);  // nothing of an earlier step may be overwritten
    HistoryTick(HistoryOf(ctx), elapsedSeconds);
    AddToMemo(rec);
}

// What a pass can move on. When a pass changed any of it, the next step may be due at once:
// the framing's next stage, the choice after a pause, the modem's next command.
struct PassMark {
    TxState txState = TxState::Choose;
    bool outstanding = false;
    std::size_t prefixWindow = 0, rxFrame = 0, received = 0;
    double accepted = 0.0;
    ModemState modemState = ModemState::TakeCommand;
    std::size_t commands = 0, replyText = 0, pendingText = 0;
    std::uint64_t ring = 0;  // the poll's position, while the driver polls by itself
    bool walking = false;    // the driver polls by itself: every choice asks or moves the poll on
};

PassMark Mark(const DriverContext& ctx) {
    PassMark m;
    m.txState = ctx.Scheduler.TxState.load();
    m.outstanding = ctx.Scheduler.Outstanding;
    m.prefixWindow = ctx.Framing.PrefixWindow.size();
    m.rxFrame = ctx.Framing.RxFrame.size();
    m.received = ctx.ReceiveQueue.Entries.size();
    m.accepted = ctx.Framing.AcceptedCount.load();
    m.modemState = ctx.Modem.ModemState;
    m.commands = ctx.Modem.CommandQueue.size();
    m.replyText = ctx.Modem.ReplyText.size();
    m.pendingText = ctx.Modem.PendingText.size();
    // The poll walks past what a station cannot be asked one step a pass; while polling is
    // held the walk moves on without asking anything, which is no work.
    m.walking = ctx.Global.PrstynekRun && !ctx.Scheduler.HoldPolling.load();
    if (m.walking)
        m.ring = (std::uint64_t{ctx.Scheduler.RingStation} << 32) | (std::uint64_t{ctx.Scheduler.RingBlock} << 16) |
                 ctx.Scheduler.RingItem;
    return m;
}

bool MovedOn(const PassMark& a, const PassMark& b) {
    // Choosing nothing (Choose -> Receiving) and finding nothing outstanding (Receiving ->
    // Choose) is the idle round of a connected line: it waits like any idle pass. Not so while
    // the driver polls by itself: a choice that asked nothing moved the poll past a block the
    // station cannot be asked, and the next choice may ask the block after it.
    const bool idleRound =
        !b.outstanding && !b.walking && ((a.txState == TxState::Choose && b.txState == TxState::Receiving) ||
                           (a.txState == TxState::Receiving && b.txState == TxState::Choose));
    if (a.txState != b.txState && !idleRound) return true;
    return a.prefixWindow != b.prefixWindow || a.rxFrame != b.rxFrame || b.received != 0 ||
           a.accepted != b.accepted || a.modemState != b.modemState || a.commands != b.commands ||
           a.replyText != b.replyText || a.pendingText != b.pendingText || a.ring != b.ring;
}

// Passes that may follow one another without a pause; then one pause, whatever moved, so that
// no walk over many steps keeps the worker from ever resting.
constexpr std::uint16_t kPassesAtOnce = 64;

// Milliseconds from now until the timer tick will have counted `hundredths` past LastTick:
// the soft timers move in hundredths of a second, so that is when a limit they wait for is
// passed.
std::int64_t UntilHundredths(const DriverContext& ctx, std::int64_t hundredths) {
    const std::int64_t now = ctx.Clock.monotonicMs();
    return std::max<std::int64_t>(0, (ctx.LastTick + hundredths) * 10 - now);
}

// Hundredths needed for a timer at `value` to pass `limit` (both in the same unit, `scale`
// hundredths per unit): the timers compare with ">", so one step past the limit.
std::int64_t StepsPast(double limit, double value, double scale) {
    if (value > limit) return 0;
    return static_cast<std::int64_t>(std::floor((limit - value) * scale)) + 1;
}

// The pause after a pass that moved nothing on: IDLE_TIME, or less when a limit the line
// waits for falls due sooner (the pause after an answer, the answer time, the modem's
// pauses and reply time).
int PauseAfterPass(const DriverContext& ctx) {
    std::int64_t pause = ctx.Global.IDLE_TIME;
    auto due = [&](std::int64_t hundredths) { pause = std::min(pause, UntilHundredths(ctx, hundredths)); };
    if (ctx.Modem.LineConnected.load() && ctx.Modem.CommandQueue.empty()) {
        switch (ctx.Scheduler.TxState.load()) {
            case TxState::Pause: due(StepsPast(ctx.Global.SILENCE_WAIT, ctx.Timers.Silence, 0.1)); break;
            case TxState::Sending:
            case TxState::Receiving:
                if (ctx.Scheduler.Outstanding) due(StepsPast(ctx.Global.ANSWER_TIME, ctx.SinceTransmit.load(), 100.0));
                break;
            default: break;
        }
    }
    const ModemRecord& m = ctx.Modem;
    if (m.Pausing) due(StepsPast(999.0, m.ModemMsTimers[1], 0.1));  // ends at 1000 ms
    if (!m.CommandQueue.empty() && m.ModemState == ModemState::AwaitingReply) {
        const CommandBlock& block = m.CommandQueue.front().Block;
        due(StepsPast(block.Limit, block.Elapsed, 100.0));
    }
    return static_cast<int>(std::max<std::int64_t>(pause, 0));
}

}  // namespace

void AddToMemo(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    if (ctx.PendingEventText.empty()) return;
    AddEventLine(rec.Window.get(), ctx.PendingEventText);
    WriteLog(ctx.Log, "AddToMemo", ctx.PendingEventText);
    ctx.PendingEventText.clear();
}

void Show(DriverRecord& rec, std::string_view text) {
    rec.Context->PendingEventText.assign(text);
    AddToMemo(rec);
}


void ShowEvent(DriverRecord& rec, std::string_view text) {
    AddToMemo(rec);
    Show(rec, text);
}

void RefreshStatusLabels(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    StatusWindow* w = rec.Window.get();
    if (!w) return;
    const double passes = ctx.Timing.PassCount.load();
    const double average = passes > 0.0 ? ctx.Timing.IntervalSum.load() / passes : 0.0;
    w->Labels[LabelIdle] = Fmt(std::string(text::kFmtLabelIdle).c_str(), ctx.Timing.PassInterval.load(),
                               ctx.Timing.MaxPassInterval.load(), average);
    w->Labels[LabelTransmit] = Fmt(std::string(text::kFmtLabelTransmit).c_str(),
                                   static_cast<double>(CountRequests(ctx.ReadQueue)),
                                   static_cast<double>(CountRequests(ctx.WriteQueue)));
    w->Labels[LabelPacket] = Fmt(std::string(text::kFmtLabelPacket).c_str(), ctx.SentCount.load(),
                                 ctx.Framing.ReceivedCount.load(), ctx.ErrorTotal.load());
    const long long kilobytes = std::llround(static_cast<double>(ctx.Timing.HeapBytes.load()) / 1024.0);
    w->Labels[LabelMem] =
        std::string(text::kFmtLabelMemPrefix) + GroupedNumber(kilobytes) + std::string(text::kFmtLabelMemSuffix);
    ++w->Revision;
}

void TimerTick(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    // Elapsed hundredths since the last tick, on the monotonic clock: summer time, a clock set
    // by hand or by NTP and midnight move no timer. The pass average still restarts when the
    // time of day runs back (at midnight).
    ctx.PendingEventText.clear();
    const std::int64_t now = TickHundredths(ctx);
    const std::int64_t elapsed = std::max<std::int64_t>(0, now - ctx.LastTick);
    const std::int32_t timeOfDay = CentisecondsOfDay(ctx);
    if (ctx.LastTimeOfDay > timeOfDay) {
        ctx.Timing.IntervalSum = 0.0;
        ctx.Timing.PassCount = 0.0;
    }
    ctx.LastTimeOfDay = timeOfDay;
    const double seconds = static_cast<double>(elapsed) / 100.0;

    // Communication timers, the millisecond timers and the status refresh.
    ctx.SinceTransmit = ctx.SinceTransmit.load() + seconds;
    ctx.SinceAnswer = ctx.SinceAnswer.load() + seconds;
    for (double* timer : {&ctx.Timers.Silence, &ctx.Timers.Answer, &ctx.Timers.Hold, &ctx.Timers.Refresh})
        *timer += static_cast<double>(elapsed) * 10.0;
    if (ctx.Timers.Refresh >= 1000.0) {
        ctx.Timers.Refresh = 0.0;
        RefreshStatusLabels(rec);
    }

    // A history read-out in progress.
    SuperviseHistoryReadOut(rec, seconds);

    // The hold after an answered call ends after 10 s.
    if (ctx.Scheduler.HoldPolling.load() && ctx.Timers.Hold >= 10000.0) ctx.Scheduler.HoldPolling = false;

    // Station time and sleep.
    for (int n = 1; n <= ctx.StationCount; ++n) {
        StationRecord* s = DefinedStation(ctx, n);
        if (!s) continue;
        s->ElapsedTime += seconds;
        if (s->SleepLeft > 0.0) {
            s->SleepLeft -= seconds;
            if (s->SleepLeft <= 0.0) {
                s->SleepLeft = 0.0;
                Str255 line(s->Name.view());
                line += text::kSleepEnd;
                ShowEvent(rec, Cut(line.view(), 101));
                s->ErrorCount = 0;
            }
        }
    }

    // The full sleep of all stations.
    if (ctx.Scheduler.FullSleepLeft.load() > 0.0) {
        const double left = ctx.Scheduler.FullSleepLeft.load() - seconds;
        if (left <= 0.0) {
            ctx.Scheduler.FullSleepLeft = 0.0;
            ShowEvent(rec, text::kFullSleepEnd);
        } else {
            ctx.Scheduler.FullSleepLeft = left;
        }
    }

    // The next tick counts from now.
    ctx.LastTick = now;
}

void RunPassSteps(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;

    // Pass timing.
    const double now = static_cast<double>(ctx.Clock.monotonicMs());
    const double interval = now - ctx.Timing.LastPassTime;
    ctx.Timing.PassInterval = interval;
    if (interval > ctx.Timing.MaxPassInterval.load()) ctx.Timing.MaxPassInterval = interval;
    ctx.Timing.LastPassTime = now;
    ctx.Timing.IntervalSum = ctx.Timing.IntervalSum.load() + interval;
    ctx.Timing.PassCount = ctx.Timing.PassCount.load() + 1.0;

    ctx.Timing.WorkerBusy = true;
    TimerTick(rec);
    AddToMemo(rec);

    // The line: the modem's timers, its initialisation after Init, one step of the machine.
    if (ctx.Line.Active) {
        ModemTick(ctx.Modem, TickHundredths(ctx));
        if (ctx.Modem.ModemInitRequest.exchange(false)) {
            ShowEvent(rec, text::kModemInitStart);
            QueueModemCommand(ctx.Modem, ModemInit, ctx.Modem.InitBlock, {}, {});
            // A dial the host asked for before this first pass waits behind the initialisation:
            // sent after the dial, the initialisation would go out on the connected line, fail
            // and end the connection. A command already under way keeps its place.
            ModemRecord& m = ctx.Modem;
            if (m.CommandQueue.size() > 1 && m.ModemState == ModemState::TakeCommand && m.PendingText.empty())
                std::rotate(m.CommandQueue.begin(), m.CommandQueue.end() - 1, m.CommandQueue.end());
        }
        ModemStep(rec);
    }

    // One decoding step.
    ExtractDATA(ctx);
    AddToMemo(rec);
    // A log that cannot be written (since this pass or since Init) says so once.
    if (const std::string failure = TakeLogFailure(ctx.Log); !failure.empty()) ShowEvent(rec, Cut(failure, 255));
    ctx.Timing.WorkerBusy = false;
}

int RunPassThenPause(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    const PassMark before = Mark(ctx);
    RunPassSteps(rec);
    // IDLE_TIME 0: no pause at all. Otherwise none when the pass moved something on, and
    // at most IDLE_TIME: bytes from the line and the host's requests end it early.
    if (ctx.Global.IDLE_TIME <= 0) return 0;
    if (MovedOn(before, Mark(ctx)) && ctx.Timing.PassesAtOnce < kPassesAtOnce) {
        ++ctx.Timing.PassesAtOnce;
        return 0;
    }
    ctx.Timing.PassesAtOnce = 0;
    return PauseAfterPass(ctx);
}

int WorkerPass(DriverRecord& rec) {
    DriverContext* ctx = rec.Context.get();
    if (!ctx || ctx->StopRequest.load()) return 0;

    const auto now = std::chrono::steady_clock::now();
    if (now - ctx->Timing.HeapSampledAt >= std::chrono::seconds(1)) {
        ctx->Timing.HeapSampledAt = now;
        ctx->Timing.HeapBytes = HeapBytesInUse();
    }
    // A device that has gone ends the connection and closes the port before anything else.
    HandlePortLoss(rec);
    PumpLine(ctx->Line);
    bool reopen = false;
    std::uint16_t beep = 0;
    int pause = 0;
    {
        std::lock_guard lock(ctx->Lock);
        if (ctx->Timing.WorkerBusy || ctx->StopRequest.load()) return 0;
        pause = RunPassThenPause(rec);
        reopen = std::exchange(ctx->ReopenPortRequested, false);
        beep = std::exchange(ctx->Scheduler.BeepRequested, std::uint16_t{0});
    }
    FlushLine(ctx->Line);
    if (beep) Beep(beep, 1);
    // The serial set-up takes the lock itself and must not run once a stop has begun.
    if (reopen && rec.Running.load() && !ctx->StopRequest.load()) SetupSerialPort(rec);
    return pause;
}

}  // namespace zk
