// zkhost run: the driver live in the terminal. The status window (caption, identity lines, the
// twelve event lines, the six status lines), a watch list of channels with their values and
// ages, and a command line. Drawing is a plain function of the model, so that it is tested
// without a terminal; the terminal itself is ncurses.
#pragma once

#include <string>
#include <vector>

#include "zkhost/check.h"
#include "zkhost/script.h"
#include "zkhost/status_text.h"

namespace zkhost {

struct WatchRow {
    ChannelRef Ref;
    std::string Value;    // the value, or "no value", "not served as ..."
    double Age = -1;      // seconds since the value last changed; -1 before the first value
    double Since = -1;    // when it last changed (seconds on the view's clock)
    bool Asked = false;   // a read of it was asked for and may still wait in the queue
};

struct LiveModel {
    std::string File;
    StatusText Window;
    std::vector<WatchRow> Watch;
    std::vector<std::string> Output;  // the last results of commands, newest last
    std::string Input;                // the command line as typed so far
};

// The screen as lines of at most `width` display columns, exactly `height` lines.
std::vector<std::string> DrawLive(const LiveModel& model, int width, int height);

// Reads the window and the watched channels anew; a QQ read item is asked for as
// Runner::AskForWatch allows (once per answer, only while its station is on line).
void RefreshLive(Runner& runner, LiveModel& model, double now);

// What a command of the live view's command line does; false for `quit`. The commands are
// those of the script (read, get, write, dial, hangup, wait ...) and:
//   watch CHANNEL...   add channels to the watch list      unwatch CHANNEL   remove one
//   mb STATION [KIND]  start a memory-block table read     hdb STATION RECORD  browse a history record
//   quit
bool LiveCommand(Runner& runner, LiveModel& model, const std::string& line);

// The live view until the user quits or a signal comes; the exit status of zkhost.
int RunLiveView(zktool::DriverApi& api, void* driver, Runner& runner, const CheckResult& checked,
                const std::string& parFile);

}  // namespace zkhost
