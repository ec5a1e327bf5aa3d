#include "worker/line_commands.h"

#include <string>

#include "base/texts.h"
#include "config/serial_setup.h"
#include "diag/log.h"
#include "diag/status_window.h"
#include "line/line.h"
#include "line/modem.h"
#include "line/serial.h"
#include "platform/platform.h"
#include "worker/pass.h"

namespace zk {

void RunPortActions(DriverRecord& rec, const PortActions& actions) {
    if (!rec.SerialPort) return;
    if (actions.Reopen && !rec.SerialPort->Active()) SetupSerialPort(rec);
    if (actions.Purge) PurgePort(*rec.SerialPort);
    if (actions.SendReturn && rec.SerialPort->Active()) rec.SerialPort->WriteString("\r");
}

void ClearQueues(DriverContext& ctx, PortActions& port) {
    EmptyQueue(ctx.ReadQueue);
    EmptyQueue(ctx.WriteQueue);
    port.Purge = true;
    ctx.Framing.PrefixWindow.clear();
    ctx.Framing.RxFrame.clear();
    ctx.Scheduler.TxState = TxState::Choose;
    ctx.Framing.LastTxMessage.clear();
}

int ConnectionCleanup(DriverContext& ctx, PortActions* hangUp) {
    ModemRecord& m = ctx.Modem;
    // The modem's line texts and flags.
    m.PendingText.clear();
    m.ReplyText.clear();
    m.Pausing = false;
    m.TerminatorTaken = false;
    ForgetEcho(m);
    ctx.AnsweredCall = false;

    int waiting = 0;
    for (int i = 1; i <= ctx.StationCount && i <= kMaxStations; ++i)
        if (const StationRecord* s = ctx.Stations[static_cast<std::size_t>(i)].get(); s && s->DialRequested) waiting = i;

    // The connection itself: a dial still waiting is abandoned by a carriage return, a call
    // is ended by the hang-up command.
    if (hangUp) {
        m.LineConnected = false;
        hangUp->Reopen = ctx.PortLost;  // the command needs the port: one that was lost opens again
        if (waiting > 0) {
            hangUp->SendReturn = true;
        } else {
            ClearModemCommands(m);
            m.ModemState = ModemState::TakeCommand;
            QueueModemCommand(m, ModemHangUp, m.HangupBlock, {}, {});
        }
    }
    WriteLog(ctx.Log, "close", "communication !!!!");
    for (int i = 1; i <= ctx.StationCount && i <= kMaxStations; ++i) {
        StationRecord* s = ctx.Stations[static_cast<std::size_t>(i)].get();
        if (!s) continue;
        s->AwaitingAnswer = false;
        s->OnLine = false;
        s->DialRequested = false;
    }
    return waiting;
}

int HangUp(DriverContext& ctx, PortActions& port) { return ConnectionCleanup(ctx, &port); }

bool HandlePortLoss(DriverRecord& rec) {
    if (!rec.SerialPort || !rec.Context) return false;
    TSerial& port = *rec.SerialPort;
    std::int32_t error = 0;
    std::uint64_t generation = 0;
    if (!port.TakeLoss(error, generation)) return false;
    const std::string device = port.EffectiveDeviceName();
    const std::string reason = SystemErrorText(error);
    // The port first, without the instance's lock: a set-up by the host may be under way.
    bool current = false;
    {
        std::lock_guard setup(rec.PortSetupLock);
        current = port.Generation() == generation;
        if (current) port.CloseLost(generation);
    }

    DriverContext& ctx = *rec.Context;
    std::lock_guard lock(ctx.Lock);
    Str255 line(text::kPortLostPrefix);
    line += device;
    line += text::kPortLostMiddle;
    line += reason;
    ShowEvent(rec, line);
    WriteLog(ctx.Log, "port", "lost " + device + ": " + reason + " (error " + std::to_string(error) + ")");
    // A port opened again before the loss was taken serves a new connection: that one stays.
    if (!current) return true;

    ctx.PortLost = true;
    ModemRecord& m = ctx.Modem;
    ConnectionCleanup(ctx);
    m.LineConnected = false;
    ClearModemCommands(m);
    m.ModemState = ModemState::TakeCommand;
    m.RingCount = 0;
    m.ModemReady = false;
    m.ModemInitRequest = true;
    ctx.Scheduler.TxState = TxState::Choose;
    ctx.Scheduler.Outstanding = false;
    ctx.Scheduler.HoldPolling = false;
    ctx.Framing.PrefixWindow.clear();
    ctx.Framing.RxFrame.clear();
    ctx.Framing.LastTxMessage.clear();
    return true;
}

bool SetupSerialPort(DriverRecord& rec) {
    if (!rec.SerialPort || !rec.Context) return false;
    std::lock_guard setup(rec.PortSetupLock);
    TSerial& port = *rec.SerialPort;
    DriverContext& ctx = *rec.Context;

    // The settings, copied under the lock; the port itself is worked without it.
    ComSettings com;
    {
        std::lock_guard lock(ctx.Lock);
        com = ctx.Com;
    }

    ApplyComSettings(port, com);
    const bool open = port.Active();

    // Cancel what may still be in progress; nothing buffered is lost.
    PurgePort(port);

    std::lock_guard lock(ctx.Lock);
    // The event list and the log say which port opened.
    Str255 line(text::kPortInit);
    line += "COM" + std::to_string(port.Port()) + " " + std::to_string(port.Baudrate()) + "Bd";
    AddEventLine(rec.Window.get(), line);
    WriteLog(ctx.Log, "port", port.EffectiveDeviceName());
    if (!open) {
        AddEventLine(rec.Window.get(), text::kPortOpenError);
        WriteLog(ctx.Log, "port", "error " + std::to_string(port.ErrorCode()));
    }
    // A modem command under way when the port closed had its text (or part of it) written to
    // the earlier open, and its reply can no longer come: it starts over on this one. Left as
    // it was, it would wait out its whole time limit (a hang-up: its pauses and LINEOFF_TIME)
    // and hold up every command and request behind it, then fail and reopen the port again.
    if (open) {
        ctx.PortLost = false;
        ModemRecord& m = ctx.Modem;
        if (!m.CommandQueue.empty() && (m.ModemState != ModemState::TakeCommand || !m.PendingText.empty())) {
            WriteLog(ctx.Log, "port", "modem command started over");
            m.ModemState = ModemState::TakeCommand;
            m.PendingText.clear();
            m.ReplyText.clear();
            m.Pausing = false;
            m.TerminatorTaken = false;
            ForgetEcho(m);
            m.CommandQueue.front().Block.Elapsed = 0.0;
        }
    }
    // The line's state.
    ctx.SinceAnswer = 0.0;
    ctx.Scheduler.TxState = TxState::Choose;
    ctx.Scheduler.LineCode = 222;
    ctx.Framing.PrefixWindow.clear();
    ctx.Framing.RxFrame.clear();
    ctx.AnsweredCall = false;
    return open;
}

}  // namespace zk
