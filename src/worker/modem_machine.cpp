#include "worker/modem_machine.h"

#include <string>

#include "base/texts.h"
#include "diag/log.h"
#include "worker/line_commands.h"
#include "host/records.h"
#include "line/line.h"
#include "line/modem.h"
#include "protocol/encodings.h"
#include "protocol/framing.h"
#include "worker/pass.h"
#include "worker/scheduler.h"

namespace zk {

namespace {

void ShowModemText(DriverRecord& rec, std::string_view text) {
    Str255 line(text::kModemPrefix);
    line += text;
    ShowEvent(rec, line);
}

void LogAndShowReply(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    const std::string_view reply = ctx.Modem.ReplyText.view();
    WriteLog(ctx.Log, "rec", reply);
    WriteLog(ctx.Log, "rec", BytesToHex(reply));
    ShowModemText(rec, reply);
}

// A dial succeeded: the station that asked for it, and every station with the same number,
// is on line.
void MarkConnectedStations(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    int asked = 0;
    for (int n = 1; n <= ctx.StationCount && !asked; ++n)
        if (const StationRecord* s = DefinedStation(ctx, n); s && s->DialRequested) asked = n;
    if (!asked) return;
    const ShortStr<20> number = DefinedStation(ctx, asked)->PhoneNumber;
    auto connect = [&](StationRecord& s) {
        s.DialRequested = false;
        s.OnLine = true;
        s.Unreachable = false;
        Str255 line(Cut(s.Name.view(), 88));
        line += text::kModemConnected;
        ShowModemText(rec, line);
    };
    connect(*DefinedStation(ctx, asked));
    for (int n = 1; n <= ctx.StationCount; ++n) {
        StationRecord* s = DefinedStation(ctx, n);
        if (n != asked && s && s->PhoneNumber == number) connect(*s);
    }
}

// One step of the first queued command: write it, await its reply, settle a failure.
void CommandStep(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    ModemRecord& m = ctx.Modem;
    ModemCommand& command = m.CommandQueue.front();
    switch (m.ModemState) {
        case ModemState::TakeCommand:
            if (m.PendingText.empty()) {
                ForgetEcho(m);
                Str255 text(command.Block.Command);
                text += command.Number;
                text += command.Suffix;
                m.PendingText = text;
                WriteLog(ctx.Log, "trans", text.view());
                WriteLog(ctx.Log, "trans", BytesToHex(text.view()));
                ShowModemText(rec, text.view());
            }
            m.ModemState = ModemState::Sending;
            break;
        case ModemState::Sending:
            if (!m.PendingText.empty()) {
                SendPending(ctx.Modem, ctx.Line);
            } else if (TxCount(ctx.Line) == 0) {
                m.ReplyText.clear();
                command.Block.Elapsed = 0.0;
                m.ModemMsTimers[2] = 0.0;
                WriteLog(ctx.Log, "timeout", FormatReal(5, 1, command.Block.Limit));
                m.ModemState = ModemState::AwaitingReply;
            }
            break;
        case ModemState::AwaitingReply:
            if (command.Block.Elapsed > command.Block.Limit) {
                std::string detail = "timeout! Modem rec. buffer = \"";
                detail += m.ReplyText.view();
                detail += '"';
                WriteLog(ctx.Log, "rec", detail);
                ShowEvent(rec, text::kModemReplyTimeout);
                // A dial or an answer that ran out of time is still under way in the modem,
                // which would stay busy until its own timer gives up: a carriage return
                // abandons it and brings the modem back to its command mode.
                if (command.Kind == ModemDial || command.Kind == ModemAnswer) {
                    SendText(ctx.Line, "\r");
                    WriteLog(ctx.Log, "trans", "0D (the attempt abandoned)");
                }
                m.ModemState = ModemState::Failed;
            } else if (CollectReply(ctx.Modem, ctx.Line, ctx.Global.PREFIX.view())) {
                LogAndShowReply(rec);
                if (ContainsText(m.ReplyText.view(), command.Block.ExpectedReply.view(), false)) {
                    ModemCommandSucceeded(rec, command.Kind);
                    DropModemCommand(m);
                    WriteLog(ctx.Log, "rec", "oukej");
                    m.ReplyText.clear();
                    m.ModemState = ModemState::TakeCommand;
                } else {
                    WriteLog(ctx.Log, "rec", "error");
                    ShowEvent(rec, text::kModemUnexpectedReply);
                    m.ModemState = ModemState::Failed;
                }
            }
            break;
        case ModemState::Failed:
            ctx.ReopenPortRequested = true;
            ModemCommandFailed(rec, command.Kind);
            m.LineConnected = false;
            WriteLog(ctx.Log, "ctrl", "error");
            DropModemCommand(m);
            m.ModemState = ModemState::TakeCommand;
            break;
        default:  // no such state: start the command over
            m.ModemState = ModemState::TakeCommand;
            break;
    }
}

// No command and no line: count the rings and answer after RingsToAnswer of them.
void Listen(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    ModemRecord& m = ctx.Modem;
    if (!CollectReply(ctx.Modem, ctx.Line, ctx.Global.PREFIX.view())) return;
    if (m.ReplyText == m.RingText) {
        ShowEvent(rec, text::kModemRinging);
        m.ReplyText.clear();
        if (m.RingCount < 255) ++m.RingCount;
        if (m.RingCount >= m.RingsToAnswer) {
            QueueModemCommand(m, ModemAnswer, m.AnswerBlock, {}, {});
            m.RingCount = 0;
            m.SinceRing = 0.0;
            ShowEvent(rec, text::kModemAnswering);
        } else {
            m.SinceRing = 0.0;
        }
    } else {
        m.ReplyText.clear();
    }
}

// The modem's result text for a call that has dropped.
constexpr std::string_view kNoCarrier = "NO CARRIER";

// The modem says "NO CARRIER" between two frames: the line breaks that frame it, the text, and
// a carriage return or line feed after it wait at the front of what was received while the
// framing looks for the next frame. Inside a frame nothing is looked at: an answer may hold any
// bytes. Returns how many bytes the text takes, 0 when it is not there.
std::size_t NoCarrierText(const DriverContext& ctx) {
    const FramingState& f = ctx.Framing;
    const Str255& prefix = ctx.Global.PREFIX;
    const bool betweenFrames = f.RxFrame.empty() && (prefix.empty() || !(f.PrefixWindow == prefix));
    if (!betweenFrames) return 0;
    const std::deque<std::uint8_t>& rx = ctx.Line.Rx;
    std::size_t at = 0;
    while (at < rx.size() && (rx[at] == '\r' || rx[at] == '\n')) ++at;
    if (rx.size() < at + kNoCarrier.size() + 1) return 0;
    for (std::size_t i = 0; i < kNoCarrier.size(); ++i)
        if (rx[at + i] != static_cast<std::uint8_t>(kNoCarrier[i])) return 0;
    at += kNoCarrier.size();
    if (rx[at] != '\r' && rx[at] != '\n') return 0;
    while (at < rx.size() && (rx[at] == '\r' || rx[at] == '\n')) ++at;
    return at;
}

// The call has dropped (the modem has left it by itself): the connection ends as after a
// failed dial, without the hang-up sequence. The host's requests stay queued for the next call.
void EndDroppedCall(DriverRecord& rec, std::string_view how) {
    DriverContext& ctx = *rec.Context;
    ModemRecord& m = ctx.Modem;
    ShowEvent(rec, text::kModemCallDropped);
    WriteLog(ctx.Log, "carrier", std::string("lost: ") + std::string(how));
    ConnectionCleanup(ctx);
    m.LineConnected = false;
    m.CarrierAtConnect = false;
    ctx.Scheduler.TxState = TxState::Choose;
    ctx.Scheduler.Outstanding = false;
    ctx.Scheduler.HoldPolling = false;
    RestartFraming(ctx.Framing);
    ctx.Framing.LastTxMessage.clear();
}

// A connected call that has dropped, told by the modem's text or by the port's carrier line.
bool CallDropped(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    if (ctx.Modem.CarrierAtConnect && ctx.Line.Carrier == CarrierLine::Down) {
        EndDroppedCall(rec, "carrier line (DCD) off");
        return true;
    }
    if (const std::size_t n = NoCarrierText(ctx)) {
        ctx.Line.Rx.erase(ctx.Line.Rx.begin(), ctx.Line.Rx.begin() + static_cast<std::ptrdiff_t>(n));
        EndDroppedCall(rec, kNoCarrier);
        return true;
    }
    return false;
}

}  // namespace

void ModemCommandSucceeded(DriverRecord& rec, std::uint8_t kind) {
    DriverContext& ctx = *rec.Context;
    ModemRecord& m = ctx.Modem;
    switch (kind) {
        case ModemInit:
            m.ModemReady = true;
            ShowEvent(rec, text::kModemInitOk);
            break;
        case ModemDial:
            ctx.AnsweredCall = false;
            m.LineConnected = true;
            m.CarrierAtConnect = ctx.Line.Carrier == CarrierLine::Up;
            m.ConnectedTime = 0.0;
            ++m.ConnectionCount;
            MarkConnectedStations(rec);
            break;
        case ModemHangUp:
            ctx.AnsweredCall = false;
            m.LineConnected = false;
            ShowEvent(rec, text::kModemHungUp);
            ctx.ReopenPortRequested = true;
            break;
        case ModemAnswer:
            ctx.AnsweredCall = true;
            m.LineConnected = true;
            m.CarrierAtConnect = ctx.Line.Carrier == CarrierLine::Up;
            m.ConnectedTime = 0.0;
            ++m.ConnectionCount;
            ctx.Timers.Hold = 0.0;
            ctx.Scheduler.HoldPolling = true;
            ShowEvent(rec, text::kModemAnswered);
            break;
        default: break;
    }
}

void ModemCommandFailed(DriverRecord& rec, std::uint8_t kind) {
    DriverContext& ctx = *rec.Context;
    switch (kind) {
        case ModemInit:
            ctx.Modem.ModemReady = false;
            ShowEvent(rec, text::kModemInitError);
            break;
        case ModemDial:
        case ModemAnswer: {
            ctx.AnsweredCall = false;
            ShowEvent(rec, text::kModemConnectError);
            const int asked = ConnectionCleanup(ctx);
            WriteLog(ctx.Log, "connect error, station idx", FormatReal(3, 0, asked));
            if (asked > 0 && asked <= kMaxStations) {
                if (StationRecord* s = ctx.Stations[static_cast<std::size_t>(asked)].get()) {
                    s->DialRequested = false;
                    s->OnLine = false;
                    s->Unreachable = true;
                }
            }
            break;
        }
        case ModemHangUp:
            ctx.AnsweredCall = false;
            ShowEvent(rec, text::kModemHangUpError);
            break;
        default: break;
    }
}

void ModemStep(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    if (!ctx.Modem.CommandQueue.empty()) CommandStep(rec);
    else if (ctx.Modem.LineConnected.load()) {
        if (!CallDropped(rec)) ScheduleStep(rec);
    }
    else Listen(rec);
}

}  // namespace zk
