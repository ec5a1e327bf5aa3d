// The modem connection machine: carries out queued modem commands and, with none queued and a
// line connected, steps the scheduler; with neither it listens for rings and answers a call.
// The caller holds the instance's lock.
//
// ModemState (line/modem.h): take the first command, write its text, await the reply, failed.
// A port set-up that the machine needs (after a failure or a hang-up) is left to the worker,
// which runs it after it has released the lock (DriverContext::ReopenPortRequested).
#pragma once

#include <cstdint>

namespace zk {

struct DriverRecord;

// One step of the machine, once per pass while the port is open.
void ModemStep(DriverRecord& rec);

// What a command of the kind (ModemCommandKind) does when its expected reply came, and when
// it failed. Both run while the command is still first in the queue.
void ModemCommandSucceeded(DriverRecord& rec, std::uint8_t kind);
void ModemCommandFailed(DriverRecord& rec, std::uint8_t kind);

}  // namespace zk
