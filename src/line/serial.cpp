// TSerial: properties, the open state, the reads and writes of the worker and the event thread.
//
// The open port is a SerialBackend shared between its users: the host's thread (SetActive), the
// worker (WriteString, ReadByte, ...) and the event thread each take a reference while they use
// it. Closing takes the port out of reach first (no new user can get it), cancels every wait in
// progress, waits a bounded time for the users to leave, and lets the last reference close the
// system's handle. A write in progress therefore ends as soon as the port closes, and the handle
// is never closed under a thread that still uses it.
#include "line/serial.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "line/serial_backend.h"
#include "platform/platform.h"

namespace zk {

bool IsSupportedBaudrate(std::int32_t rate) {
    for (const auto r : kBaudRates)
        if (r == rate) return true;
    return false;
}

std::uint32_t WriteTimeoutMs(std::size_t length, std::int32_t baudrate) {
    const std::uint64_t perChar = baudrate > 0 ? static_cast<std::uint64_t>(20000 / baudrate) : 0;
    const std::uint64_t ms = length * perChar;
    if (ms < 500) return 500u;
    return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ms);
}

namespace {
constexpr auto kCloseWaitStep = std::chrono::milliseconds(5);
constexpr auto kCloseWaitLimit = std::chrono::milliseconds(7500);  // the event thread's bound
constexpr std::size_t kReadAhead = 256;
}  // namespace

struct TSerial::State {
    // Properties and the open port.
    mutable std::mutex lock;
    std::uint8_t port = 1;
    SerialSettings settings;
    std::string device;
    WriteTimeouts timeouts;
    std::shared_ptr<SerialBackend> open;  // null while closed
    std::atomic<bool> active{false};
    std::atomic<std::int32_t> errorCode{0};
    std::atomic<std::uint64_t> generation{0};
    // The loss of an open (its generation; 0: none yet) and whether its owner has taken it.
    std::uint64_t lostGeneration = 0;
    std::int32_t lostError = 0;
    bool lossTaken = true;

    // Serialises SetActive and the setters (the host's side).
    std::recursive_mutex control;

    // Reads: bytes taken from the system but not yet handed out, tagged with the open they
    // came from.
    std::mutex rxLock;
    std::uint8_t rxBuffer[kReadAhead] = {};
    std::size_t rxPos = 0, rxLen = 0;
    std::uint64_t rxGeneration = 0;
    std::atomic<std::int32_t> rxBuffered{0};

    // One write at a time.
    std::mutex txLock;

    // The event thread.
    std::mutex eventLock;
    std::condition_variable eventWake;
    bool terminate = false;
    std::atomic<bool> inWait{false};
    std::thread eventThread;
    ModemLines lastLines;
    std::uint8_t messageState = 0;  // 0 idle, 1 inside a message, 2 taking appended bytes, 3 complete
    std::uint16_t appendLeft = 0;
    std::string message;
};

namespace {
struct Lease {
    std::shared_ptr<SerialBackend> port;
    std::uint64_t generation = 0;
};
}  // namespace

TSerial::TSerial() : s_(std::make_unique<State>()) {
    s_->eventThread = std::thread([this] { EventLoop(); });
}

TSerial::~TSerial() {
    SetActive(false);
    {
        std::lock_guard g(s_->eventLock);
        s_->terminate = true;
    }
    s_->eventWake.notify_all();
    if (s_->eventThread.joinable()) s_->eventThread.join();
}

// ---- Properties -----------------------------------------------------------------------------

template <typename T, typename Field>
static bool Store(std::mutex& lock, Field& field, T value) {
    std::lock_guard g(lock);
    if (field == value) return false;
    field = value;
    return true;
}

