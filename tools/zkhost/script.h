// The host tool's script: channel reads, writes and waits carried out through the exports.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/driver_api.h"
#include "zkhost/check.h"
#include "zkhost/status_text.h"

namespace zkhost {

enum class OpKind { None, Read, Get, Write, Until, Watch, Wait, Print, Dial, Hangup };
enum class CompareOp { Eq, Ne, Lt, Le, Gt, Ge };

struct ChannelRef {
    std::uint32_t Channel = 0;
    std::int32_t Type = 0;  // the host's type code
    std::string Name;       // the symbolic name it was written as, or empty
};

struct Condition {
    ChannelRef Ref;
    CompareOp Op = CompareOp::Eq;
    std::string Value = "1";
};

struct Command {
    OpKind Op = OpKind::None;
    std::vector<ChannelRef> Channels;
    std::string Value;    // write/until: the value as written; print: the text
    double Seconds = 0;   // until/watch/wait; read: the longest wait for an answer (0: the default)
    CompareOp Compare = CompareOp::Eq;  // until
    bool HasStop = false;               // until ... stop CONDITION
    Condition Stop;
    int Station = 0;  // dial/hangup (hangup 0: the modem's hang-up channel)
};

// The host type code of a type word (bool u8 u16 u32 i8 i16 i32 f32 f64 text), or -1.
std::int32_t TypeCode(const std::string& word);
const char* TypeWord(std::int32_t code);
// Parses one script line; an empty line or a comment gives Op::None. Channels are numbers
// followed by a type, or names of the channel map (st2.bi.1, st1.connect) with an optional type.
bool ParseCommand(const std::string& line, Command& out, std::string& error,
                  const std::vector<ChannelName>* map = nullptr);
// The 8 value bytes of OutputRequest for a value written in the script; `text` keeps a text
// value alive while the pointer to it travels in the result.
bool EncodeValue(std::int32_t type, const std::string& written, std::string& text, std::uint64_t& out);
// The value GetInput left in the record, as text.
std::string FormatValue(const ZkHostValue& value, const char* textBuffer);
// A value written in a script or shown by the driver as a number: true/on 1, false/off 0.
bool NumericValue(const std::string& text, double& out);
// The comparison of `until`: numbers as numbers, anything else as text.
bool Compare(const std::string& have, CompareOp op, const std::string& want);

// What a read found.
enum class ReadState {
    Fresh,      // the request was answered after it was made
    Image,      // no request exists for the channel: the value is the driver's image
    NoValue,    // the driver left the host's record untouched
    NotServed,  // the channel exists but does not serve the type asked for
    NoAnswer,   // the request was sent but the station did not answer it
    Waiting,    // the request is still queued when the wait ended
};
const char* ReadStateWord(ReadState s);

struct Sample {
    ReadState State = ReadState::Image;
    std::string Text;  // the value, when there is one
};

struct RunOptions {
    bool Json = false;
    bool Events = false;      // event-list lines on stderr as they appear
    double ReadWait = 15.0;   // the default longest wait of `read` for an answer
    // Where result lines go (default: stdout); event lines go to stderr unless EventSink is set.
    std::function<void(const std::string&)> Out;
    std::function<void(const std::string&)> EventSink;
};

// What the hang-up at the end did.
enum class HangUpResult {
    NothingUp,  // no line was up: nothing to hang up
    HungUp,     // the stations went off line and the modem's hang-up ran its course
    TimedOut,   // the hang-up was asked for, but the line did not go down in the time given
    CutShort,   // a further signal ended the wait: the hang-up may not have reached the modem
};

class Runner {
public:
    Runner(zktool::DriverApi& api, void* driver, std::vector<ChannelName> map = {}, RunOptions options = {});
    // Carries out one command, printing what it reads; false when it failed.
    bool Run(const Command& command);
    // Why the last command failed (empty when it did not, or a signal ended it).
    const std::string& Failure() const { return failure_; }
    // Lets the driver work for the given time, printing events; false when a signal came.
    bool Pause(double seconds);
    // Hangs up every line the script left up and waits for the modem to be idle.
    HangUpResult HangUpAll(double seconds);
    // The stations whose connected or connecting channel reads 1.
    std::vector<int> StationsOnLine();
    // The status window as the driver shows it now.
    StatusText Window();
    // Set by a signal handler: every wait ends at once.
    static std::atomic<int> Interrupt;
    // A channel's value now, without a request.
    Sample Get(const ChannelRef& ref);
    // Whether InputRequest queues a read for the channel (a QQ read item).
    bool HasRequest(const ChannelRef& ref) const;
    // InputRequest and InputRequestCompleted for the channel.
    void Request(const ChannelRef& ref);
    // Whether the station's connected channel reads 1.
    bool StationOnLine(int station);
    // A watch's request for its channel: only for a channel behind a request (a QQ read item),
    // only while its station is on line, and not again while the read asked for last (`asked`)
    // still waits in the queue. True when it asked.
    bool AskForWatch(const ChannelRef& ref, bool& asked);
    const std::vector<ChannelName>& Map() const { return map_; }
    RunOptions& Options() { return options_; }

private:
    Sample Read(const ChannelRef& ref, double seconds);
    void Say(const std::string& line);
    void SayF(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int StationOf(const ChannelRef& ref) const;
    const ChannelName* Known(std::uint32_t channel) const;
    double Number(std::uint32_t channel, std::int32_t type);
    void Emit(const char* op, const ChannelRef& ref, const Sample& s, const std::string& extra = "");
    void PollEvents();
    std::string Label(const ChannelRef& ref) const;

    zktool::DriverApi& api_;
    void* driver_;
    std::vector<ChannelName> map_;
    RunOptions options_;
    std::vector<std::string> events_;  // the event list last seen
    bool eventsSeen_ = false;
    std::string failure_;
};

}  // namespace zkhost
