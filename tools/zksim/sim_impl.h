// The simulator's inside, shared by its parts: the AT modem's command states
// (sim_modem.cpp), the line with its pseudo-terminal, thread and timed actions (sim_line.cpp)
// and the stations' receiver with its faults (sim_receiver.cpp). Every member function runs
// with `lock` held unless it says otherwise.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "zksim/trace.h"
#include "zksim/zksim.h"

namespace zksim {

using Clock = std::chrono::steady_clock;

// The digits of a dial string, as the modem dials them.
inline std::string DialDigits(std::string_view dial) {
    std::string out;
    for (char c : dial)
        if ((c >= '0' && c <= '9') || c == '*' || c == '#') out += c;
    return out;
}

inline char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

struct Simulator::Impl {
    explicit Impl(SimOptions o) : options(std::move(o)) {
        for (const StationDef& d : options.line.stations) stations.emplace_back(d);
        ringText = !options.ringText.empty()          ? options.ringText
                   : !options.line.ringText.empty() ? options.line.ringText
                                                     : Bytes("\r\nRING\r\n");
        echo = options.echo;
    }

    SimOptions options;
    mutable std::mutex lock;
    std::vector<StationImage> stations;
    Bytes ringText;

    // pty and thread
    int master = -1, slave = -1;
    int wake[2] = {-1, -1};
    std::string slavePath;
    std::thread thread;
    std::atomic<bool> stop{false};
    bool started = false;
    Trace trace;
    Clock::time_point startTime = Clock::now();
    Bytes outBuffer;
    Clock::time_point paceNext;  // paced line: when the next byte may reach the driver

    // timed actions
    struct Action {
        Clock::time_point due;
        uint64_t order;
        std::function<void()> run;
        bool unlocked = false;  // runs after the lock is released (scenario commands)
    };
    std::vector<Action> actions;
    std::vector<std::function<void()>> unlockedDue;
    uint64_t actionOrder = 0;
    Simulator* self = nullptr;

    // modem
    ModemMode mode = ModemMode::Command;
    bool echo = false;
    std::string commandLine;
    std::string echoPending;  // echoed characters, sent with the next reply or chunk
    uint64_t callGeneration = 0;  // ends dial/answer/ring/answer timers of an earlier call
    std::string number;
    bool answeredCall = false;
    uint8_t caller = 0;           // the calling station of an answered call (0: none)
    bool callerReportDue = false;
    Report callerReport;
    int ringsLeft = 0;
    bool ringing = false;
    uint64_t ringGeneration = 0;
    Clock::time_point lastRx = Clock::now();
    int pluses = 0;
    uint64_t escapeGeneration = 0;

    // station side of the line
    Bytes prefixWindow, rxFrame;
    Clock::time_point lastFrameByte = Clock::now();
    std::vector<Fault> faults;
    std::vector<Bytes> requests;
    std::vector<Bytes> reportsAwaitingAck;
    SimStatus status;

    // ---- helpers (sim_line.cpp; the modem's call start and end in sim_modem.cpp) ----
    StationImage* Find(uint8_t address) {
        for (StationImage& s : stations)
            if (s.def.address == address) return &s;
        return nullptr;
    }
    const StationImage* Find(uint8_t address) const { return const_cast<Impl*>(this)->Find(address); }

    void Wake();
    void After(int ms, std::function<void()> run);
    void AfterUnlocked(Clock::time_point due, std::function<void()> run);
    void Send(std::string_view bytes);
    void Reply(const char* text);
    bool Connected() const { return mode == ModemMode::Data || mode == ModemMode::OnlineCommand; }

    void EndCall(const char* why);
    void Connect(bool answered);

    // ---- modem: command mode (sim_modem.cpp) ----
    void CommandByte(char c);
    void RunCommandLine(const std::string& line);
    void Dial(const std::string& dialString);
    bool KnownNumber(const std::string& digits) const;
    void Answer();
    void RingLocked(int count, uint8_t station, bool reportDue, Report report);
    void RingOnce(uint64_t gen);

    // ---- modem: data mode and the "+++" escape ----
    void DataByte(char c, Clock::time_point now);

    // ---- the stations' receiver (sim_receiver.cpp) ----
    void ResetReceiver();
    void StationByte(char c, Clock::time_point now);
    void TakeFrame(const Bytes& frame);
    void TakeAcknowledgement(const Bytes& frame);
    bool Reachable(const StationImage& st) const;

    // Byte noise inside a framed answer. An inverted bit always spoils the check byte. A lost
    // byte (one after the address and the length) leaves the frame short: the driver waits for a
    // byte, and takes the suffix's first byte if the line has a suffix. A doubled byte shifts the
    // frame's end. Either passes the check only when the byte taken as the check byte happens to
    // fit. No receiver can tell that from a good frame, so such a position is not chosen; the
    // next one that spoils the check is.
    void SpoilBytes(const Fault& fault, Bytes& answer) const;

    // Sends a framed answer after the reply delay, spoilt by the first fault that applies.
    void Deliver(uint8_t station, Bytes answer, uint8_t driver);
    bool SendReportLocked(uint8_t station, const Report& report);

    // ---- the thread (sim_line.cpp) ----
    void Received(std::string_view bytes);
    void RunDueActions();

    // Ten bits at the paced line's speed.
    Clock::duration ByteTime() const;
    bool Paced() const { return options.paceBaud > 0; }

    int PollTimeoutMs() const;

    // The driver's side closing the terminal: a modem drops the call when DTR goes. Takes the
    // lock itself.
    void TerminalClosed();
    // The simulator's thread: takes the lock around each round, never across poll().
    void Loop();
};

}  // namespace zksim
