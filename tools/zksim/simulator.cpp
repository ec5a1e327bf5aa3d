// The simulator's thread: a pseudo-terminal, the AT modem in front of it and the stations
// behind the modem, driven by the bytes that arrive and by a small list of timed actions.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "zksim/scenario.h"
#include "zksim/trace.h"
#include "zksim/zksim.h"

namespace zksim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

std::string DialDigits(std::string_view dial) {
    std::string out;
    for (char c : dial)
        if ((c >= '0' && c <= '9') || c == '*' || c == '#') out += c;
    return out;
}

char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

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

    // ---- helpers (lock held) ----
    StationImage* Find(uint8_t address) {
        for (StationImage& s : stations)
            if (s.def.address == address) return &s;
        return nullptr;
    }
    const StationImage* Find(uint8_t address) const { return const_cast<Impl*>(this)->Find(address); }

    void Wake() {
        if (wake[1] >= 0) {
            const char c = 1;
            [[maybe_unused]] ssize_t n = write(wake[1], &c, 1);
        }
    }

    void After(int ms, std::function<void()> run) {
        actions.push_back({Clock::now() + milliseconds(std::max(ms, 0)), actionOrder++, std::move(run), false});
        Wake();
    }

    void AfterUnlocked(Clock::time_point due, std::function<void()> run) {
        actions.push_back({due, actionOrder++, std::move(run), true});
        Wake();
    }

    void Send(std::string_view bytes) {
        if (!echoPending.empty()) {
            const std::string e = std::move(echoPending);
            echoPending.clear();
            Send(e);
        }
        if (bytes.empty()) return;
        trace.Write(TraceDirection::ToDriver, bytes);
        // An idle paced line: the first byte arrives one byte time from now.
        if (options.paceBaud > 0 && outBuffer.empty()) paceNext = std::max(paceNext, Clock::now() + ByteTime());
        outBuffer.append(bytes);
        Wake();
    }

    void Reply(const char* text) {
        Send(std::string("\r\n") + text + "\r\n");
        trace.Note(std::string("modem: ") + text);
    }

    bool Connected() const { return mode == ModemMode::Data || mode == ModemMode::OnlineCommand; }

    void EndCall(const char* why) {
        ++callGeneration;
        ++escapeGeneration;
        pluses = 0;
        answeredCall = false;
        caller = 0;
        callerReportDue = false;
        mode = ModemMode::Command;
        ResetReceiver();
        trace.Note(std::string("call ended: ") + why);
    }

    void Connect(bool answered) {
        mode = ModemMode::Data;
        answeredCall = answered;
        ++status.connections;
        lastRx = Clock::now();
        pluses = 0;
        ResetReceiver();
        Reply(options.connectText.c_str());
        if (answered && caller && callerReportDue) {
            const uint64_t gen = callGeneration;
            const uint8_t who = caller;
            const Report report = callerReport;
            callerReportDue = false;
            After(options.reportDelayMs, [this, gen, who, report] {
                if (gen == callGeneration && mode == ModemMode::Data) SendReportLocked(who, report);
            });
        }
    }

    // ---- modem: command mode ----
    void CommandByte(char c) {
        if (echo) echoPending += c;
        if (c == '\r') {
            const std::string line = commandLine;
            commandLine.clear();
            RunCommandLine(line);
        } else if (c == '\b' || c == 0x7F) {
            if (!commandLine.empty()) commandLine.pop_back();
        } else if (c != '\n' && commandLine.size() < 255) {
            commandLine += c;
        }
    }

    void RunCommandLine(const std::string& line) {
        size_t at = std::string::npos;
        for (size_t i = 0; i + 1 < line.size(); ++i)
            if (UpperChar(line[i]) == 'A' && UpperChar(line[i + 1]) == 'T') {
                at = i;
                break;
            }
        if (at == std::string::npos) return;  // not a command: a modem says nothing
        ++status.commands;
        trace.Note("modem command: " + line.substr(at));
        const std::string cmd = line.substr(at + 2);
        size_t i = 0;
        auto digits = [&] {
            while (i < cmd.size() && cmd[i] >= '0' && cmd[i] <= '9') ++i;
        };
        while (i < cmd.size()) {
            const char c = UpperChar(cmd[i++]);
            if (c == ' ') continue;
            if (c == 'D') {
                Dial(cmd.substr(i));
                return;
            }
            if (c == 'A') {
                Answer();
                return;
            }
            if (c == 'O') {
                digits();
                if (mode == ModemMode::OnlineCommand) {
                    mode = ModemMode::Data;
                    lastRx = Clock::now();
                    Reply(options.connectText.c_str());
                } else {
                    Reply("NO CARRIER");
                }
                return;
            }
            if (c == 'H' || c == 'Z') {
                const size_t from = i;
                digits();
                const bool offHook = c == 'H' && cmd.substr(from, i - from) == "1";
                if (!offHook && Connected()) EndCall(c == 'H' ? "ATH" : "ATZ");
                if (c == 'Z') echo = options.echo;
                continue;
            }
            if (c == 'E') {
                const size_t from = i;
                digits();
                echo = cmd.substr(from, i - from) != "0";
                continue;
            }
            if (c == 'S') {
                digits();
                if (i < cmd.size() && (cmd[i] == '=' || cmd[i] == '?')) {
                    ++i;
                    digits();
                }
                continue;
            }
            if (c == '&' || c == '\\' || c == '%') {
                if (i < cmd.size()) ++i;
                digits();
                continue;
            }
            if (c >= 'A' && c <= 'Z') {
                digits();
                continue;
            }
            Reply("ERROR");
            return;
        }
        Reply("OK");
    }

    void Dial(const std::string& dialString) {
        if (Connected()) EndCall("dialling again");
        const std::string digits = DialDigits(dialString);
        number = digits;
        mode = ModemMode::Dialling;
        const uint64_t gen = ++callGeneration;
        trace.Note("dialling \"" + digits + "\"");
        const char* result = "NO CARRIER";
        if (std::find(options.busyNumbers.begin(), options.busyNumbers.end(), digits) != options.busyNumbers.end())
            result = "BUSY";
        else if (!digits.empty() && KnownNumber(digits))
            result = "CONNECT";
        if (options.ringingTexts && std::string(result) != "BUSY")
            for (int t = options.ringingIntervalMs; t < options.dialDelayMs; t += options.ringingIntervalMs)
                After(t, [this, gen] {
                    if (gen == callGeneration && mode == ModemMode::Dialling) Reply("RINGING");
                });
        After(options.dialDelayMs, [this, gen, result] {
            if (gen != callGeneration || mode != ModemMode::Dialling) return;
            if (std::string(result) == "CONNECT") {
                caller = 0;
                Connect(false);
            } else {
                mode = ModemMode::Command;
                Reply(result);
            }
        });
    }

    bool KnownNumber(const std::string& digits) const {
        for (const std::string& n : options.extraNumbers)
            if (DialDigits(n) == digits) return true;
        for (const StationImage& s : stations)
            if (!s.def.phone.empty() && DialDigits(s.def.phone) == digits) return true;
        return false;
    }

    void Answer() {
        if (!ringing) {
            Reply("NO CARRIER");
            return;
        }
        ringing = false;
        ++ringGeneration;
        mode = ModemMode::Answering;
        number.clear();
        const uint64_t gen = ++callGeneration;
        After(options.answerDelayMs, [this, gen] {
            if (gen == callGeneration && mode == ModemMode::Answering) Connect(true);
        });
    }

    void RingLocked(int count, uint8_t station, bool reportDue, Report report) {
        if (Connected() || mode == ModemMode::Dialling || mode == ModemMode::Answering) return;
        caller = station;
        callerReportDue = reportDue;
        callerReport = report;
        ringsLeft = std::max(count, 1);
        ringing = true;
        RingOnce(++ringGeneration);
    }

    void RingOnce(uint64_t gen) {
        if (gen != ringGeneration || !ringing) return;
        if (ringsLeft <= 0) {  // the caller gives up
            ringing = false;
            caller = 0;
            trace.Note("caller gave up");
            return;
        }
        --ringsLeft;
        ++status.ringsSent;
        Send(ringText);
        trace.Note("ring");
        After(options.ringIntervalMs, [this, gen] { RingOnce(gen); });
    }

    // ---- modem: data mode and the "+++" escape ----
    void DataByte(char c, Clock::time_point now) {
        const auto guard = milliseconds(options.guardMs);
        if (c == '+') {
            const bool first = pluses == 0 && now - lastRx >= guard;
            const bool next = pluses > 0 && pluses < 3 && now - lastRx < guard;
            if (first || next) {
                ++pluses;
                lastRx = now;
                if (pluses == 3) {
                    const uint64_t gen = ++escapeGeneration;
                    After(options.guardMs, [this, gen] {
                        if (gen != escapeGeneration || mode != ModemMode::Data || pluses != 3) return;
                        pluses = 0;
                        mode = ModemMode::OnlineCommand;
                        commandLine.clear();
                        ResetReceiver();
                        Reply("OK");
                    });
                }
                return;
            }
        }
        if (pluses > 0) {  // not an escape after all: the pluses were data
            ++escapeGeneration;
            const int held = pluses;
            pluses = 0;
            for (int k = 0; k < held; ++k) StationByte('+', now);
        }
        lastRx = now;
        StationByte(c, now);
    }

    // ---- the stations' receiver ----
    void ResetReceiver() {
        prefixWindow.clear();
        rxFrame.clear();
    }

    void StationByte(char c, Clock::time_point now) {
        if ((!rxFrame.empty() || !prefixWindow.empty()) && now - lastFrameByte > milliseconds(options.frameGapMs))
            ResetReceiver();
        lastFrameByte = now;
        const Bytes& prefix = options.line.prefix;
        if (prefixWindow != prefix) {
            prefixWindow += c;
            if (prefixWindow.size() > prefix.size()) prefixWindow.erase(0, 1);
            return;
        }
        rxFrame += c;
        if (rxFrame.size() >= 2 && rxFrame.size() == 2u + Byte(rxFrame[1])) {
            const Bytes frame = rxFrame;
            ResetReceiver();
            TakeFrame(frame);
        }
    }

    void TakeFrame(const Bytes& frame) {
        if (XorOf(frame) != 0) {
            ++status.badFrames;
            trace.Note("frame with a wrong check byte: " + HexText(frame));
            return;
        }
        Request req;
        if (!ParseRequest(frame, options.line.presuffix, req)) {
            TakeAcknowledgement(frame);
            return;
        }
        StationImage* st = Find(req.station);
        if (!st) {
            trace.Note("request for an unknown station " + std::to_string(req.station));
            return;
        }
        if (req.retranslation != st->def.retranslation && req.retranslation != st->def.address &&
            !Find(req.retranslation)) {
            trace.Note("request sent through an unknown station " + std::to_string(req.retranslation));
            return;
        }
        if (!Reachable(*st)) {
            trace.Note("station " + std::to_string(req.station) + " is not on this call");
            return;
        }
        ++status.requests;
        requests.push_back(frame);
        const Bytes items = AnswerItems(*st, req.body);
        Bytes answer = FrameAnswer(options.layout, req.driver, st->def.address, items);
        if (answer.size() > 257) answer = FrameAnswer(options.layout, req.driver, st->def.address, Bytes("E\x06", 2));
        Deliver(st->def.address, std::move(answer), req.driver);
    }

    void TakeAcknowledgement(const Bytes& frame) {
        // A routed acknowledgement [st, L, "y", 00, st, 00, items, X] or the echo of a report.
        for (auto it = reportsAwaitingAck.begin(); it != reportsAwaitingAck.end(); ++it) {
            const Bytes& report = *it;
            const bool same = frame == report;
            const bool routed = frame.size() >= 7 && report.size() >= 7 && frame[2] == 'y' &&
                                frame[4] == report[5] && frame.substr(6, frame.size() - 7) == report.substr(6, report.size() - 7);
            if (same || routed) {
                ++status.acknowledgements;
                trace.Note("report acknowledged");
                reportsAwaitingAck.erase(it);
                return;
            }
        }
        trace.Note("frame taken and ignored: " + HexText(frame));
    }

    bool Reachable(const StationImage& st) const {
        if (mode != ModemMode::Data) return false;
        if (st.def.phone.empty()) return true;
        if (answeredCall) {
            const StationImage* c = caller ? Find(caller) : nullptr;
            return !c || c->def.phone.empty() || DialDigits(c->def.phone) == DialDigits(st.def.phone);
        }
        return DialDigits(st.def.phone) == number;
    }

    // Byte noise inside a framed answer. An inverted bit always spoils the check byte. A lost
    // byte (one after the address and the length) leaves the frame short: the driver waits for a
    // byte, and takes the suffix's first byte if the line has a suffix. A doubled byte shifts the
    // frame's end. Either passes the check only when the byte taken as the check byte happens to
    // fit. No receiver can tell that from a good frame, so such a position is not chosen; the
    // next one that spoils the check is.
    void SpoilBytes(const Fault& fault, Bytes& answer) const {
        const size_t n = answer.size();
        if (n == 0) return;
        if (fault.flipBit >= 0) {
            const size_t at = static_cast<size_t>(fault.flipBit / 8) % n;
            answer[at] = Char(Byte(answer[at]) ^ (1u << (fault.flipBit % 8)));
        }
        // Whether the driver, taking the frame's declared length from these bytes and what
        // follows them on the line, would find the check byte right.
        auto passes = [&](const Bytes& sent) {
            const Bytes line = sent + options.line.suffix;
            if (line.size() < n) return false;  // the frame never completes
            uint8_t x = 0;
            for (size_t i = 0; i < n; ++i) x ^= Byte(line[i]);
            return x == 0;
        };
        auto spoil = [&](int position, size_t first, bool twice) {
            if (position < 0 || n <= first) return;
            for (size_t k = 0; k < n - first; ++k) {
                const size_t at = first + (static_cast<size_t>(position) + k) % (n - first);
                Bytes spoilt = answer;
                if (twice) spoilt.insert(at, 1, answer[at]);
                else spoilt.erase(at, 1);
                if (!passes(spoilt)) {
                    answer = spoilt;
                    return;
                }
            }
        };
        spoil(fault.dropByte, 2, false);
        spoil(fault.doubleByte, 0, true);
    }

    // Sends a framed answer after the reply delay, spoilt by the first fault that applies.
    void Deliver(uint8_t station, Bytes answer, uint8_t driver) {
        Fault fault;
        bool faulty = false;
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->station != 0 && it->station != station) continue;
            fault = *it;
            faulty = true;
            if (it->count > 0 && --it->count == 0) faults.erase(it);
            break;
        }
        if (faulty) {
            if (fault.dropCarrier) {
                trace.Note("fault: carrier lost instead of the answer");
                const uint64_t gen = callGeneration;
                After(options.replyDelayMs + fault.delayMs, [this, gen] {
                    if (gen == callGeneration && Connected()) {
                        EndCall("carrier lost");
                        Reply("NO CARRIER");
                    }
                });
                return;
            }
            if (fault.silence) {
                trace.Note("fault: no answer");
                ++status.silenced;
                return;
            }
            if (fault.wrongAddress >= 0) {
                const std::string items = options.layout == Layout::Routed ? answer.substr(6, answer.size() - 7)
                                                                            : answer.substr(2, answer.size() - 3);
                answer = FrameAnswer(options.layout, driver, static_cast<uint8_t>(fault.wrongAddress), items);
            }
            if (fault.badCheck) answer.back() = Char(Byte(answer.back()) ^ 0x5A);
            SpoilBytes(fault, answer);
        }
        Bytes wire = options.line.prefix + answer + options.line.suffix;
        if (faulty) {
            if (fault.truncate >= 0 && static_cast<size_t>(fault.truncate) < wire.size()) wire.resize(static_cast<size_t>(fault.truncate));
            wire = fault.garbageBefore + wire + fault.garbageAfter;
            trace.Note("fault applied to the answer");
        }
        const uint64_t gen = callGeneration;
        After(options.replyDelayMs + (faulty ? fault.delayMs : 0), [this, gen, wire] {
            if (gen != callGeneration || mode != ModemMode::Data) return;
            ++status.answers;
            Send(wire);
        });
    }

    bool SendReportLocked(uint8_t station, const Report& report) {
        StationImage* st = Find(station);
        if (!st || mode != ModemMode::Data) return false;
        Bytes items;
        bool ack = false;
        switch (report.kind) {
            case ReportKind::Active: items = "H"; ack = true; break;
            case ReportKind::ControlError: items = "X"; ack = true; break;
            case ReportKind::Error: items = "E"; items += Char(report.code & 0xFF); break;
            case ReportKind::CallCode:
                items = "Qq";
                for (uint8_t x : EncodeLong(report.code)) items += Char(x);
                break;
        }
        const Bytes frame = FrameAnswer(options.layout, options.line.driverAddress, st->def.address, items, ack);
        if (ack) reportsAwaitingAck.push_back(frame);
        trace.Note("report from station " + std::to_string(station));
        Send(options.line.prefix + frame + options.line.suffix);
        return true;
    }

    // ---- the thread ----
    void Received(std::string_view bytes) {
        const auto now = Clock::now();
        trace.Write(TraceDirection::FromDriver, bytes);
        for (char c : bytes) {
            switch (mode) {
                case ModemMode::Command:
                case ModemMode::OnlineCommand: CommandByte(c); break;
                case ModemMode::Dialling:
                case ModemMode::Answering:
                    // any character abandons the call attempt
                    ++callGeneration;
                    mode = ModemMode::Command;
                    Reply("NO CARRIER");
                    break;
                case ModemMode::Data: DataByte(c, now); break;
            }
        }
        Send({});  // the echo of this chunk
    }

    void RunDueActions() {
        for (;;) {
            const auto now = Clock::now();
            auto next = actions.end();
            for (auto it = actions.begin(); it != actions.end(); ++it)
                if (it->due <= now && (next == actions.end() || it->due < next->due ||
                                       (it->due == next->due && it->order < next->order)))
                    next = it;
            if (next == actions.end()) return;
            auto run = std::move(next->run);
            const bool unlocked = next->unlocked;
            actions.erase(next);
            if (unlocked) unlockedDue.push_back(std::move(run));
            else run();
        }
    }

    // Ten bits at the paced line's speed.
    Clock::duration ByteTime() const {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / options.paceBaud));
    }
    bool Paced() const { return options.paceBaud > 0; }

    int PollTimeoutMs() const {
        int timeout = 50;
        const auto now = Clock::now();
        if (Paced() && !outBuffer.empty() && paceNext > now) {
            const auto wait = std::chrono::ceil<milliseconds>(paceNext - now).count();
            timeout = static_cast<int>(std::min<long long>(wait, timeout));
        }
        for (const Action& a : actions) {
            const auto ms = std::chrono::duration_cast<milliseconds>(a.due - now).count() + 1;
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, timeout));
        }
        return timeout;
    }

    // The driver's side closing the terminal: a modem drops the call when DTR goes.
    void TerminalClosed() {
        std::lock_guard<std::mutex> guard(lock);
        if (Connected()) EndCall("the terminal was closed (DTR dropped)");
    }

    void Loop() {
        char buffer[4096];
        const int closes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (closes >= 0 && inotify_add_watch(closes, slavePath.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
            trace.Note("cannot watch " + slavePath + " for the terminal's closing");
        while (!stop.load()) {
            pollfd fds[3] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}, {closes, POLLIN, 0}};
            int timeout;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (!outBuffer.empty() && (!Paced() || paceNext <= Clock::now())) fds[0].events |= POLLOUT;
                timeout = PollTimeoutMs();
            }
            if (poll(fds, closes >= 0 ? 3 : 2, timeout) < 0 && errno != EINTR) break;
            if (fds[1].revents & POLLIN) {
                while (read(wake[0], buffer, sizeof buffer) > 0) {
                }
            }
            if (closes >= 0 && (fds[2].revents & POLLIN)) {
                bool closed = false;
                while (read(closes, buffer, sizeof buffer) > 0) closed = true;
                if (closed && !stop.load()) TerminalClosed();
            }
            std::string in;
            if (fds[0].revents & POLLIN) {
                const ssize_t n = read(master, buffer, sizeof buffer);
                if (n > 0) in.assign(buffer, static_cast<size_t>(n));
                if (n > 0 && options.wireTap) options.wireTap(false, in);
            }
            std::vector<std::function<void()>> toRun;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (!in.empty()) Received(in);
                RunDueActions();
                toRun.swap(unlockedDue);
            }
            for (auto& run : toRun) run();
            std::lock_guard<std::mutex> guard(lock);
            while (!outBuffer.empty()) {
                size_t count = outBuffer.size();
                if (Paced()) {
                    // Only the bytes whose time has come; late ones go together.
                    const auto now = Clock::now();
                    if (now < paceNext) break;
                    count = std::min<size_t>(count, 1 + static_cast<size_t>((now - paceNext) / ByteTime()));
                }
                const ssize_t n = write(master, outBuffer.data(), count);
                if (n <= 0) break;
                if (options.wireTap) options.wireTap(true, std::string_view(outBuffer.data(), static_cast<size_t>(n)));
                if (Paced()) paceNext += n * ByteTime();
                outBuffer.erase(0, static_cast<size_t>(n));
            }
        }
        if (closes >= 0) close(closes);
    }
};