std::uint8_t TSerial::Port() const {
    std::lock_guard g(s_->lock);
    return s_->port;
}
void TSerial::SetPort(std::uint8_t port) {
    std::lock_guard c(s_->control);
    if (Store(s_->lock, s_->port, port)) SetActive(Active());
}
std::int32_t TSerial::Baudrate() const {
    std::lock_guard g(s_->lock);
    return s_->settings.Baudrate;
}
void TSerial::SetBaudrate(std::int32_t rate) {
    if (!IsSupportedBaudrate(rate)) return;
    std::lock_guard c(s_->control);
    if (Store(s_->lock, s_->settings.Baudrate, rate)) SetActive(Active());
}
eParity TSerial::Parity() const {
    std::lock_guard g(s_->lock);
    return s_->settings.Parity;
}
void TSerial::SetParity(eParity parity) {
    std::lock_guard c(s_->control);
    if (Store(s_->lock, s_->settings.Parity, parity)) SetActive(Active());
}
eDataBits TSerial::DataBits() const {
    std::lock_guard g(s_->lock);
    return s_->settings.DataBits;
}
void TSerial::SetDataBits(eDataBits bits) {
    std::lock_guard c(s_->control);
    if (Store(s_->lock, s_->settings.DataBits, bits)) SetActive(Active());
}
eStopBits TSerial::StopBits() const {
    std::lock_guard g(s_->lock);
    return s_->settings.StopBits;
}
void TSerial::SetStopBits(eStopBits bits) {
    std::lock_guard c(s_->control);
    if (Store(s_->lock, s_->settings.StopBits, bits)) SetActive(Active());
}
std::uint16_t TSerial::RxQueueSize() const {
    std::lock_guard g(s_->lock);
    return s_->settings.RxQueueSize;
}
void TSerial::SetRxQueueSize(std::uint16_t size) {
    std::lock_guard c(s_->control);
    Store(s_->lock, s_->settings.RxQueueSize, size);
    SetActive(Active());  // always, even when unchanged
}
std::uint16_t TSerial::TxQueueSize() const {
    std::lock_guard g(s_->lock);
    return s_->settings.TxQueueSize;
}
void TSerial::SetTxQueueSize(std::uint16_t size) {
    std::lock_guard c(s_->control);
    Store(s_->lock, s_->settings.TxQueueSize, size);
    SetActive(Active());
}
eFlowControl TSerial::FlowMode() const {
    std::lock_guard g(s_->lock);
    return s_->settings.FlowMode;
}
void TSerial::SetFlowMode(eFlowControl mode) {
    std::lock_guard c(s_->control);
    if (Store(s_->lock, s_->settings.FlowMode, mode)) SetActive(Active());
}
bool TSerial::CheckParity() const {
    std::lock_guard g(s_->lock);
    return s_->settings.CheckParity;
}
void TSerial::SetCheckParity(bool check) {
    std::lock_guard c(s_->control);
    if (Store(s_->lock, s_->settings.CheckParity, check)) SetActive(Active());
}
std::string TSerial::DeviceName() const {
    std::lock_guard g(s_->lock);
    return s_->device;
}
void TSerial::SetDeviceName(const std::string& device) {
    std::lock_guard c(s_->control);
    bool changed = false;
    {
        std::lock_guard g(s_->lock);
        changed = s_->device != device;
        s_->device = device;
    }
    if (changed) SetActive(Active());
}
std::string TSerial::EffectiveDeviceName() const {
    std::lock_guard g(s_->lock);
    return s_->device.empty() ? DefaultPortName(s_->port) : s_->device;
}
SerialSettings TSerial::Settings() const {
    std::lock_guard g(s_->lock);
    SerialSettings s = s_->settings;
    s.Device = s_->device.empty() ? DefaultPortName(s_->port) : s_->device;
    return s;
}

// ---- Open and close -------------------------------------------------------------------------

bool TSerial::Active() const { return s_->active.load(); }

void TSerial::SetActive(bool open) {
    std::lock_guard c(s_->control);
    Close();
    if (open) Open();
}

void TSerial::Close() {
    std::shared_ptr<SerialBackend> port;
    {
        std::lock_guard g(s_->lock);
        port = std::move(s_->open);
        s_->open.reset();
        s_->active = false;
    }
    if (!port) return;
    // Cancel what is in progress, drop DTR and RTS, end every wait, then wait (bounded) until
    // the worker and the event thread have let go of the port.
    if (const int e = port->Purge(true, true)) HandleError(e);
    if (const int e = port->SetControlLine(1, false)) HandleError(e);
    if (const int e = port->SetControlLine(0, false)) HandleError(e);
    port->Cancel();
    const auto deadline = std::chrono::steady_clock::now() + kCloseWaitLimit;
    while (port.use_count() > 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kCloseWaitStep);
    port.reset();  // closes the handle, or leaves that to the last user
}

