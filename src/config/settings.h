// The settings of the [GLOBAL] and [COM] groups of the parameter file. The parameter file's
// loader fills them; every other part only reads them.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/shortstr.h"

namespace zk {

// [GLOBAL]: the framing of the protocol, the time limits of the scheduler and the switches.
struct GlobalSettings {
    std::uint8_t ADDRESS = 0;  // the driver's own address on the line
    Str255 PREFIX, SUFFIX, PRESUFFIX;
    double ANSWER_TIME = 0.0;
    std::uint16_t SILENCE_WAIT = 0;
    std::uint16_t RTS_TIME_ON = 0, RTS_TIME_OFF = 0;
    std::uint16_t DEF_ANALOG_IN_ADDR = 65535;
    std::uint8_t NUM_MORVEL_ERROR = 1;
    Str255 CUC_PATH;  // the start sets the root directory
    bool STAY_IN_QUEUE_ON_TIMEOUT = false;
    std::atomic<bool> BEEP{false};
    double SLEEP_TIME = 0.0;
    std::uint16_t SLEEP_COUNT = 100;
    std::int32_t IDLE_TIME = 10;
    bool PrstynekRun = false;  // the inverse of STOP_SELF_READING
};

// [COM]: the serial port. Parity: 0 NONE, 1 EVEN, 2 ODD, 3 MARK, 4 SPACE.
struct ComSettings {
    ShortStr<80> DriverKind;  // the DRIVER name
    std::uint16_t ComPort = 0, IRQ = 0, BASE = 0, BaudRate = 0, DataBits = 0, Parity = 0, StopBits = 0, OPTIONS = 0,
                  BUFFER_SIZE = 0;
    Str255 DEVICE;  // the port's device name instead of the platform's name of ComPort
};

}  // namespace zk
