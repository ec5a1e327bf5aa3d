// Applying the [COM] settings to a serial port.
#pragma once

#include "config/settings.h"

namespace zk {

class TSerial;

// Closes the port, sets it up from the [COM] settings (device, number, speed, data bits,
// parity, stop bits, queue sizes, RTS/CTS flow control) and opens it again; port.Active()
// tells whether it opened.
void ApplyComSettings(TSerial& port, const ComSettings& com);

}  // namespace zk