Simulator::Simulator(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) { impl_->self = this; }

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(std::string& error) {
    Impl& m = *impl_;
    if (m.started) return true;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    if (openpty(&m.master, &m.slave, name, &raw, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    m.slavePath = name;
    fcntl(m.master, F_SETFL, fcntl(m.master, F_GETFL) | O_NONBLOCK);
    fcntl(m.master, F_SETFD, FD_CLOEXEC);
    fcntl(m.slave, F_SETFD, FD_CLOEXEC);
    if (pipe2(m.wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        Stop();
        return false;
    }
    if (!m.options.linkPath.empty()) {
        // An old link (of an earlier run) is replaced; anything else at that path is kept.
        struct stat old {};
        if (lstat(m.options.linkPath.c_str(), &old) == 0) {
            if (!S_ISLNK(old.st_mode)) {
                error = "cannot make the link " + m.options.linkPath + ": it exists and is not a symbolic link";
                Stop();
                return false;
            }
            unlink(m.options.linkPath.c_str());
        }
        if (symlink(m.slavePath.c_str(), m.options.linkPath.c_str()) != 0) {
            error = "cannot make the link " + m.options.linkPath + ": " + std::strerror(errno);
            Stop();
            return false;
        }
    }
    if (!m.options.tracePath.empty() && !m.trace.Open(m.options.tracePath, error)) {
        Stop();
        return false;
    }
    m.startTime = Clock::now();
    m.trace.Note("zksim started on " + m.slavePath);
    m.stop = false;
    m.started = true;
    m.thread = std::thread([&m] { m.Loop(); });
    return true;
}

void Simulator::Stop() {
    Impl& m = *impl_;
    m.stop = true;
    m.Wake();
    if (m.thread.joinable()) m.thread.join();
    if (m.started && !m.options.linkPath.empty()) unlink(m.options.linkPath.c_str());
    m.started = false;
    for (int* fd : {&m.master, &m.slave, &m.wake[0], &m.wake[1]})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    m.trace.Close();
}

std::string Simulator::SlavePath() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slavePath;
}

#define ZK_STATION(station)                          \
    std::lock_guard<std::mutex> guard(impl_->lock); \
    StationImage* st = impl_->Find(station);        \
    if (!st) return false

bool Simulator::SetBinaryIn(uint8_t station, int point, bool on) {
    ZK_STATION(station);
    if (point < 1 || point > 96) return false;
    st->binaryIn[static_cast<size_t>(point - 1)] = on;
    return true;
}

bool Simulator::BinaryOut(uint8_t station, int point, bool& on) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    if (!st || point < 1 || point > 96) return false;
    on = st->binaryOut[static_cast<size_t>(point - 1)];
    return true;
}

bool Simulator::SetAnalogRaw(uint8_t station, int input, uint16_t raw) {
    ZK_STATION(station);
    if (input < 1 || input > 64) return false;
    st->analogRaw[static_cast<size_t>(input - 1)] = raw;
    return true;
}

bool Simulator::SetAnalogValue(uint8_t station, int input, double value) {
    ZK_STATION(station);
    if (input < 1 || input > 64) return false;
    st->SetAnalogValue(input, value);
    return true;
}

bool Simulator::AddAnalogRaw(uint8_t station, int input, int delta) {
    ZK_STATION(station);
    if (input < 1 || input > 64) return false;
    uint16_t& raw = st->analogRaw[static_cast<size_t>(input - 1)];
    raw = static_cast<uint16_t>((raw & 0x8000) | ((raw + delta) & 0x7FFF));
    return true;
}

bool Simulator::SetCounter(uint8_t station, int counter, uint16_t raw) {
    ZK_STATION(station);
    if (counter < 1 || counter > 48) return false;
    st->counters[static_cast<size_t>(counter - 1)] = raw;
    return true;
}

bool Simulator::Counter(uint8_t station, int counter, uint16_t& raw) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    if (!st || counter < 1 || counter > 48) return false;
    raw = st->counters[static_cast<size_t>(counter - 1)];
    return true;
}

