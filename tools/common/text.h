// Texts between the driver's code page 1250 and the terminal's UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace zktool {

std::string FromCp1250(std::string_view cp1250);
std::string ToCp1250(std::string_view utf8);

}  // namespace zktool
