// The AT modem: its command blocks, the queue of commands waiting to be carried out, the
// sender with its "~" pauses, the reply collector and the modem's timer tick. All of it runs
// with the instance's lock held.
#pragma once

#include <string_view>

#include "host/records.h"

namespace zk {

// The record's start values (the command blocks' defaults, an empty queue, idle state); the
// tick and the millisecond timers keep their values, RingText keeps its text.
void ModemReset(ModemRecord& m);

}  // namespace zk
