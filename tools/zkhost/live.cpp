// The live view in the terminal (ncurses).
#include <chrono>
#include <clocale>
#include <cstdio>

#include "zkhost/live.h"

#ifdef ZK_HAVE_CURSES
#include <curses.h>
#endif

namespace zkhost {

#ifdef ZK_HAVE_CURSES

int RunLiveView(zktool::DriverApi& api, void* driver, Runner& runner, const CheckResult& checked,
                const std::string& parFile) {
    LiveModel model;
    model.File = parFile;
    runner.Options().Out = [&model](const std::string& line) { model.Output.push_back(line); };
    runner.Options().EventSink = [](const std::string&) {};
    runner.Options().Events = false;
    if (!checked.Warnings.empty())
        model.Output.push_back("zkhost check finds " + std::to_string(checked.Warnings.size()) +
                               " warning(s) in the parameter file");
    std::setlocale(LC_ALL, "");
    initscr();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    timeout(200);
    const auto start = std::chrono::steady_clock::now();
    std::string pending;  // the bytes of a UTF-8 character not yet complete
    bool running = true;
    while (running && !Runner::Interrupt.load()) {
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        RefreshLive(runner, model, now);
        const auto lines = DrawLive(model, COLS, LINES);
        for (int i = 0; i < static_cast<int>(lines.size()) && i < LINES; ++i) {
            move(i, 0);
            addstr(lines[static_cast<std::size_t>(i)].c_str());
            clrtoeol();
        }
        move(LINES - 1, std::min(COLS - 1, 2 + static_cast<int>(model.Input.size())));
        refresh();
        const int ch = getch();
        if (ch == ERR) continue;
        if (ch == '\n' || ch == '\r' || ch == KEY_ENTER) {
            const std::string line = model.Input;
            model.Input.clear();
            model.Output.push_back("> " + line);
            running = LiveCommand(runner, model, line);
            while (model.Output.size() > 200) model.Output.erase(model.Output.begin());
        } else if (ch == KEY_BACKSPACE || ch == 127 || ch == 8) {
            while (!model.Input.empty() && (static_cast<unsigned char>(model.Input.back()) & 0xC0) == 0x80)
                model.Input.pop_back();
            if (!model.Input.empty()) model.Input.pop_back();
        } else if (ch == 3 || ch == 4) {
            running = false;
        } else if (ch >= 32 && ch < 256) {
            model.Input += static_cast<char>(ch);
        }
    }
    endwin();
    (void)api;
    (void)driver;
    return 0;
}

#else

int RunLiveView(zktool::DriverApi&, void*, Runner&, const CheckResult&, const std::string&) {
    std::fprintf(stderr, "zkhost: this zkhost was built without a terminal library; `run` is not available\n");
    return 2;
}

#endif

}  // namespace zkhost