bool Simulator::SetMemoryIn(uint8_t station, int entry, double value) {
    ZK_STATION(station);
    if (entry < 1 || entry > 100) return false;
    st->SetMemoryEntry(st->def.memoryIn[static_cast<size_t>(entry - 1)], value);
    return true;
}

bool Simulator::MemoryOut(uint8_t station, int entry, double& value) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    if (!st || entry < 1 || entry > 100) return false;
    value = st->MemoryEntryValue(st->def.memoryOut[static_cast<size_t>(entry - 1)]);
    return true;
}

bool Simulator::SetConstant(uint8_t station, int index, double value) {
    ZK_STATION(station);
    if (index < 1 || index > 8) return false;
    st->constants[static_cast<size_t>(index - 1)] = value;
    return true;
}

bool Simulator::Constant(uint8_t station, int index, double& value) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    if (!st || index < 1 || index > 8) return false;
    value = st->constants[static_cast<size_t>(index - 1)];
    return true;
}

bool Simulator::SetMemory(uint8_t station, uint16_t address, const Bytes& bytes) {
    ZK_STATION(station);
    for (size_t i = 0; i < bytes.size(); ++i) st->memory[(address + i) & 0xFFFF] = Byte(bytes[i]);
    return true;
}

Bytes Simulator::Memory(uint8_t station, uint16_t address, size_t count) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    Bytes out;
    if (!st) return out;
    for (size_t i = 0; i < count; ++i) out += Char(st->memory[(address + i) & 0xFFFF]);
    return out;
}

