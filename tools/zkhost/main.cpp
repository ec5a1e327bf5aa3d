// zkhost: a host for the driver library, loaded by file name and used through its eighteen
// exports only. It starts one instance with a parameter file, carries out a script of channel
// reads, writes and waits, hangs up and stops the instance; `check` shows what the driver makes
// of a parameter file, `history` lists a history file, `run` shows the driver live.
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/driver_api.h"
#include "common/pause.h"
#include "common/text.h"
#include "zkhost/check.h"
#include "zkhost/history_list.h"
#include "zkhost/json.h"
#include "zkhost/live.h"
#include "zkhost/script.h"
#include "zkhost/window_check.h"

#ifndef ZK_VERSION
#define ZK_VERSION "0"
#endif

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;     // a script command did not get what it asked for
constexpr int kExitUsage = 2;      // bad arguments or a bad script line
constexpr int kExitNoDriver = 3;   // the library does not load or Init fails

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: zkhost [OPTIONS] PARAMETER-FILE     run a script against the driver\n"
                 "       zkhost run [OPTIONS] PARAMETER-FILE live view of the driver (terminal)\n"
                 "       zkhost check [--json] [--quiet] PARAMETER-FILE\n"
                 "       zkhost history FILE.hdb [--from N] [--count N] [--csv|--json]\n"
                 "       zkhost --version | --help\n"
                 "\n"
                 "Loads the driver library, starts an instance with the parameter file, runs the script's\n"
                 "commands (from --script, then every -e in order), hangs up any line the driver holds, and\n"
                 "stops the instance (Done), also when a command fails or on SIGINT/SIGTERM.\n"
                 "\n"
                 "Options:\n"
                 "  --library PATH     the driver library (default: the one beside zkhost)\n"
                 "  --name NAME        the driver's name in the host (default ZKHOST; names the history files)\n"
                 "  --script FILE      script commands, one per line (# starts a comment)\n"
                 "  -e COMMAND         one more script command\n"
                 "  --events           the driver's event-list lines on stderr, time-stamped, as they appear\n"
                 "  --json             one JSON object per result line on stdout\n"
                 "  --read-wait SECS   how long `read` waits for an answer (default 15)\n"
                 "  --hangup-wait SECS how long the hang-up at the end may take (default 20)\n"
                 "  --show-window      show the driver's status window (DriverProc 1) during the run (Windows)\n"
                 "  --window-check     put the status window through the host's requests first (Windows)\n"
                 "  --no-pump          never handle window messages, as a host without a message loop (Windows)\n"
                 "\n"
                 "Commands (CHANNEL is a number followed by a TYPE, or a name such as st2.bi.1, st1.connect,\n"
                 "st1.qq.2, modem.hangup, with an optional TYPE; `zkhost check` lists the names):\n"
                 "  read CHANNEL [SECS]   ask for the value and print it when the station has answered;\n"
                 "                        a channel without a request prints the driver's image and says so\n"
                 "  get CHANNEL           print the value without a request\n"
                 "  write CHANNEL VALUE   hand the driver a value\n"
                 "  until CHANNEL [OP] VALUE SECS [stop CHANNEL [OP VALUE]]\n"
                 "                        wait until the value compares (OP = != < <= > >=, numbers as\n"
                 "                        numbers, true/false as 1/0); fails after SECS or as soon as the\n"
                 "                        stop condition holds (default: = 1), e.g. stop st2.unreachable\n"
                 "  watch SECS CHANNEL... print the channels once a second (CHANNEL:TYPE or a name); a QQ\n"
                 "                        item is asked for only while its station is on line, once per answer\n"
                 "  dial STATION          write 1 to the station's connect channel\n"
                 "  hangup [STATION]      write 0 to its connect channel; without one, the modem hang-up\n"
                 "  wait SECS             let the driver work\n"
                 "  print TEXT            print the text\n"
                 "  TYPE: bool u8 u16 u32 i8 i16 i32 f32 f64 text\n"
                 "\n"
                 "Values: \"no value\" when the driver left the host's record untouched, \"not served\" when\n"
                 "the channel does not serve the type, \"no answer\" when the station did not answer a read.\n"
                 "\n"
                 "Exit status: 0 done; 1 a command failed (until not reached or stopped, a read without\n"
                 "answer, no value, not served, a write the driver ignores); 2 bad arguments or script;\n"
                 "3 the library does not load or Init fails; 130/143 stopped by SIGINT/SIGTERM (the last\n"
                 "line says whether the line was hung up). A failing command is named by its script line\n"
                 "on stderr. `check`: 0 clean, 1 warnings, 2 the driver refuses the file.\n");
}

