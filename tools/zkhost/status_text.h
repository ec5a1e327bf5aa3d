// The driver's status window as a host without the window sees it: the text DriverProc hands
// out (code 100), read back into its parts and converted to UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/driver_api.h"

namespace zkhost {

inline constexpr std::uint32_t kStatusTextCode = 100;

struct StatusText {
    bool Valid = false;          // the driver answered
    std::uint64_t Revision = 0;
    std::string Caption, Name, Version;
    std::vector<std::string> Events;    // oldest first, at most 12
    std::array<std::string, 6> Labels;  // idle, transmit, packet, log, port, memory
};

// Parses the driver's text (code page 1250) into UTF-8 parts; CR and LF stay shown as \r, \n.
StatusText ParseStatusText(const std::string& cp1250);
// Asks the driver for its window.
StatusText FetchStatusText(zktool::DriverApi& api, void* driver);
// The lines of `now` that were not yet in `before` (the event list scrolls: the new lines are
// what follows the longest end of `before` that `now` starts with).
std::vector<std::string> NewEventLines(const std::vector<std::string>& before, const std::vector<std::string>& now);

}  // namespace zkhost