bool Simulator::SetBlockItem(uint8_t station, size_t block, size_t item, double value) {
    ZK_STATION(station);
    return st->SetBlockItem(block, item, value);
}

bool Simulator::SetQq(uint8_t station, uint8_t d, uint8_t b, uint8_t a, std::array<uint8_t, 4> value) {
    ZK_STATION(station);
    st->qq[StationImage::QqKey(d, b, a)] = value;
    return true;
}

bool Simulator::SetQqLong(uint8_t station, uint8_t d, uint8_t b, uint8_t a, int32_t value) {
    return SetQq(station, d, b, a, EncodeLong(static_cast<uint32_t>(value)));
}

bool Simulator::SetQqReal(uint8_t station, uint8_t d, uint8_t b, uint8_t a, float value) {
    return SetQq(station, d, b, a, EncodeSingle(value));
}

bool Simulator::SetQqText(uint8_t station, uint8_t d, uint8_t b, uint8_t a, const Bytes& text) {
    ZK_STATION(station);
    for (int k = 0; k < 8; ++k) {
        std::array<uint8_t, 4> chunk = {' ', ' ', ' ', ' '};
        for (size_t j = 0; j < 4; ++j) {
            const size_t i = static_cast<size_t>(k) * 4 + j;
            if (i < text.size()) chunk[j] = Byte(text[i]);
        }
        st->qq[StationImage::QqKey(d, b, static_cast<uint8_t>(a + k))] = chunk;
    }
    return true;
}

