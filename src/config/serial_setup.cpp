// Placeholder until the serial component exists: the port stays closed.
#include "config/serial_setup.h"

#include "line/serial.h"

namespace zk {

void SetupSerialPort(DriverRecord& rec) {
    if (rec.SerialPort) rec.SerialPort->SetActive(false);
}

}  // namespace zk
