// Applying the [COM] settings to the instance's serial port.
#pragma once

#include "host/records.h"

namespace zk {

// Closes the port, sets it up from the [COM] settings, opens it, reports in the event list and
// resets the line state. The caller must not hold the instance's lock.
bool SetupSerialPort(DriverRecord& rec);

}  // namespace zk