bool Simulator::SetQqInvalid(uint8_t station, uint8_t d, uint8_t b, uint8_t a) {
    return SetQq(station, d, b, a, kQqInvalid);
}

bool Simulator::Qq(uint8_t station, uint8_t d, uint8_t b, uint8_t a, std::array<uint8_t, 4>& value) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    if (!st) return false;
    const auto it = st->qq.find(StationImage::QqKey(d, b, a));
    value = it == st->qq.end() ? kQqInvalid : it->second;
    return it != st->qq.end();
}

bool Simulator::SetSampleRow(uint8_t station, int table, int row, const std::array<int, 6>& dateTime, uint8_t state,
                             const std::array<double, 8>& values) {
    ZK_STATION(station);
    return st->SetSampleRow(table, row, dateTime, state, values);
}

bool Simulator::SetHistoryRecord(uint8_t station, uint32_t record, uint16_t word, uint32_t seconds, float value) {
    ZK_STATION(station);
    return st->SetHistoryRecord(record, word, seconds, value);
}

bool Simulator::AppendHistory(uint8_t station, uint16_t word, uint32_t seconds, float value, uint32_t count,
                              uint32_t step) {
    ZK_STATION(station);
    for (uint32_t k = 0; k < count; ++k)
        st->AppendHistory(word, seconds + k * step, value + static_cast<float>(k));
    return true;
}