void TSerial::Open() {
    SerialSettings settings;
    WriteTimeouts timeouts;
    {
        std::lock_guard g(s_->lock);
        settings = s_->settings;
        settings.Device = s_->device.empty() ? DefaultPortName(s_->port) : s_->device;
        timeouts = s_->timeouts;
    }
    int error = 0;
    std::shared_ptr<SerialBackend> port =
        OpenSerialDevice(settings, timeouts, error, [this](int e) { HandleError(e); });
    {
        std::lock_guard g(s_->lock);
        s_->timeouts = timeouts;
    }
    if (!port) {
        HandleError(error);
        return;
    }
    if (const int e = port->SetControlLine(1, true)) HandleError(e);
    if (const int e = port->SetControlLine(0, true)) HandleError(e);
    {
        std::lock_guard g(s_->lock);
        s_->open = port;
        s_->active = true;
        ++s_->generation;
    }
    {
        std::lock_guard g(s_->eventLock);  // the event thread sees the open port at once
    }
    s_->eventWake.notify_all();
}

static Lease Take(TSerial::State& s) {
    std::lock_guard g(s.lock);
    return {s.open, s.generation.load()};
}

// ---- I/O ------------------------------------------------------------------------------------

void TSerial::WriteString(std::string_view text) {
    if (text.empty()) return;
    const std::uint32_t timeout = WriteTimeoutMs(text.size(), Baudrate());
    std::lock_guard tx(s_->txLock);
    Lease lease = Take(*s_);
    if (!lease.port) return;
    if (const int e = lease.port->Write(text, timeout)) Failed(e, lease.generation);
}

int TSerial::ReadByte(std::uint8_t& out) {
    std::lock_guard rx(s_->rxLock);
    Lease lease = Take(*s_);
    if (!lease.port) return 0;
    State& s = *s_;
    if (s.rxGeneration != lease.generation) {  // bytes of an earlier open are gone with it
        s.rxPos = s.rxLen = 0;
        s.rxGeneration = lease.generation;
    }
    if (s.rxPos == s.rxLen) {
        std::size_t got = 0;
        const int e = lease.port->Read(s.rxBuffer, sizeof s.rxBuffer, got);
        if (e) Failed(e, lease.generation);
        s.rxPos = 0;
        s.rxLen = got;
    }
    if (s.rxPos == s.rxLen) {
        s.rxBuffered = 0;
        return 0;
    }
    out = s.rxBuffer[s.rxPos++];
    s.rxBuffered = static_cast<std::int32_t>(s.rxLen - s.rxPos);
    return 1;
}

std::int32_t TSerial::RxWaiting() {
    if (!Active()) return 0;
    Lease lease = Take(*s_);
    if (!lease.port) return 0;
    std::int32_t rx = 0, tx = 0;
    if (const int e = lease.port->Waiting(rx, tx)) {
        Failed(e, lease.generation);
        rx = 0;
    }
    std::int32_t buffered = 0;
    {
        std::lock_guard g(s_->rxLock);
        if (s_->rxGeneration == lease.generation) buffered = static_cast<std::int32_t>(s_->rxLen - s_->rxPos);
    }
    return rx + buffered;
}

CarrierLine TSerial::Carrier() {
    if (!Active()) return CarrierLine::Unknown;
    Lease lease = Take(*s_);
    if (!lease.port) return CarrierLine::Unknown;
    ModemLines lines;
    if (lease.port->ReadModemLines(lines) != 0) return CarrierLine::Unknown;  // none to read
    return lines.Rlsd ? CarrierLine::Up : CarrierLine::Down;
}

std::int32_t TSerial::TxWaiting() {
    if (!Active()) return 0;
    Lease lease = Take(*s_);
    if (!lease.port) return 0;
    std::int32_t rx = 0, tx = 0;
    if (const int e = lease.port->Waiting(rx, tx)) {
        Failed(e, lease.generation);
        return 0;
    }
    return tx;
}

void TSerial::AbortRead() {
    Lease lease = Take(*s_);
    if (!lease.port) return;
    if (const int e = lease.port->Purge(true, false)) Failed(e, lease.generation);
}

void TSerial::AbortWrite() {
    Lease lease = Take(*s_);
    if (!lease.port) return;
    if (const int e = lease.port->Purge(false, true)) Failed(e, lease.generation);
}

void TSerial::SetControlLine(int line, bool on) {
    Lease lease = Take(*s_);
    if (!lease.port) return;
    if (const int e = lease.port->SetControlLine(line, on)) Failed(e, lease.generation);
}

void TSerial::HandleError(int code) {
    s_->errorCode = code;
    if (NotifyErrors.load() == eNotifyErr::neEvent && OnError) OnError(*this);
}

void TSerial::Failed(int code, std::uint64_t generation) {
    HandleError(code);
    if (!DeviceGone(code)) return;
    {
        std::lock_guard g(s_->lock);
        // Known already, or an open that has been closed meanwhile.
        if (s_->lostGeneration == generation || s_->generation != generation || !s_->open) return;
        s_->lostGeneration = generation;
        s_->lostError = code;
        s_->lossTaken = false;
    }
    if (OnLost) OnLost(*this);
}

