// The AT modem: its command blocks, the queue of commands waiting to be carried out, the
// sender with its "~" pauses, the reply collector and the modem's timer tick. All of it runs
// with the instance's lock held.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string_view>

#include "base/shortstr.h"
#include "line/line.h"

namespace zk {

struct CommandBlock {
    Str255 Command;
    Str255 ExpectedReply;
    double Elapsed = 0.0;  // seconds
    double Limit = 0.0;    // seconds
};

enum ModemCommandKind : std::uint8_t { ModemInit = 1, ModemDial = 2, ModemHangUp = 3, ModemAnswer = 4 };

struct ModemCommand {
    std::uint8_t Kind = 0;
    CommandBlock Block;  // a copy at queuing time; Block.Elapsed is the command's own timer
    Str255 Number;
    Str255 Suffix;
};

// The states of the modem's command machine.
enum class ModemState : std::uint8_t {
    TakeCommand = 0,    // take the first queued command
    Sending = 1,        // write its text
    AwaitingReply = 2,  // await the expected reply
    Failed = 3,         // the command failed
};

struct ModemRecord {
    std::atomic<bool> ModemInitRequest{false};
    zk::ModemState ModemState = zk::ModemState::TakeCommand;
    CommandBlock InitBlock, DialBlock, AnswerBlock, HangupBlock;
    Str255 DialSuffix;
    Str255 RingText;
    std::uint8_t RingCount = 0;
    std::uint8_t RingsToAnswer = 6;
    double SinceRing = 0.0;
    double RingTimeout = 10.0;
    std::atomic<bool> LineConnected{false};
    double TotalConnectedTime = 0.0;
    double ConnectedTime = 0.0;
    std::uint32_t ConnectionCount = 0;
    std::atomic<bool> ModemReady{false};
    Str255 PendingText;
    Str255 ReplyText;
    bool Pausing = false;
    std::int64_t ModemLastTick = 0;  // hundredths, monotonic clock
    std::deque<ModemCommand> CommandQueue;  // head first
    std::array<double, 12> ModemMsTimers{};  // milliseconds
    bool TerminatorTaken = false;
    // The modem's echo of the command text written last: EchoText is what was written (the
    // "~" pauses left out); while EchoOpen, received characters that repeat it are dropped
    // before they reach ReplyText. EchoAt is how far the echo has come (0: not begun).
    Str255 EchoText;
    std::size_t EchoAt = 0;
    bool EchoOpen = false;
    // The port's carrier line was up when the call connected: its fall ends the call.
    bool CarrierAtConnect = false;
};


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
// No echo is awaited any more (a command ended, or its text is to be written again).
void ForgetEcho(ModemRecord& m);

// One step of writing PendingText to the worker's line, with its "~" pauses timed by the
// modem's timers.
void SendPending(ModemRecord& m, LinePort& line);
// One step of gathering a modem reply from the worker's line; true when a complete reply is in
// ReplyText. The modem's echo of the command just written (all of it, or the part from an "AT"
// on, as far as it matches) is dropped first: a reply that is only the echo never completes.
bool CollectReply(ModemRecord& m, LinePort& line, std::string_view terminator);
// True when `part` occurs in `text` (at its first position when `atStart`).
bool ContainsText(std::string_view text, std::string_view part, bool atStart);
// Advances the modem's timers to `now` (the instance's monotonic clock in hundredths of a
// second); once per pass while the port is open.
void ModemTick(ModemRecord& m, std::int64_t now);

}  // namespace zk