bool Simulator::SetHistoryTop(uint8_t station, uint32_t top) {
    ZK_STATION(station);
    st->SetHistoryTop(top);
    return true;
}

bool Simulator::HistoryTop(uint8_t station, uint32_t& top) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    if (!st) return false;
    top = st->HistoryTop();
    return true;
}

bool Simulator::SetHistoryUserPos(uint8_t station, int user, uint32_t pos) {
    ZK_STATION(station);
    return st->SetHistoryUserPos(user, pos);
}

bool Simulator::HistoryUserPos(uint8_t station, int user, uint32_t& pos) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const StationImage* st = impl_->Find(station);
    return st && st->HistoryUserPos(user, pos);
}

bool Simulator::SetHistoryReader(uint8_t station, HistoryReader reader) {
    ZK_STATION(station);
    st->historyReader = std::move(reader);
    return true;
}

#undef ZK_STATION

void Simulator::AddNumber(const std::string& number, bool busy) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    (busy ? impl_->options.busyNumbers : impl_->options.extraNumbers).push_back(DialDigits(number));
}

void Simulator::At(double seconds, double repeatSeconds, std::function<void(Simulator&)> command) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Impl* m = impl_.get();
    struct Repeat {
        static void Arm(Impl* m, Clock::time_point due, double period, std::function<void(Simulator&)> cmd) {
            m->AfterUnlocked(due, [m, due, period, cmd] {
                cmd(*m->self);
                if (period > 0) {
                    std::lock_guard<std::mutex> guard(m->lock);
                    Arm(m, due + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(period)),
                        period, cmd);
                }
            });
        }
    };
    Repeat::Arm(m, due, repeatSeconds, std::move(command));
}

