// The driver library as the host sees it: loaded by file name, reached through its exports.
#pragma once

#include "common/driver_api.h"

namespace zktest {

// The library of this build, loaded once per test program.
zktool::DriverApi& Library();

}  // namespace zktest
