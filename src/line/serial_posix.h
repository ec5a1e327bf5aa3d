// The termios side of the POSIX serial port, open to the tests.
#pragma once

#include <termios.h>

#include "line/serial.h"

namespace zk {

// Raw mode (no input or output processing, no echo, no signals, reads return at once with
// what is there) and the line settings: data bits, parity, stop bits, flow control.
void BuildTermios(termios& t, const SerialSettings& s);

}  // namespace zk
