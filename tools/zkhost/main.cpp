// zkhost: a host for the driver library, loaded by file name and used through its eighteen
// exports only. It starts one instance with a parameter file, carries out a script of channel
// reads, writes and waits, and stops the instance.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/driver_api.h"
#include "common/pause.h"
#include "common/text.h"
#include "zkhost/script.h"
#include "zkhost/window_check.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: zkhost [--library PATH] [--name NAME] [--script FILE] [-e COMMAND]... [--show-window]\n"
                 "              [--window-check] PARAMETER-FILE\n"
                 "  Loads the driver, starts an instance with the parameter file, runs the script's\n"
                 "  commands (from --script, then every -e in order) and stops the instance.\n"
                 "  Commands (one per line, # starts a comment):\n"
                 "    read CHANNEL TYPE               request the channel and print its value\n"
                 "    get CHANNEL TYPE                print the value without a request\n"
                 "    write CHANNEL TYPE VALUE        hand the driver a value\n"
                 "    until CHANNEL TYPE VALUE SECS   request and read until the value is VALUE (fails after SECS)\n"
                 "    watch SECS CHANNEL:TYPE...      request and print the channels once a second\n"
                 "    wait SECS                       let the driver work\n"
                 "    print TEXT                      print the text\n"
                 "  TYPE: bool u8 u16 u32 i8 i16 i32 f32 f64 text\n"
                 "  --show-window   show the driver's status window (DriverProc 1) during the run (Windows)\n"
                 "  --window-check  put the status window through the host's requests first (Windows)\n"
                 "  --no-pump       never handle window messages, as a host without a message loop (Windows)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = zktool::DefaultLibraryPath();
    std::string name = "ZKHOST";
    std::string parFile;
    std::vector<std::string> lines;
    bool showWindow = false, windowCheck = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--library" && i + 1 < argc) library = argv[++i];
        else if (arg == "--name" && i + 1 < argc) name = argv[++i];
        else if (arg == "--script" && i + 1 < argc) {
            std::ifstream in(argv[++i]);
            if (!in) {
                std::fprintf(stderr, "zkhost: cannot read the script %s\n", argv[i]);
                return 2;
            }
            for (std::string line; std::getline(in, line);) lines.push_back(line);
        } else if (arg == "-e" && i + 1 < argc) lines.emplace_back(argv[++i]);
        else if (arg == "--show-window") showWindow = true;
        else if (arg == "--window-check") windowCheck = true;
        else if (arg == "--no-pump") zktool::SetMessagePump(false);
        else if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            Usage();
            return 2;
        } else parFile = arg;
    }
    if (parFile.empty()) {
        Usage();
        return 2;
    }
    std::vector<zkhost::Command> script;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string error;
        zkhost::Command command;
        if (!zkhost::ParseCommand(lines[i], command, error)) {
            std::fprintf(stderr, "zkhost: script line %zu: %s\n", i + 1, error.c_str());
            return 2;
        }
        if (command.Op != zkhost::OpKind::None) script.push_back(command);
    }

    zktool::DriverApi api;
    std::string error;
    if (!api.Load(library, error)) {
        std::fprintf(stderr, "zkhost: %s\n", error.c_str());
        return 1;
    }
    char info[64] = {};
    const int32_t infoLength = api.GetDriverInfo(0, info);
    std::printf("library:  %s\n", library.c_str());
    std::printf("Version:  0x%X\n", api.Version());
    std::printf("Driver:   %s (%d characters)\n", zktool::FromCp1250(info).c_str(), infoLength);

    void* driver = api.MakeDriver();
    char text[256] = {};
    const std::string hostName = zktool::ToCp1250(name);
    std::strncpy(text, hostName.c_str(), 255);
    const std::string file = zktool::ToCp1250(parFile);
    const uint32_t ok = api.Init(driver, static_cast<int32_t>(file.size()), file.c_str(), 0, text, 0, 0, 0, 0);
    std::printf("Init:     %s\n", ok ? "true" : "false");
    if (!ok) std::printf("text:     %s\n", zktool::FromCp1250(text).c_str());
    std::fflush(stdout);

    bool scriptOk = true;
    if (windowCheck)
        scriptOk = zkhost::CheckStatusWindow(api, driver, zktool::FromCp1250(info) + ": " + name, showWindow);
    else if (showWindow)
        api.DriverProc(driver, 1, 0, 0, 0, 0);
    if (ok && scriptOk) {
        zkhost::Runner runner(api, driver);
        for (const zkhost::Command& command : script) {
            if (!runner.Run(command)) {
                scriptOk = false;
                break;
            }
        }
    }
    const auto doneStart = std::chrono::steady_clock::now();
    api.Done(driver);
    std::printf("Done:     %.0f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - doneStart).count());
    std::fflush(stdout);
    api.DisposeDriver(driver);
    return ok && scriptOk ? 0 : 1;
}