void OnSignal(int signal) { zkhost::Runner::Interrupt = signal; }

int RunCheckCommand(int argc, char** argv) {
    bool json = false, quiet = false;
    std::string file;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") json = true;
        else if (arg == "--quiet" || arg == "-q") quiet = true;
        else if (arg == "-h" || arg == "--help") {
            std::printf("usage: zkhost check [--json] [--quiet] PARAMETER-FILE\n"
                        "  Loads the file with the driver's own loader and shows the settings in force\n"
                        "  (defaults marked), every station as loaded and warnings with line numbers.\n"
                        "  Exit status: 0 clean, 1 warnings, 2 the driver refuses the file.\n");
            return 0;
        } else if (file.empty() && !arg.empty() && arg[0] != '-') file = arg;
        else {
            std::fprintf(stderr, "zkhost check: unexpected argument '%s'\n", arg.c_str());
            return kExitUsage;
        }
    }
    if (file.empty()) {
        std::fprintf(stderr, "usage: zkhost check [--json] [--quiet] PARAMETER-FILE\n");
        return kExitUsage;
    }
    return zkhost::RunCheck(file, json, quiet);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "check") return RunCheckCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "history") return zkhost::RunHistoryList(argc - 1, argv + 1);
    bool live = false;  // `run`, the first word that is no option

    std::string library = zktool::DefaultLibraryPath();
    std::string name = "ZKHOST";
    std::string parFile;
    std::vector<std::string> lines;
    std::vector<std::string> origins;  // where each line came from, for the errors
    zkhost::RunOptions options;
    double hangupWait = 20.0;
    bool showWindow = false, windowCheck = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto seconds = [&](double& target) {
            char* end = nullptr;
            target = std::strtod(argv[++i], &end);
            return *end == '\0' && target >= 0;
        };
        if (arg == "--library" && hasValue) library = argv[++i];
        else if (arg == "--name" && hasValue) name = argv[++i];
        else if (arg == "--script" && hasValue) {
            std::ifstream in(argv[++i]);
            if (!in) {
                std::fprintf(stderr, "zkhost: cannot read the script %s: %s\n", argv[i], std::strerror(errno));
                return kExitUsage;
            }
            int n = 0;
            for (std::string line; std::getline(in, line);) {
                lines.push_back(line);
                origins.push_back(std::string(argv[i]) + ":" + std::to_string(++n));
            }
        } else if (arg == "-e" && hasValue) {
            lines.emplace_back(argv[++i]);
            origins.push_back("-e '" + lines.back() + "'");
        } else if (arg == "--events") options.Events = true;
        else if (arg == "--show-window") showWindow = true;
        else if (arg == "--window-check") windowCheck = true;
        else if (arg == "--no-pump") zktool::SetMessagePump(false);
        else if (arg == "--json") options.Json = true;
        else if (arg == "--read-wait" && hasValue) {
            if (!seconds(options.ReadWait)) {
                std::fprintf(stderr, "zkhost: --read-wait takes seconds, not '%s'\n", argv[i]);
                return kExitUsage;
            }
        } else if (arg == "--hangup-wait" && hasValue) {
            if (!seconds(hangupWait)) {
                std::fprintf(stderr, "zkhost: --hangup-wait takes seconds, not '%s'\n", argv[i]);
                return kExitUsage;
            }
        } else if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("zkhost %s\n", ZK_VERSION);
            return kExitOk;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "zkhost: unknown option '%s' (zkhost --help lists them)\n", arg.c_str());
            return kExitUsage;
        } else if (arg == "run" && !live && parFile.empty()) {
            live = true;
        } else if (!parFile.empty()) {
            std::fprintf(stderr, "zkhost: one parameter file only ('%s' and '%s')\n", parFile.c_str(), arg.c_str());
            return kExitUsage;
        } else {
            parFile = arg;
        }
    }
    if (parFile.empty()) {
        std::fprintf(stderr, "zkhost: no parameter file given (zkhost --help shows the usage)\n");
        return kExitUsage;
    }

    // The names of the channels come from the driver's own loader, as `check` shows them.
    const zkhost::CheckResult checked = zkhost::CheckParameterFile(parFile);
    std::vector<zkhost::Command> script;
    std::vector<std::string> scriptOrigins;  // where each command of the script stands
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string error;
        zkhost::Command command;
        if (!zkhost::ParseCommand(lines[i], command, error, &checked.Channels)) {
            std::fprintf(stderr, "zkhost: %s: %s\n", origins[i].c_str(), error.c_str());
            return kExitUsage;
        }
        if (command.Op != zkhost::OpKind::None) {
            script.push_back(command);
            scriptOrigins.push_back(origins[i]);
        }
    }

    zktool::DriverApi api;
    std::string error;
    if (!api.Load(library, error)) {
        std::fprintf(stderr, "zkhost: cannot load the driver library %s: %s\n", library.c_str(), error.c_str());
        return kExitNoDriver;
    }
    char info[64] = {};
    const int32_t infoLength = api.GetDriverInfo(0, info);
    if (!options.Json && !live) {
        std::printf("library:  %s\n", library.c_str());
        std::printf("Version:  0x%X\n", api.Version());
        std::printf("Driver:   %s (%d characters)\n", zktool::FromCp1250(info).c_str(), infoLength);
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    void* driver = api.MakeDriver();
    char text[256] = {};
    const std::string hostName = zktool::ToCp1250(name);
    std::strncpy(text, hostName.c_str(), 255);
    const std::string file = zktool::ToCp1250(parFile);
    const uint32_t ok = api.Init(driver, static_cast<int32_t>(file.size()), file.c_str(), 0, text, 0, 0, 0, 0);
    const std::string initError = ok ? std::string() : zktool::FromCp1250(text);
    if (options.Json) {
        zkhost::JsonWriter j;
        j.Field("op", "init").Field("ok", ok != 0).Field("library", library);
        if (!ok) j.Field("error", initError);
        std::printf("%s\n", j.Str().c_str());
    } else if (!live) {
        std::printf("Init:     %s\n", ok ? "true" : "false");
    }
    if (!ok) std::fprintf(stderr, "zkhost: Init failed: %s\n", initError.c_str());
    std::fflush(stdout);

    int status = ok ? kExitOk : kExitNoDriver;
    zkhost::HangUpResult hangUp = zkhost::HangUpResult::NothingUp;
    zkhost::Runner runner(api, driver, checked.Channels, options);
    // The window exists also when Init failed (it is made first), so it is checked either way.
    if (windowCheck) {
        if (!zkhost::CheckStatusWindow(api, driver, zktool::FromCp1250(info) + ": " + name, showWindow) && ok)
            status = kExitFailed;
    } else if (ok && showWindow) {
        api.DriverProc(driver, 1, 0, 0, 0, 0);
    }
    if (ok && status == kExitOk) {
        if (live) {
            status = zkhost::RunLiveView(api, driver, runner, checked, parFile);
        } else {
            if (options.Events) runner.Pause(0);  // the lines Init wrote
            for (std::size_t i = 0; i < script.size(); ++i) {
                if (!runner.Run(script[i])) {
                    if (!zkhost::Runner::Interrupt.load()) {
                        status = kExitFailed;
                        std::fprintf(stderr, "zkhost: %s: %s; the script stops here\n", scriptOrigins[i].c_str(),
                                     runner.Failure().empty() ? "the command failed" : runner.Failure().c_str());
                    } else {
                        std::fprintf(stderr, "zkhost: %s: interrupted by signal %d\n", scriptOrigins[i].c_str(),
                                     zkhost::Runner::Interrupt.load());
                    }
                    break;
                }
            }
        }
        hangUp = runner.HangUpAll(hangupWait);
    }
    if (options.Events) runner.Pause(0);
    const auto doneStart = std::chrono::steady_clock::now();
    api.Done(driver);
    if (!options.Json && !live) {
        std::printf("Done:     %.0f ms\n",
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - doneStart).count());
        std::fflush(stdout);
    }
    api.DisposeDriver(driver);
    if (const int signal = zkhost::Runner::Interrupt.load()) {
        const char* done = hangUp == zkhost::HangUpResult::HungUp     ? "after hanging up and stopping the driver"
                           : hangUp == zkhost::HangUpResult::NothingUp ? "after stopping the driver (no line was up)"
                           : hangUp == zkhost::HangUpResult::TimedOut
                               ? "after stopping the driver; the hang-up did not finish in time, the modem may still hold the line"
                               : "after stopping the driver; a second signal cut the hang-up short, the modem may still "
                                 "hold the line";
        std::fprintf(stderr, "zkhost: stopped by signal %d %s\n", signal, done);
        return 128 + signal;
    }
    return status;
}
