// The serial port on Windows: a COM device opened for overlapped I/O. Reads and writes share
// one overlapped block (one at a time, under its lock); the event thread's WaitCommEvent has a
// block of its own. Every wait also watches the port's cancel event, and an operation that is
// given up is cancelled and waited for, so that no overlapped block is ever reused or freed
// while the system still owns it.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>

#include <atomic>
#include <mutex>

#include "line/serial_backend.h"

namespace zk {

namespace {

int LastError() { return static_cast<int>(GetLastError()); }

class Win32Port final : public SerialBackend {
public:
    Win32Port(HANDLE handle, HANDLE ioEvent, HANDLE eventEvent, HANDLE cancelEvent)
        : h_(handle), cancelEvent_(cancelEvent) {
        io_.hEvent = ioEvent;
        ev_.hEvent = eventEvent;
    }

    ~Win32Port() override {
        CancelIoEx(h_, nullptr);
        CloseHandle(h_);
        CloseHandle(io_.hEvent);
        CloseHandle(ev_.hEvent);
        CloseHandle(cancelEvent_);
    }

    int Write(std::string_view data, std::uint32_t timeoutMs) override {
        std::lock_guard g(ioLock_);
        if (cancelled_.load()) return 0;
        Fresh(io_);
        DWORD n = 0;
        if (WriteFile(h_, data.data(), static_cast<DWORD>(data.size()), &n, &io_)) return 0;
        const int e = LastError();
        if (e != ERROR_IO_PENDING) return e;
        HANDLE waits[2] = {io_.hEvent, cancelEvent_};
        const DWORD r = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
        if (r == WAIT_OBJECT_0) {
            if (GetOverlappedResult(h_, &io_, &n, FALSE)) return 0;
            const int f = LastError();
            return f == ERROR_OPERATION_ABORTED ? 0 : f;  // aborted by a purge: not an error
        }
        const int f = r == WAIT_FAILED ? LastError() : 0;
        // Timed out or closing: the write is abandoned.
        CancelIoEx(h_, &io_);
        GetOverlappedResult(h_, &io_, &n, TRUE);
        if (r == WAIT_TIMEOUT) return ERROR_TIMEOUT;
        return f;
    }

    int Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        got = 0;
        std::lock_guard g(ioLock_);
        if (cancelled_.load()) return 0;
        Fresh(io_);
        DWORD n = 0;
        if (ReadFile(h_, buffer, static_cast<DWORD>(size), &n, &io_)) {
            got = n;
            return 0;
        }
        const int e = LastError();
        if (e != ERROR_IO_PENDING) return e;
        HANDLE waits[2] = {io_.hEvent, cancelEvent_};
        const DWORD r = WaitForMultipleObjects(2, waits, FALSE, 100);
        if (r == WAIT_OBJECT_0) {
            if (GetOverlappedResult(h_, &io_, &n, FALSE)) got = n;
            return 0;
        }
        const int f = r == WAIT_FAILED ? LastError() : 0;
        CancelIoEx(h_, &io_);
        if (GetOverlappedResult(h_, &io_, &n, TRUE)) got = n;  // a byte that came meanwhile is kept
        return f;
    }

    int Waiting(std::int32_t& rx, std::int32_t& tx) override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(h_, &errors, &stat)) return LastError();
        rx = static_cast<std::int32_t>(stat.cbInQue);
        tx = static_cast<std::int32_t>(stat.cbOutQue);
        return 0;
    }

    int Purge(bool rx, bool tx) override {
        DWORD flags = 0;
        if (rx) flags |= PURGE_RXABORT;
        if (tx) flags |= PURGE_TXABORT;
        return PurgeComm(h_, flags) ? 0 : LastError();
    }

    int SetControlLine(int line, bool on) override {
        const DWORD f = line == 0 ? (on ? SETRTS : CLRRTS) : (on ? SETDTR : CLRDTR);
        return EscapeCommFunction(h_, f) ? 0 : LastError();
    }

    int ReadModemLines(ModemLines& lines) override {
        DWORD s = 0;
        if (!GetCommModemStatus(h_, &s)) return LastError();
        lines.Cts = (s & MS_CTS_ON) != 0;
        lines.Dsr = (s & MS_DSR_ON) != 0;
        lines.Rlsd = (s & MS_RLSD_ON) != 0;
        return 0;
    }

    int WaitEvents(std::uint32_t& mask) override {
        mask = 0;
        for (;;) {
            if (cancelled_.load()) return 0;
            Fresh(ev_);
            DWORD events = 0, n = 0;
            if (WaitCommEvent(h_, &events, &ev_)) {
                if (events == 0) continue;  // the mask was changed
                mask = events;
                return 0;
            }
            const int e = LastError();
            if (e == ERROR_OPERATION_ABORTED) {  // a purge ended the wait, or the device went
                if (const int gone = Gone()) return gone;
                continue;  // wait again
            }
            if (e != ERROR_IO_PENDING) return e;
            HANDLE waits[2] = {ev_.hEvent, cancelEvent_};
            const DWORD r = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (r == WAIT_OBJECT_0) {
                if (GetOverlappedResult(h_, &ev_, &n, FALSE)) {
                    if (events == 0) continue;
                    mask = events;
                    return 0;
                }
                const int f = LastError();
                if (f == ERROR_OPERATION_ABORTED) {
                    if (const int gone = Gone()) return gone;
                    continue;
                }
                return f;
            }
            // Closing (or the wait itself failed): end the pending wait before leaving, since
            // the system writes `events` and the block when it completes.
            const int f = r == WAIT_FAILED ? LastError() : 0;
            CancelIoEx(h_, &ev_);
            GetOverlappedResult(h_, &ev_, &n, TRUE);
            if (f) return f;
        }
    }

    void Cancel() override {
        if (cancelled_.exchange(true)) return;
        SetEvent(cancelEvent_);
        SetCommMask(h_, 0);
    }

    bool Cancelled() const override { return cancelled_.load(); }