bool TSerial::Lost() const {
    std::lock_guard g(s_->lock);
    return s_->open && s_->lostGeneration == s_->generation;
}

bool TSerial::TakeLoss(std::int32_t& error, std::uint64_t& generation) {
    std::lock_guard g(s_->lock);
    if (s_->lossTaken) return false;
    s_->lossTaken = true;
    error = s_->lostError;
    generation = s_->lostGeneration;
    return true;
}

void TSerial::CloseLost(std::uint64_t generation) {
    std::lock_guard c(s_->control);
    {
        std::lock_guard g(s_->lock);
        if (!s_->open || s_->generation != generation) return;
    }
    Close();
}

std::int32_t TSerial::ErrorCode() const { return s_->errorCode; }
std::uint64_t TSerial::Generation() const { return s_->generation; }
bool TSerial::EventThreadWaiting() const { return s_->inWait; }

// ---- The event thread -----------------------------------------------------------------------

void TSerial::EventLoop() {
    LowerEventThreadPriority();
    State& s = *s_;
    for (;;) {
        Lease lease;
        {
            std::unique_lock g(s.eventLock);
            s.eventWake.wait(g, [&] {
                if (s.terminate) return true;
                lease = Take(s);
                return lease.port != nullptr;
            });
            if (s.terminate) return;
        }
        s.inWait = true;
        std::uint32_t mask = 0;
        const int error = lease.port->WaitEvents(mask);
        s.inWait = false;
        const bool closing = lease.port->Cancelled();
        ModemLines lines = s.lastLines;
        if (!closing && (mask & (EvCts | EvDsr | EvRlsd)) && lease.port->ReadModemLines(lines) != 0) mask &= ~(EvCts | EvDsr | EvRlsd);
        const std::uint64_t generation = lease.generation;
        lease.port.reset();  // never hold the port while handlers run
        if (closing) continue;
        if (error) {
            Failed(error, generation);
            std::unique_lock g(s.eventLock);  // no spinning on a port that keeps failing
            if (DeviceGone(error)) {
                // Nothing more will come from this open: wait for the next one (or the end).
                s.eventWake.wait(g, [&] { return s.terminate || s.generation.load() != generation; });
            } else {
                s.eventWake.wait_for(g, std::chrono::milliseconds(100), [&] { return s.terminate; });
            }
            continue;
        }
        if (mask & EvCts) {
            s.lastLines.Cts = lines.Cts;
            if (OnSignalChange) OnSignalChange(*this, eModemInSignal::CTS, lines.Cts);
        }
        if (mask & EvDsr) {
            s.lastLines.Dsr = lines.Dsr;
            if (OnSignalChange) OnSignalChange(*this, eModemInSignal::DSR, lines.Dsr);
        }
        if (mask & EvRlsd) {
            s.lastLines.Rlsd = lines.Rlsd;
            if (OnSignalChange) OnSignalChange(*this, eModemInSignal::RLSD, lines.Rlsd);
        }
        if ((mask & EvTxEmpty) && OnTxEmpty) OnTxEmpty(*this);
        if ((mask & EvBreak) && OnBreak) OnBreak(*this);
        if ((mask & EvRing) && OnRing) OnRing(*this);
        if (mask & EvRxChar) {
            if (RxEventMode == eOpModes::rxNormal) {
                if (OnRxData) OnRxData(*this);
            } else if (OnMessage) {
                TakeMessageBytes();
            }
        }
    }
}

void TSerial::TakeMessageBytes() {
    State& s = *s_;
    std::uint8_t b = 0;
    while (ReadByte(b) == 1) {
        const char c = static_cast<char>(b);
        if (s.messageState == 2) {
            s.message.push_back(c);
            if (--s.appendLeft == 0) s.messageState = 3;
        } else if (c == MessageStartChar) {
            s.message.assign(1, c);
            s.messageState = 1;
        } else if (s.messageState == 1) {
            s.message.push_back(c);
            if (c == MessageEndChar) {
                if (MessageAppendCount == 0) {
                    s.messageState = 3;
                } else {
                    s.messageState = 2;
                    s.appendLeft = MessageAppendCount;
                }
            }
        }
        // Anything else in states 0 and 3 is dropped.
        if (s.messageState == 3) {
            if (OnMessage) OnMessage(*this, s.message);
            s.message.clear();
            s.messageState = 0;
        }
    }
}

}  // namespace zk
