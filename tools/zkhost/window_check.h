// zkhost --window-check: the driver's status window put through the host's requests on the
// real window (Windows only).
#pragma once

#include <string>

#include "common/driver_api.h"

namespace zkhost {

// Finds the started instance's window by its caption (the identification, ": " and the
// host's name, given in UTF-8), checks its form and every DriverProc code on it, and leaves it
// shown when `show` is set, hidden otherwise. Prints what it checks; false on any failure.
bool CheckStatusWindow(zktool::DriverApi& api, void* driver, const std::string& caption, bool show);

}  // namespace zkhost
