// Scenario text: one command per line, run at once or at a time counted from the start of the
// scenario (see docs/simulator.md for the commands).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace zksim {

class Simulator;
using SimCommand = std::function<void(Simulator&)>;

struct ScenarioLine {
    double at = 0;      // seconds from the start of the scenario
    double every = 0;   // > 0: repeated with this period
    SimCommand command;
    std::string text;   // the line as written
};

// Reads the whole text; false with "line N: ..." on the first line it cannot read.
// With `stations`, a command naming another station is refused.
bool ParseScenario(const std::string& text, std::vector<ScenarioLine>& lines, std::string& error,
                   const std::set<uint8_t>* stations = nullptr);

// Splits a line into words; double quotes keep blanks, "\xNN" inside quotes is a byte, "#"
// outside quotes starts a comment.
std::vector<std::string> SplitWords(const std::string& line);

}  // namespace zksim
