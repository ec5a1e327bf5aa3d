// Line speeds that have no speed constant (14400, 56000, 128000, 256000 Bd). Linux sets any
// rate through its second termios interface; elsewhere such rates are refused.
#pragma once

#include <cstdint>

namespace zk {

bool CustomLineSpeedSupported();
// Sets the input and output speed of an open terminal to `rate`; 0 or the error code.
int SetCustomLineSpeed(int fd, std::int32_t rate);
// The output speed of an open terminal in Bd, or -1 when it cannot be read.
std::int32_t LineSpeed(int fd);

}  // namespace zk
