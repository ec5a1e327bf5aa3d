// Loading the parameter file into a reset context.
#pragma once

#include "host/records.h"

namespace zk {

// Reads [COM], [MODEM], [GLOBAL] and the station groups from the file named ParFileName.
// False leaves the message for the host in ErrorText.
bool LoadParameterFile(DriverRecord& rec);

}  // namespace zk