bool Simulator::RunScenario(const std::string& text, std::string& error) {
    std::vector<ScenarioLine> lines;
    std::set<uint8_t> stations;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        for (const StationImage& st : impl_->stations) stations.insert(st.def.address);
    }
    if (!ParseScenario(text, lines, error, &stations)) return false;
    for (ScenarioLine& line : lines) {
        if (line.at == 0 && line.every == 0) line.command(*this);
        else At(line.at, line.every, line.command);
    }
    return true;
}

bool Simulator::RunScenarioFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open the scenario file " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!RunScenario(text.str(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

void Simulator::Ring(int count) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->RingLocked(count, 0, false, {});
}

bool Simulator::Call(uint8_t station, int rings, Report report) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->Find(station)) return false;
    impl_->RingLocked(rings, station, true, report);
    return true;
}

bool Simulator::SendReport(uint8_t station, Report report) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->SendReportLocked(station, report);
}

void Simulator::DropCarrier() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->Connected()) return;
    impl_->EndCall("carrier lost");
    impl_->Reply("NO CARRIER");
}

void Simulator::InjectFault(const Fault& fault) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->faults.push_back(fault);
}

void Simulator::ClearFaults() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->faults.clear();
}

void Simulator::SendRaw(const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->Send(bytes);
}

SimStatus Simulator::Status() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    SimStatus s = impl_->status;
    s.mode = impl_->mode;
    s.connected = impl_->Connected();
    s.answeredCall = impl_->answeredCall;
    s.number = impl_->number;
    s.ringing = impl_->ringing;
    return s;
}

std::vector<Bytes> Simulator::Requests() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->requests;
}

}  // namespace zksim
