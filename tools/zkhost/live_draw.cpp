// The live view's drawing and commands, without a terminal.
#include <cstdio>
#include <sstream>

#include "zkhost/live.h"

namespace zkhost {

namespace {

// Display columns of a UTF-8 text (one per code point; the driver's texts are Latin and Czech).
std::size_t Columns(const std::string& s) {
    std::size_t n = 0;
    for (const char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

// The text cut to `width` columns, never inside a UTF-8 sequence.
std::string Fit(const std::string& s, int width) {
    if (width <= 0) return {};
    std::size_t columns = 0, i = 0;
    for (; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (columns == static_cast<std::size_t>(width)) break;
            ++columns;
        }
    }
    return s.substr(0, i);
}

std::string Rule(const std::string& title, int width) {
    std::string line = "-- " + title + " ";
    while (static_cast<int>(Columns(line)) < width) line += '-';
    return Fit(line, width);
}

}  // namespace

std::vector<std::string> DrawLive(const LiveModel& m, int width, int height) {
    std::vector<std::string> lines;
    const StatusText& w = m.Window;
    lines.push_back(Rule((w.Caption.empty() ? std::string("zkdrv") : w.Caption) + "  [" + m.File + "]", width));
    lines.push_back(w.Name);
    lines.push_back(w.Version);
    lines.push_back(Rule("EventList", width));
    for (std::size_t i = 0; i < 12; ++i) lines.push_back(i < w.Events.size() ? w.Events[i] : "");
    lines.push_back(Rule("Stav ovladače", width));
    // The rows of the window, top to bottom: port, pass time, queues, messages, log, memory.
    static const int kOrder[] = {4, 0, 1, 2, 3, 5};
    for (const int i : kOrder) lines.push_back(w.Labels[static_cast<std::size_t>(i)]);
    lines.push_back(Rule("watch", width));
    for (const WatchRow& r : m.Watch) {
        char age[32] = "";
        if (r.Age >= 0) std::snprintf(age, sizeof age, "%6.1f s", r.Age);
        const std::string name = r.Ref.Name.empty() ? std::to_string(r.Ref.Channel) : r.Ref.Name;
        char head[64];
        std::snprintf(head, sizeof head, "%-22s %5u  ", name.c_str(), r.Ref.Channel);
        lines.push_back(std::string(head) + r.Value + (r.Age >= 0 ? "   (" + std::string(age) + ")" : ""));
    }
    if (m.Watch.empty()) lines.push_back("(none: watch CHANNEL adds one)");
    // The bottom: the latest results, the help line and the command line.
    const int fixed = static_cast<int>(lines.size());
    const int room = height - fixed - 3;
    lines.push_back(Rule("output", width));
    if (room > 0) {
        const int first = std::max(0, static_cast<int>(m.Output.size()) - room);
        for (int i = first; i < static_cast<int>(m.Output.size()); ++i) lines.push_back(m.Output[static_cast<std::size_t>(i)]);
        for (int i = static_cast<int>(m.Output.size()) - first; i < room; ++i) lines.push_back("");
    }
    lines.push_back("read/write/get CH  dial N  hangup [N]  watch/unwatch CH  mb N  hdb N REC  quit");
    lines.push_back("> " + m.Input);
    // Exactly `height` lines: the command line stays at the bottom.
    while (static_cast<int>(lines.size()) > height && lines.size() > 1) lines.erase(lines.end() - 3);
    while (static_cast<int>(lines.size()) < height) lines.insert(lines.end() - 2, "");
    for (std::string& l : lines) l = Fit(l, width);
    return lines;
}

void RefreshLive(Runner& runner, LiveModel& model, double now) {
    model.Window = runner.Window();
    for (WatchRow& row : model.Watch) {
        runner.AskForWatch(row.Ref, row.Asked);
        const Sample s = runner.Get(row.Ref);
        std::string value;
        switch (s.State) {
            case ReadState::Image:
            case ReadState::Fresh: value = s.Text; break;
            case ReadState::NotServed: value = std::string("not served as ") + TypeWord(row.Ref.Type) + " (" + s.Text + ")"; break;
            default: value = ReadStateWord(s.State); break;
        }
        if (value != row.Value || row.Since < 0) {
            row.Value = value;
            row.Since = now;
        }
        row.Age = now - row.Since;
    }
}

bool LiveCommand(Runner& runner, LiveModel& model, const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return true;
    auto say = [&model](const std::string& text) { model.Output.push_back(text); };
    const std::string& op = words[0];
    if (op == "quit" || op == "q" || op == "exit") return false;
    auto write = [&](const std::string& name, const std::string& value) {
        Command c;
        std::string error;
        if (!ParseCommand("write " + name + " " + value, c, error, &runner.Map())) say("error: " + error);
        else runner.Run(c);
    };
    if (op == "watch" || op == "unwatch") {
        for (std::size_t i = 1; i < words.size(); ++i) {
            Command c;
            std::string error;
            if (!ParseCommand("get " + words[i], c, error, &runner.Map()) &&
                !ParseCommand("get " + words[i] + (i + 1 < words.size() ? " " + words[i + 1] : ""), c, error,
                              &runner.Map())) {
                say("error: " + error);
                return true;
            }
            if (op == "watch") {
                model.Watch.push_back({c.Channels[0], "", -1});
            } else {
                bool found = false;
                for (auto it = model.Watch.begin(); it != model.Watch.end(); ++it)
                    if (it->Ref.Channel == c.Channels[0].Channel) {
                        model.Watch.erase(it);
                        found = true;
                        break;
                    }
                if (!found) say("error: channel " + std::to_string(c.Channels[0].Channel) + " is not watched");
            }
            if (c.Channels[0].Name.empty()) ++i;  // a number takes its type word
        }
        return true;
    }
    if (op == "mb" && (words.size() == 2 || words.size() == 3)) {
        write("mb.station", words[1]);
        if (words.size() == 3) write("mb.kind", words[2]);
        write("mb.start", "1");
        say("memory-block table read of station " + words[1] + " started (mb.active shows it running)");
        model.Watch.push_back({{60018, 2, "mb.active"}, "", -1});
        return true;
    }
    if (op == "hdb" && words.size() == 3) {
        write("hdb.station", words[1]);
        write("hdb.record", words[2]);
        for (const char* name : {"hdb.word", "hdb.bytes", "hdb.sample"}) {
            Command c;
            std::string error;
            if (ParseCommand(std::string("get ") + name, c, error, &runner.Map())) runner.Run(c);
        }
        return true;
    }
    Command c;
    std::string error;
    if (!ParseCommand(line, c, error, &runner.Map())) {
        say("error: " + error);
        return true;
    }
    runner.Run(c);
    return true;
}

}  // namespace zkhost
