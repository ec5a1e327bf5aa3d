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
    const long long kilobytes = std::llround(static_cast<double>(HeapBytesInUse()) / 1024.0);
    w->Labels[LabelMem] =
        std::string(text::kFmtLabelMemPrefix) + GroupedNumber(kilobytes) + std::string(text::kFmtLabelMemSuffix);
    ++w->Revision;
}

void TimerTick(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    // Elapsed hundredths since the last tick; none across midnight, where the pass
    // average restarts.
    ctx.PendingEventText.clear();
    const std::int32_t now = CentisecondsOfDay(ctx);
    std::int32_t elapsed = 0;
    if (ctx.LastTick > now) {
        ctx.Timing.IntervalSum = 0.0;
        ctx.Timing.PassCount = 0.0;
    } else {
        elapsed = now - ctx.LastTick;
    }
    const double seconds = elapsed / 100.0;

    // Communication timers, the millisecond timers and the status refresh.
    ctx.SinceTransmit = ctx.SinceTransmit.load() + seconds;
    ctx.SinceAnswer = ctx.SinceAnswer.load() + seconds;
    for (double* timer : {&ctx.Timers.Silence, &ctx.Timers.Answer, &ctx.Timers.Hold, &ctx.Timers.Refresh})
        *timer += elapsed * 10.0;
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
    const double now = DateTimeValue(ctx.Clock.now());
    const double interval = (now - ctx.Timing.LastPassTime) * 86400000.0;
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
        ModemTick(ctx.Modem, CentisecondsOfDay(ctx));
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
    ctx.Timing.WorkerBusy = false;
}

int WorkerPass(DriverRecord& rec) {
    DriverContext* ctx = rec.Context.get();
    if (!ctx || ctx->StopRequest.load()) return 0;

    PumpLine(ctx->Line);
    bool reopen = false;
    std::uint16_t beep = 0;
    int pause = 0;
    {
        std::lock_guard lock(ctx->Lock);
        if (ctx->Timing.WorkerBusy || ctx->StopRequest.load()) return 0;
        RunPassSteps(rec);
        reopen = std::exchange(ctx->ReopenPortRequested, false);
        beep = std::exchange(ctx->Scheduler.BeepRequested, std::uint16_t{0});
        pause = ctx->Global.IDLE_TIME > 0 ? ctx->Global.IDLE_TIME : 0;
    }
    FlushLine(ctx->Line);
    if (beep) Beep(beep, 1);
    // The serial set-up takes the lock itself and must not run once a stop has begun.
    if (reopen && rec.Running.load() && !ctx->StopRequest.load()) SetupSerialPort(rec);
    return pause;
}

}  // namespace zk
