// Applying the [COM] settings to the instance's serial port.
#include "config/serial_setup.h"

#include <string>

#include "base/texts.h"
#include "diag/log.h"
#include "diag/status_window.h"
#include "line/line.h"
#include "line/serial.h"

namespace zk {

namespace {
eParity ParityOfCode(std::uint16_t code, eParity current) {
    switch (code) {
        case 0: return eParity::paNone;
        case 1: return eParity::paEven;
        case 2: return eParity::PaOdd;
        case 3: return eParity::paMark;
        case 4: return eParity::paSpace;
        default: return current;
    }
}
}  // namespace

bool SetupSerialPort(DriverRecord& rec) {
    if (!rec.SerialPort || !rec.Context) return false;
    std::lock_guard setup(rec.PortSetupLock);
    TSerial& port = *rec.SerialPort;
    DriverContext& ctx = *rec.Context;

    // The settings, read under the lock; the port itself is worked without it.
    std::uint16_t comPort, baudRate, dataBits, parity, stopBits, bufferSize;
    std::string device;
    {
        std::lock_guard lock(ctx.Lock);
        comPort = ctx.ComPort;
        baudRate = ctx.BaudRate;
        dataBits = ctx.DataBits;
        parity = ctx.Parity;
        stopBits = ctx.StopBits;
        bufferSize = ctx.BUFFER_SIZE;
        device = ctx.DEVICE.str();
    }

    // 1-7.
    port.SetActive(false);
    port.SetCheckParity(true);
    port.NotifyErrors = eNotifyErr::neNone;
    port.SetDeviceName(device);
    port.SetPort(static_cast<std::uint8_t>(comPort & 0xFF));
    port.SetBaudrate(baudRate);
    port.SetDataBits(dataBits == 8 ? eDataBits::d8bit : eDataBits::d7bit);
    port.SetParity(ParityOfCode(parity, port.Parity()));
    port.SetStopBits(stopBits == 1 ? eStopBits::st1bit : eStopBits::st2bit);
    port.SetRxQueueSize(bufferSize);
    port.SetTxQueueSize(bufferSize);
    port.SetFlowMode(eFlowControl::fcRTS_CTS);
    port.SetActive(true);
    const bool open = port.Active();

    // 9 (the port part): cancel what may still be in progress; nothing buffered is lost.
    PurgePort(port);

    std::lock_guard lock(ctx.Lock);
    // 8.
    Str255 line(text::kPortInit);
    line += "COM" + std::to_string(port.Port()) + " " + std::to_string(port.Baudrate()) + "Bd";
    AddEventLine(rec.Window.get(), line);
    WriteLog(ctx, "port", port.EffectiveDeviceName());
    if (!open) {
        AddEventLine(rec.Window.get(), text::kPortOpenError);
        WriteLog(ctx, "port", "error " + std::to_string(port.ErrorCode()));
    }
    // 9. The line's state.
    ctx.SinceAnswer = 0.0;
    ctx.TxState = 0;
    ctx.LineCode = 222;
    ctx.PrefixWindow.clear();
    ctx.RxFrame.clear();
    ctx.AnsweredCall = false;
    return open;
}

}  // namespace zk
