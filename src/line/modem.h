// The AT modem: its command blocks, the queue of commands waiting to be carried out, the
// sender with its "~" pauses, the reply collector and the modem's timer tick. All of it runs
// with the instance's lock held.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/records.h"

namespace zk {

// The record's start values (the command blocks' defaults, an empty queue, idle state); the
// tick and the millisecond timers keep their values, RingText keeps its text.
void ModemReset(ModemRecord& m);

// Appends a command with a copy of the block and the two texts to CommandQueue.
void QueueModemCommand(ModemRecord& m, std::uint8_t kind, const CommandBlock& block, std::string_view number,
                       std::string_view suffix);
// A dial (kind 2) of the number with DialBlock and DialSuffix.
void QueueDial(ModemRecord& m, std::string_view number);
// The text a command writes to the modem: command, number text and suffix text, cut to 255.
Str255 ModemCommandText(const ModemCommand& command);
// Removes the first command, if any.
void DropModemCommand(ModemRecord& m);
// Removes every command.
void ClearModemCommands(ModemRecord& m);

// One step of writing PendingText to the worker's line (ctx.Line), with its "~" pauses timed
// on the instance's clock.
void SendPending(DriverContext& ctx);
// One step of gathering a modem reply from the worker's line; true when a complete reply is in
// ReplyText.
bool CollectReply(DriverContext& ctx, std::string_view terminator);
// True when `part` occurs in `text` (at its first position when `atStart`).
bool ContainsText(std::string_view text, std::string_view part, bool atStart);
// Advances the modem's timers from the instance's clock; once per pass while the port is open.
void ModemTick(DriverContext& ctx);

}  // namespace zk
