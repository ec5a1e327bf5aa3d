// zksim: an AT modem with telemetry stations behind it, on a pseudo-terminal.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"
#include "zksim/zksim.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: zksim [options]\n"
                 "  Plays an AT modem and the stations behind it on a pseudo-terminal and prints\n"
                 "  the terminal's path. Stops on Ctrl-C (SIGINT) or SIGTERM.\n"
                 "options:\n"
                 "  --par FILE          read stations, PREFIX/SUFFIX/PRESUFFIX, ADDRESS and\n"
                 "                      CONNECT_RING from the driver's parameter file\n"
                 "  --scenario FILE     run a scenario file (values, changes over time, faults)\n"
                 "  --link PATH         make PATH a symbolic link to the terminal\n"
                 "  --trace FILE        append a timestamped hex trace of the traffic to FILE\n"
                 "  --layout routed|short  answer layout of the stations (default routed)\n"
                 "  --number NUMBER     one more number that connects (repeatable)\n"
                 "  --busy NUMBER       a number that answers BUSY (repeatable)\n"
                 "  --dial-delay MS     ATD until the result (default 1000)\n"
                 "  --answer-delay MS   ATA until CONNECT (default 500)\n"
                 "  --reply-delay MS    request until answer (default 20)\n"
                 "  --guard MS          +++ escape guard time (default 1000)\n"
                 "  --ring-interval MS  pause between ring texts (default 4000)\n"
                 "  --ringing           send RINGING texts while dialling\n"
                 "  --echo              echo commands (as after ATE1)\n"
                 "  --connect TEXT      the connect text (default \"CONNECT 9600\")\n"
                 "  --pace BAUD         send to the driver at the line's speed (10 bits a byte)\n"
                 "  --quiet             no command prompt on standard input\n"
                 "Lines typed on standard input are scenario commands, run at once\n"
                 "(e.g. \"ring 3\", \"set 5 bi 1 1\", \"nocarrier\"); see docs/simulator.md.\n");
}

bool Number(const char* text, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*end != '\0' || v < 0 || v > 3600000) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    zksim::SimOptions options;
    std::string parFile, scenarioFile;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        int ms = 0;
        auto msOption = [&](int& target) {
            if (!hasValue || !Number(argv[++i], ms)) return false;
            target = ms;
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return 0;
        } else if (arg == "--par" && hasValue) parFile = argv[++i];
        else if (arg == "--scenario" && hasValue) scenarioFile = argv[++i];
        else if (arg == "--link" && hasValue) options.linkPath = argv[++i];
        else if (arg == "--trace" && hasValue) options.tracePath = argv[++i];
        else if (arg == "--number" && hasValue) options.extraNumbers.push_back(argv[++i]);
        else if (arg == "--busy" && hasValue) options.busyNumbers.push_back(argv[++i]);
        else if (arg == "--connect" && hasValue) options.connectText = argv[++i];
        else if (arg == "--ringing") options.ringingTexts = true;
        else if (arg == "--echo") options.echo = true;
        else if (arg == "--quiet") quiet = true;
        else if (arg == "--layout" && hasValue) {
            const std::string v = argv[++i];
            if (v == "routed") options.layout = zksim::Layout::Routed;
            else if (v == "short") options.layout = zksim::Layout::Short;
            else {
                Usage(stderr);
                return 2;
            }
        } else if ((arg == "--dial-delay" && msOption(options.dialDelayMs)) ||
                   (arg == "--answer-delay" && msOption(options.answerDelayMs)) ||
                   (arg == "--reply-delay" && msOption(options.replyDelayMs)) ||
                   (arg == "--guard" && msOption(options.guardMs)) ||
                   (arg == "--ring-interval" && msOption(options.ringIntervalMs)) ||
                   (arg == "--pace" && msOption(options.paceBaud) && options.paceBaud > 0)) {
        } else {
            std::fprintf(stderr, "zksim: unknown or incomplete option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    std::string error;
    if (!parFile.empty() && !zksim::ScanParameterFile(parFile, options.line, error)) {
        std::fprintf(stderr, "zksim: %s\n", error.c_str());
        return 1;
    }
    zksim::Simulator sim(options);
    if (!sim.Start(error)) {
        std::fprintf(stderr, "zksim: %s\n", error.c_str());
        return 1;
    }
    if (!scenarioFile.empty() && !sim.RunScenarioFile(scenarioFile, error)) {
        std::fprintf(stderr, "zksim: %s\n", error.c_str());
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::printf("%s\n", sim.SlavePath().c_str());
    for (const auto& st : options.line.stations)
        std::fprintf(stderr, "zksim: station %u \"%s\" phone %s\n", st.address, zktool::FromCp1250(st.name).c_str(),
                     st.phone.empty() ? "(any call)" : st.phone.c_str());
    if (!options.linkPath.empty()) std::fprintf(stderr, "zksim: link %s\n", options.linkPath.c_str());
    std::fflush(stdout);

    bool readInput = !quiet;
    std::string pending;
    while (!g_stop) {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        const int ready = readInput ? poll(&fd, 1, 200) : poll(nullptr, 0, 200);
        if (ready <= 0 || !readInput || !(fd.revents & (POLLIN | POLLHUP))) continue;
        char buffer[512];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            readInput = false;  // standard input closed: serve until a signal
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::string word = line.substr(0, line.find_first_of(" \t\r"));
            if (word == "help" || word == "?") {
                std::printf("commands (one per line, run at once; docs/simulator.md has them all):\n"
                            "  status                        the modem's state and the counters\n"
                            "  set|add STATION WHAT N VALUE  change a station's value (bi, ai, counter, mi, ...)\n"
                            "  history STATION ...           append records to a station's history ring\n"
                            "  number NUMBER [connect|busy]  one more number that answers\n"
                            "  ring [COUNT]                  ring the driver's modem\n"
                            "  call STATION [RINGS]          a station calls the driver\n"
                            "  report STATION ...            a station sends a report\n"
                            "  nocarrier                     drop the call as the line does\n"
                            "  fault ... / clear-faults      faults of the next answers\n"
                            "  send HEX                      bytes to the driver\n"
                            "  at SECS CMD, every SECS CMD   a command later, or again and again\n"
                            "  help                          this text\n");
                std::fflush(stdout);
                continue;
            }
            if (word == "status") {
                const zksim::SimStatus st = sim.Status();
                static const char* const kModes[] = {"command", "dialling", "answering", "data", "online command"};
                const auto mode = static_cast<std::size_t>(st.mode);
                std::printf("modem: %s, %s%s%s; calls %llu, AT commands %llu, requests %llu, answers %llu, "
                            "silenced %llu, bad frames %llu, rings %llu\n",
                            mode < 5 ? kModes[mode] : "?", st.connected ? "call up" : "no call",
                            st.connected ? (st.answeredCall ? " (answered)" : " (dialled ") : "",
                            st.connected && !st.answeredCall ? (st.number + ")").c_str() : (st.ringing ? ", ringing" : ""),
                            static_cast<unsigned long long>(st.connections), static_cast<unsigned long long>(st.commands),
                            static_cast<unsigned long long>(st.requests), static_cast<unsigned long long>(st.answers),
                            static_cast<unsigned long long>(st.silenced), static_cast<unsigned long long>(st.badFrames),
                            static_cast<unsigned long long>(st.ringsSent));
                std::fflush(stdout);
                continue;
            }
            if (!sim.RunCommand(line, error)) std::fprintf(stderr, "zksim: %s: %s\n", line.c_str(), error.c_str());
        }
    }
    sim.Stop();
    return 0;
}