private:
    // After an aborted event wait: the device's error when it is gone (a purge aborts the wait
    // too, but leaves the port working), else 0.
    int Gone() {
        DWORD errors = 0;
        COMSTAT stat{};
        if (ClearCommError(h_, &errors, &stat)) return 0;
        const int e = LastError();
        return DeviceGone(e) ? e : 0;
    }

    static void Fresh(OVERLAPPED& o) {
        ResetEvent(o.hEvent);
        o.Internal = o.InternalHigh = 0;
        o.Offset = o.OffsetHigh = 0;
    }

    HANDLE h_;
    HANDLE cancelEvent_;
    std::mutex ioLock_;
    OVERLAPPED io_{};  // reads and writes
    OVERLAPPED ev_{};  // the event thread's WaitCommEvent
    std::atomic<bool> cancelled_{false};
};

BYTE ParityCode(eParity p) {
    switch (p) {
        case eParity::paNone: return NOPARITY;
        case eParity::PaOdd: return ODDPARITY;
        case eParity::paEven: return EVENPARITY;
        case eParity::paMark: return MARKPARITY;
        case eParity::paSpace: return SPACEPARITY;
    }
    return NOPARITY;
}

// "COM12" and the like become "\\.\COM12", which works for every port number.
std::string DevicePath(const std::string& name) {
    if (name.rfind("\\\\", 0) == 0) return name;
    return "\\\\.\\" + name;
}

}  // namespace

std::shared_ptr<SerialBackend> OpenSerialDevice(const SerialSettings& s, WriteTimeouts& timeouts, int& error,
                                                const std::function<void(int)>& softError) {
    error = 0;
    const std::string path = DevicePath(s.Device);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = LastError();
        return nullptr;
    }
    HANDLE ioEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE evEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE cancelEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto fail = [&](int e) {
        error = e;
        CloseHandle(h);
        if (ioEvent) CloseHandle(ioEvent);
        if (evEvent) CloseHandle(evEvent);
        if (cancelEvent) CloseHandle(cancelEvent);
        return nullptr;
    };
    if (!ioEvent || !evEvent || !cancelEvent) return fail(LastError());

    if (!SetupComm(h, s.RxQueueSize, s.TxQueueSize)) softError(LastError());

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(s.Baudrate);
    dcb.fBinary = 1;
    dcb.fParity = s.CheckParity ? 1 : 0;
    switch (s.FlowMode) {
        case eFlowControl::fcNone: break;
        case eFlowControl::fcRTS_CTS:
            dcb.fOutxCtsFlow = 1;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            break;
        case eFlowControl::fcDTR_DSR:
            dcb.fOutxDsrFlow = 1;
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            break;
        case eFlowControl::fcXON_XOF:
            dcb.fOutX = 1;
            dcb.fInX = 1;
            break;
    }
    dcb.XonLim = static_cast<WORD>(s.RxQueueSize / 3);
    dcb.XoffLim = static_cast<WORD>(s.RxQueueSize / 3);
    dcb.ByteSize = s.DataBits == eDataBits::d8bit ? 8 : 7;
    dcb.Parity = ParityCode(s.Parity);
    dcb.StopBits = s.StopBits == eStopBits::st1bit ? ONESTOPBIT : TWOSTOPBITS;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    dcb.ErrorChar = 63;
    // Settings the device refuses leave it at a speed or framing nobody asked for: fail the open.
    if (!SetCommState(h, &dcb)) return fail(LastError());

    if (s.FlowMode != eFlowControl::fcNone) {
        timeouts.Multiplier = 0;
        timeouts.Constant = 10000;
    }
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what is buffered
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = timeouts.Multiplier;
    t.WriteTotalTimeoutConstant = timeouts.Constant;
    if (!SetCommTimeouts(h, &t)) softError(LastError());

    if (!SetCommMask(h, kSerialEventMask)) softError(LastError());
    return std::make_shared<Win32Port>(h, ioEvent, evEvent, cancelEvent);
}

// The errors of a port whose device has gone: a USB adapter unplugged fails its calls with
// ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED or ERROR_DEVICE_REMOVED depending on its driver;
// ERROR_GEN_FAILURE, ERROR_NOT_READY and ERROR_DEVICE_NOT_CONNECTED are the same loss as other
// drivers (and Wine, for a terminal that hung up) say it. A time-out or an aborted call is not.
bool DeviceGone(int error) {
    switch (static_cast<DWORD>(error)) {
        case ERROR_BAD_COMMAND:
        case ERROR_ACCESS_DENIED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED: return true;
        default: return false;
    }
}

void LowerEventThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE); }

}  // namespace zk
