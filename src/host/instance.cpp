#include "host/instance.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "config/defaults.h"
#include "config/parfile.h"
#include "config/serial_setup.h"
#include "diag/log.h"
#include "diag/status_view.h"
#include "diag/status_window.h"
#include "history/history.h"
#include "host/channels.h"
#include "line/serial.h"
#include "worker/drv_thread.h"
#include "worker/line_commands.h"
#include "worker/pass.h"

namespace zk {

namespace {

// Copies a text into the host's 256-byte buffer, NUL-terminated and cut to 80 characters.
void CopyErrorText(char* text256, std::string_view text) {
    if (!text256) return;
    const std::size_t n = std::min<std::size_t>(text.size(), 80);
    std::memcpy(text256, text.data(), n);
    text256[n] = '\0';
}

void SetErrorText(DriverContext& ctx, std::string_view text) {
    const std::size_t n = std::min<std::size_t>(text.size(), 80);
    std::memcpy(ctx.ErrorText, text.data(), n);
    ctx.ErrorText[n] = '\0';
}

// The driver's name from the host's buffer: at most 255 characters up to the NUL.
std::string NameFromHost(const char* text256) {
    if (!text256) return {};
    std::size_t n = 0;
    while (n < 255 && text256[n] != '\0') ++n;
    return std::string(text256, n);
}

char ParityLetter(std::uint16_t parity) {
    static constexpr char kLetters[] = {'N', 'E', 'O', 'M', 'S'};
    return parity < 5 ? kLetters[parity] : '?';
}

// Stops the worker: closes the port (ending a write in progress), clears Running, sets
// StopRequest and waits for the thread. The instance's lock is not held.
void StopWorker(DriverRecord& rec) {
    if (!rec.Running.load() && !rec.Thread) return;
    if (rec.SerialPort) rec.SerialPort->SetActive(false);
    rec.Running = false;
    if (rec.Context) rec.Context->StopRequest = true;
    if (rec.Thread) {
        rec.Thread->Wake();
        rec.Thread->Join();
        rec.Thread.reset();
    }
}

}  // namespace

DriverRecord* MakeDriver() {
    auto* rec = new DriverRecord;
    rec->Context = std::make_unique<DriverContext>();
    rec->SerialPort = std::make_unique<TSerial>();
    rec->SerialPort->SetActive(false);
    // Bytes from the line end the worker's pause at once (the handler runs on the port's
    // event thread and only raises the signal).
    WakeSignal& wake = rec->Wake;
    rec->SerialPort->OnRxData = [&wake](TSerial&) { wake.Raise(); };
    rec->SerialPort->OnTxEmpty = [&wake](TSerial&) { wake.Raise(); };
    // A device that has gone is handled by the worker's next pass (HandlePortLoss).
    rec->SerialPort->OnLost = [&wake](TSerial&) { wake.Raise(); };
    rec->Context->Line.Serial = rec->SerialPort.get();
    return rec;
}

void DisposeDriver(DriverRecord* rec) {
    if (!rec) return;
    StopWorker(*rec);
    rec->View.reset();  // on the host's thread, before the model it shows goes
    if (DriverContext* ctx = rec->Context.get()) {
        // The queues first: nothing may be sent or decoded any more.
        FreeReceiveQueue(ctx->ReceiveQueue);
        EmptyQueue(ctx->ReadQueue);
        EmptyQueue(ctx->WriteQueue);
        WriteLog(ctx->Log, "done", "queues are empty");
        // The modem's commands.
        ctx->Modem.CommandQueue.clear();
        WriteLog(ctx->Log, "done", "modem objects done");
        // The stations: their lists, their histories written back to the files, the records.
        for (int n = 1; n <= kMaxStations; ++n) {
            auto& slot = ctx->Stations[static_cast<std::size_t>(n)];
            if (!slot) continue;  // never created (no Init)
            slot->Channels.clear();
            slot->MemoryBlocks.clear();
            if (slot->Hdb) {
                SaveHistory(HistoryOf(*ctx), n);
                slot->Hdb.reset();
            }
            slot.reset();
        }
        WriteLog(ctx->Log, "done", "stations/data closed");
        // The memory-block table.
        ctx->Table.TextTable.reset();
        WriteLog(ctx->Log, "done", "end");
    }
    // The port, the context and the record.
    rec->Window.reset();
    rec->SerialPort.reset();
    rec->Context.reset();
    rec->Magic = 0;
    delete rec;
}

namespace {

// A log that cannot be written says so once in the event list.
void ShowLogFailure(StatusWindow& window, LogState& log) {
    const std::string failure = TakeLogFailure(log);
    if (!failure.empty()) AddEventLine(&window, Str255(failure));
}

}  // namespace

bool Init(DriverRecord& rec, std::int32_t nameLength, const char* parFileName, char* text256,
          std::uint32_t loginLevel, std::uint32_t arg8, std::uint32_t arg9) {
    StopWorker(rec);  // a second Init on a running instance starts over
    rec.View.reset();
    DriverContext& ctx = *rec.Context;
    const std::string hostName = NameFromHost(text256);

    // The host's arguments.
    rec.LoginLevel = loginLevel;
    rec.InitArg9 = arg9;
    rec.InitArg8 = arg8;

    std::unique_lock lock(ctx.Lock);
    // The status window and its identity texts.
    rec.Window = std::make_unique<StatusWindow>();
    StatusWindow& window = *rec.Window;
    InitStatusWindow(window);
    window.Driver = &rec;
    window.Enabled = true;  // the login level is never below 0
    window.LabelName = text::kLabelName;
    window.LabelVersion = text::kLabelVersion;
    window.Caption = std::string(text::kDriverInfo) + ": " + hostName;
    // The window on the screen, on this (the host's) thread; it reads the model under the lock.
    lock.unlock();
    std::string viewFailure;  // why no window could be made, where one should have been
    rec.View = StatusView::Create(window, ctx.Lock, &viewFailure);
    lock.lock();

    // Every setting and station back to its default.
    WriteLog(ctx.Log, "Init", "Start");
    ClearChannelIndex(ctx);  // the stations it points into are about to be replaced
    ResetContext(ctx);
    ctx.Line.Serial = rec.SerialPort.get();

    // The names the host gave, shown in the event list.
    ctx.DriverName.assign(hostName);
    AddEventLine(&window, Str255(text::kDriverNameInHost) += ctx.DriverName);
    ctx.ParFileName = ParFileNameFromHost(nameLength, parFileName);
    AddEventLine(&window, Str255(text::kParameterFile) += ctx.ParFileName);
    AddEventLine(&window, Str255(text::kLoginLevel) += std::to_string(rec.LoginLevel));

    // The parameter file (read without the lock).
    lock.unlock();
    ConfigContext target = ConfigOf(ctx, rec.Window.get());
    const bool loaded = LoadParameterFile(target, ctx.Lock);
    lock.lock();
    if (!loaded) {
        const std::string_view error(ctx.ErrorText, strnlen(ctx.ErrorText, 80));
        CopyErrorText(text256, error);
        WriteLog(ctx.Log, "PARfile ERROR", error);
        ShowLogFailure(window, ctx.Log);
        rec.Running = false;
        return false;
    }

    // The status lines of the log and the port.
    window.Labels[LabelPRN] = Fmt(std::string(text::kFmtLabelPrn).c_str(), ctx.Log.LogFileName.str().c_str(),
                                  std::string(ctx.Log.LogEnabled ? text::kLogOn : text::kLogOff).c_str());
    const char parity[2] = {ParityLetter(ctx.Com.Parity), '\0'};
    window.Labels[LabelCOM] = Fmt(std::string(text::kFmtLabelCom).c_str(), ctx.Com.ComPort, ctx.Com.BaudRate, ctx.Com.DataBits,
                                  parity, ctx.Com.StopBits);
    ++window.Revision;

    // The stations' run-time data, the channel index and the history files.
    PrepareStations(ctx.Stations);
    BuildChannelIndex(ctx);
    AddEventLine(&window, text::kHdbStart);
    for (int n = 1; n <= ctx.StationCount; ++n) LoadHistory(HistoryOf(ctx), n);
    ShowHistoryRecord(HistoryOf(ctx));
    AddEventLine(&window, text::kHdbOk);
    WriteLog(ctx.Log, "init", "reset data stations OK");

    // The run-time state: queues, framing, statistics and timers start empty.
    ctx.StopRequest = false;
    FreeReceiveQueue(ctx.ReceiveQueue);
    EmptyQueue(ctx.WriteQueue);
    EmptyQueue(ctx.ReadQueue);
    ctx.Framing.PrefixWindow.clear();
    ctx.Framing.RxFrame.clear();
    ctx.SinceAnswer = 0.0;
    ctx.SinceTransmit = 0.0;
    ctx.Framing.AcceptedCount = 0.0;
    ctx.Framing.ReceivedCount = 0.0;
    ctx.SentCount = 0.0;
    ctx.ErrorTotal = 0.0;
    ctx.Scheduler.WriteChosen = false;
    ctx.Scheduler.ReadChosen = false;
    ctx.Timers = PassTimers{};
    ctx.Table.MbAltKinds = false;
    ctx.StatsResetTime = TickHundredths(ctx);
    ctx.LastTick = ctx.StatsResetTime;
    ctx.LastTimeOfDay = CentisecondsOfDay(ctx);
    ctx.Modem.ModemLastTick = ctx.StatsResetTime;

    // The modem is initialised by the first pass.
    WriteLog(ctx.Log, "init", "return reset buffer - INIT = TRUE");
    ctx.Modem.ModemInitRequest = true;
    WriteLog(ctx.Log, "LoadPARfile", "OK");
    ShowLogFailure(window, ctx.Log);
    AddEventLine(&window, text::kInitOk);
    if (!viewFailure.empty()) {
        // The instance works on without its window; the host's window requests do nothing.
        AddEventLine(&window, Str255(text::kStatusWindowNotCreated) += viewFailure);
        WriteLog(ctx.Log, "StatusWindow", "not created: " + viewFailure);
    }

    // The port (no lock across port I/O).
    lock.unlock();
    SetupSerialPort(rec);
    lock.lock();

    // Nothing queued before the port opened is sent.
    if (ctx.Global.PrstynekRun) WriteLog(ctx.Log, "LOADPARFILE", "PrstynekRUN=true");
    EmptyQueue(ctx.WriteQueue);
    EmptyQueue(ctx.ReadQueue);

    // The worker, only when the port opened.
    if (rec.SerialPort->Active()) {
        rec.Running = true;
        lock.unlock();
        rec.Thread = std::make_unique<DrvThread>(rec);
        return true;
    }

    // No port: Init fails with the port's error text.
    SetErrorText(ctx, text::kComInstallError);
    CopyErrorText(text256, text::kComInstallError);
    rec.Running = false;
    return false;
}

void Done(DriverRecord& rec) {
    StopWorker(rec);
    rec.View.reset();  // the worker has stopped; the window goes before its model
    std::lock_guard lock(rec.Context->Lock);
    rec.Window.reset();
}

bool BufferInfo(std::uint32_t id, std::uint32_t kind, std::uint32_t size) {
    return id == kHostBufferId && (kind & 0xFF) == 9 && size == kHostBufferSize;
}

namespace {
template <typename T>
void PutAt(std::uint8_t* buffer, std::size_t offset, T value) {
    if (offset + sizeof value <= kHostBufferSize) std::memcpy(buffer + offset, &value, sizeof value);
}
}  // namespace

void SetBufferAddr(DriverRecord& rec, std::uint32_t id, void* address) {
    if (id != kHostBufferId || !rec.Context) return;
    DriverContext& ctx = *rec.Context;
    std::lock_guard lock(ctx.Lock);
    ctx.HostBuffer = static_cast<std::uint8_t*>(address);
    std::uint8_t* b = ctx.HostBuffer;
    if (!b) return;
    PutAt<std::uint16_t>(b, 0, 0);
    PutAt<std::uint16_t>(b, 2, 8);
    PutAt<std::uint32_t>(b, 4, 528);
    PutAt<std::uint32_t>(b, 8, 0);
    PutAt<std::uint32_t>(b, 12, 0);
    PutAt<std::uint32_t>(b, 16, 0);
    PutAt<std::uint16_t>(b, 20, 0);
    PutAt<std::uint16_t>(b, 22, 9);
    PutAt<std::uint32_t>(b, 24, 0);
    PutAt<std::uint16_t>(b, 28, 0);
    PutAt<float>(b, 30, 300.0f);
    for (std::size_t r = 1; r <= kTableRows; ++r)
        for (std::size_t c = 1; c <= 8; ++c) PutAt<std::uint32_t>(b, 34 + 32 * (r - 1) + 4 * (c - 1), 0);
}

void DriverProc(DriverRecord& rec, std::uint32_t code, std::uint32_t p1, std::uint32_t p2, std::uint32_t p3,
                std::uint32_t p4) {
    if (!rec.Context) return;
    std::unique_lock lock(rec.Context->Lock);
    StatusWindow* w = rec.Window.get();
    if (!w) return;
    switch (code) {
        case 0: w->Visible = false; break;
        case 1: w->Visible = true; break;
        case 2: w->Minimised = true; break;
        case 3: w->Minimised = false; break;
        case 4: w->Focused = true; break;
        case 5:
            w->Left = static_cast<std::int32_t>(p1);
            w->Top = static_cast<std::int32_t>(p2);
            w->Width = static_cast<std::int32_t>(p3);
            w->Height = static_cast<std::int32_t>(p4);
            break;
        case 6: w->Enabled = rec.LoginLevel >= p1; break;
        case kStatusTextCode: {
            // A host without the window draws it from this text.
            std::uint64_t address = p1;
            if constexpr (sizeof(void*) > 4) address |= static_cast<std::uint64_t>(p2) << 32;
            char* buffer = reinterpret_cast<char*>(static_cast<std::uintptr_t>(address));
            if (!buffer || p3 == 0) return;
            const std::string text = StatusWindowText(*w);
            const std::size_t n = std::min<std::size_t>(text.size(), p3 - 1);
            std::memcpy(buffer, text.data(), n);
            buffer[n] = '\0';
            return;
        }
        default: return;
    }
    ++w->Revision;
    lock.unlock();
    if (rec.View) rec.View->Apply(code);  // the window itself, never under the lock
}

void QueryProc(std::uint32_t kind, const char* name, void* result) {
    if (kind != 11 || !name || !result) return;
    if (std::strcmp(name, std::string(text::kQueryGetVersion).c_str()) != 0) return;
    std::uint32_t type = 0;
    std::memcpy(&type, result, sizeof type);
    if (type != 11) return;
    char* buffer = nullptr;
    std::memcpy(&buffer, static_cast<const char*>(result) + sizeof type, sizeof buffer);
    if (!buffer) return;
    std::memcpy(buffer, text::kDriverInfo.data(), text::kDriverInfo.size());
    buffer[text::kDriverInfo.size()] = '\0';
}

}  // namespace zk
