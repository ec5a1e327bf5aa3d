// The commands on the connection that both the host's channels and the worker use. The caller
// holds the instance's lock, except for RunPortActions.
#pragma once

#include "host/records.h"

namespace zk {

// What a command needs done on the serial port itself. The port is never touched while the
// instance's lock is held, so the commands note it here and the caller runs it afterwards.
struct PortActions {
    bool Purge = false;       // cancel the reads and writes in progress
    bool SendReturn = false;  // write a single carriage return (abandons a dial in progress)
    bool Reopen = false;      // a modem command was queued while the port is lost: open it again
};

// Runs the noted port actions: the reopen of a closed port first (the serial set-up), then the
// purge and the carriage return. The caller must not hold the instance's lock.
void RunPortActions(DriverRecord& rec, const PortActions& actions);

// The connection clean-up: clears the modem's line texts and flags (and AnsweredCall), ends the
// connection when `hangUp` is given (see HangUp), logs "close" and clears DialRequested, OnLine
// and AwaitingAnswer of every defined station. Returns the highest defined station whose
// DialRequested was set, 0 if none. Without `hangUp` it is the clean-up after a failed dial
// or answer.
int ConnectionCleanup(DriverContext& ctx, PortActions* hangUp = nullptr);

// Empties ReadQueue and WriteQueue, restarts the receive framing, sets the transmit state to 0,
// clears the last transmitted message and notes a purge of the line.
void ClearQueues(DriverContext& ctx, PortActions& port);

// Hangs up the modem connection: clears the modem's texts and line flags, then either notes a
// carriage return for the line (a station still waits for its dial) or replaces the modem's
// commands by the hang-up command; logs "close" and clears AwaitingAnswer, OnLine and
// DialRequested of every defined station. Returns the highest defined station whose
// DialRequested was set, 0 if none.
int HangUp(DriverContext& ctx, PortActions& port);

// The device behind the port has gone (the serial component found it and raised the wake): when
// the port reports a loss not yet handled, shows "Port <device> ztracen: <reason>" once in the
// event list and the log, closes the port (the open that was lost, never a newer one) and ends
// the connection as a lost carrier does: the connection clean-up, LineConnected cleared, the
// modem's queued commands dropped (they were meant for a modem that is gone), the transmit
// state back to Choose with nothing outstanding and the receive framing restarted. The request
// queues stay. The modem is initialised again before its next command, since what comes back
// on the port may be a modem that has been reset. Nothing reopens the port by itself: the next
// dial or modem command does. True when a loss was handled. The caller must not hold the
// instance's lock.
bool HandlePortLoss(DriverRecord& rec);

// Closes the port, sets it up from the [COM] settings, opens it, reports in the event list and
// resets the line state; true when the port opened. The caller must not hold the instance's
// lock.
bool SetupSerialPort(DriverRecord& rec);

}  // namespace zk
