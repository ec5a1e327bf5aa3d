// TSerial: the serial-port component of an instance. The worker thread writes whole texts,
// asks how many bytes wait and reads them; the host's thread opens, closes and reconfigures.
// All members are safe to call from both threads: opening or closing aborts a write in
// progress, and nothing here ever waits on the other thread except the bounded close.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zk {

enum class eParity : std::uint8_t { paNone, PaOdd, paEven, paMark, paSpace };
enum class eDataBits : std::uint8_t { d7bit, d8bit };
enum class eStopBits : std::uint8_t { st1bit, st2bit };
enum class eFlowControl : std::uint8_t { fcNone, fcRTS_CTS, fcDTR_DSR, fcXON_XOF };
enum class eOpModes : std::uint8_t { rxNormal, rxMessage };
enum class eNotifyErr : std::uint8_t { neDialog = 0, neEvent = 1, neNone = 2 };
enum class eModemInSignal : std::uint8_t { CTS = 0, DSR = 1, RLSD = 2 };
enum class CarrierLine : std::uint8_t { Unknown, Up, Down };

// The rates Baudrate accepts.
inline constexpr std::int32_t kBaudRates[] = {110,   300,   600,   1200,  2400,  4800,   9600,  14400,
                                              19200, 38400, 56000, 57600, 115200, 128000, 256000};
bool IsSupportedBaudrate(std::int32_t rate);

// Write time-out in milliseconds: length x (20000 div rate), at least 500.
std::uint32_t WriteTimeoutMs(std::size_t length, std::int32_t baudrate);

// The settings of a port, as the backends receive them.
struct SerialSettings {
    std::string Device;  // the system's name of the port
    std::int32_t Baudrate = 9600;
    eParity Parity = eParity::paNone;
    eDataBits DataBits = eDataBits::d7bit;
    eStopBits StopBits = eStopBits::st1bit;
    std::uint16_t RxQueueSize = 1024;
    std::uint16_t TxQueueSize = 1024;
    eFlowControl FlowMode = eFlowControl::fcNone;
    bool CheckParity = true;
};

class SerialBackend;

class TSerial {
public:
    TSerial();
    ~TSerial();
    TSerial(const TSerial&) = delete;
    TSerial& operator=(const TSerial&) = delete;

    // Properties. A setter whose value differs reopens an open port (SetActive(Active()));
    // Baudrate ignores rates outside the table; the queue sizes always reopen.
    std::uint8_t Port() const;
    void SetPort(std::uint8_t port);
    std::int32_t Baudrate() const;
    void SetBaudrate(std::int32_t rate);
    eParity Parity() const;
    void SetParity(eParity parity);
    eDataBits DataBits() const;
    void SetDataBits(eDataBits bits);
    eStopBits StopBits() const;
    void SetStopBits(eStopBits bits);
    std::uint16_t RxQueueSize() const;
    void SetRxQueueSize(std::uint16_t size);
    std::uint16_t TxQueueSize() const;
    void SetTxQueueSize(std::uint16_t size);
    eFlowControl FlowMode() const;
    void SetFlowMode(eFlowControl mode);
    bool CheckParity() const;
    void SetCheckParity(bool check);
    // The device opened instead of the platform's name of Port (empty: that name).
    std::string DeviceName() const;
    void SetDeviceName(const std::string& device);
    // The name the next open uses.
    std::string EffectiveDeviceName() const;

    // Plain fields. Assign them before opening the port: the event thread reads them. The
    // handlers run on the event thread (this platform has no host message loop to hand them
    // to); the driver assigns none, so no event ever waits on the host or the worker.
    eOpModes RxEventMode = eOpModes::rxNormal;
    char MessageStartChar = 2;
    char MessageEndChar = 3;
    std::uint16_t MessageAppendCount = 0;
    std::atomic<eNotifyErr> NotifyErrors{eNotifyErr::neDialog};
    std::function<void(TSerial&)> OnRxData, OnTxEmpty, OnError, OnBreak, OnRing;
    std::function<void(TSerial&, std::string_view)> OnMessage;
    std::function<void(TSerial&, eModemInSignal, bool)> OnSignalChange;
    std::function<void()> OnWriteCompleted;  // declared, never raised
    // The device behind the open port is gone: raised once per open, on the thread whose call
    // or line event found it (the worker's or the event thread), after the loss is recorded.
    std::function<void(TSerial&)> OnLost;

    bool Active() const;
    // Closes the port if open, then opens it when `open` is true.
    void SetActive(bool open);
    // Sends the whole text; gives up after WriteTimeoutMs, or at once when the port closes.
    void WriteString(std::string_view text);
    // 1 and the byte when one was waiting, else 0; never waits.
    int ReadByte(std::uint8_t& out);
    // Bytes waiting in the input and output buffers; 0 while closed, without a system call.
    std::int32_t RxWaiting();
    std::int32_t TxWaiting();
    // Cancel reads/writes in progress; bytes already buffered stay.
    void AbortRead();
    void AbortWrite();
    // Line 0 is RTS, line 1 is DTR.
    void SetControlLine(int line, bool on);
    // The carrier-detect line (DCD, RLSD) of the open port: Unknown while closed and where the
    // port reports no modem lines (a pseudo-terminal).
    CarrierLine Carrier();
    // Records a system error code and raises OnError when NotifyErrors is neEvent.
    void HandleError(int code);
    std::int32_t ErrorCode() const;
    // Incremented at every successful open, so that a reader can tell a new connection.
    std::uint64_t Generation() const;

    // The device gone. The first call or line event of an open that fails with an error that
    // means so (DeviceGone) records the loss with that error and raises OnLost; later failures
    // of the same open add nothing, and the event thread stops waiting on the port. The port
    // itself stays open until its owner closes it: CloseLost.
    // True while the current open is lost.
    bool Lost() const;
    // Hands out a recorded loss once: its system error code and the open it happened to.
    bool TakeLoss(std::int32_t& error, std::uint64_t& generation);
    // Closes the port if `generation` is still the current open (a newer one stays open).
    void CloseLost(std::uint64_t generation);

    // True while the event thread waits for line events.
    bool EventThreadWaiting() const;

    SerialSettings Settings() const;

    struct State;

private:
    void Open();
    void Close();
    void EventLoop();
    void TakeMessageBytes();
    // HandleError, and the loss of open `generation` when the error means the device is gone.
    void Failed(int code, std::uint64_t generation);

    std::unique_ptr<State> s_;
};

}  // namespace zk
