// Applying the [COM] settings to the instance's serial port.
#include "config/serial_setup.h"

#include <string>

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

void ApplyComSettings(TSerial& port, const ComSettings& com) {
    port.SetActive(false);
    port.SetCheckParity(true);
    port.NotifyErrors = eNotifyErr::neNone;
    port.SetDeviceName(com.DEVICE.str());
    port.SetPort(static_cast<std::uint8_t>(com.ComPort & 0xFF));
    port.SetBaudrate(com.BaudRate);
    port.SetDataBits(com.DataBits == 8 ? eDataBits::d8bit : eDataBits::d7bit);
    port.SetParity(ParityOfCode(com.Parity, port.Parity()));
    port.SetStopBits(com.StopBits == 1 ? eStopBits::st1bit : eStopBits::st2bit);
    port.SetRxQueueSize(com.BUFFER_SIZE);
    port.SetTxQueueSize(com.BUFFER_SIZE);
    port.SetFlowMode(eFlowControl::fcRTS_CTS);
    port.SetActive(true);
}

}  // namespace zk
