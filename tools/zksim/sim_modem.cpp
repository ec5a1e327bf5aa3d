// The AT modem in front of the stations: its command mode, dialling, answering and ringing,
// the data mode and the "+++" escape to the online command mode.
#include <algorithm>
#include <cstring>
#include <string>

#include "zksim/sim_impl.h"

namespace zksim {

using std::chrono::milliseconds;

void Simulator::Impl::EndCall(const char* why) {
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

void Simulator::Impl::Connect(bool answered) {
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

void Simulator::Impl::CommandByte(char c) {
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

void Simulator::Impl::RunCommandLine(const std::string& line) {
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

void Simulator::Impl::Dial(const std::string& dialString) {
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

bool Simulator::Impl::KnownNumber(const std::string& digits) const {
    for (const std::string& n : options.extraNumbers)
        if (DialDigits(n) == digits) return true;
    for (const StationImage& s : stations)
        if (!s.def.phone.empty() && DialDigits(s.def.phone) == digits) return true;
    return false;
}

void Simulator::Impl::Answer() {
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

void Simulator::Impl::RingLocked(int count, uint8_t station, bool reportDue, Report report) {
    if (Connected() || mode == ModemMode::Dialling || mode == ModemMode::Answering) return;
    caller = station;
    callerReportDue = reportDue;
    callerReport = report;
    ringsLeft = std::max(count, 1);
    ringing = true;
    RingOnce(++ringGeneration);
}

void Simulator::Impl::RingOnce(uint64_t gen) {
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

void Simulator::Impl::DataByte(char c, Clock::time_point now) {
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

}  // namespace zksim
