// zkhost check: what the driver makes of a parameter file. The file goes through the driver's
// own loader (the static core), so the settings, stations and channels shown are the ones the
// driver loads; the loader's notes and a few checks of the result give the warnings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zkhost {

struct CheckWarning {
    int Line = 0;      // 1-based; 0 when the warning concerns no single line
    std::string Code;  // short and stable, for scripts and tests: unknown-key, missing-end, ...
    std::string Text;  // what a person reads
};

// A name for a channel: "st2.bi.1", "st1.connect", "modem.hangup".
struct ChannelName {
    std::string Name;
    std::uint16_t Channel = 0;
    std::int32_t Type = 0;  // the host type the channel serves (2 bool, 10 f64, 11 text, ...)
    bool Readable = true;
    bool Writable = false;
};

struct CheckResult {
    bool Opened = false;    // the file could be read
    bool Accepted = false;  // the driver's loader accepts the file (Init would go on)
    std::string Error;      // the driver's message when it refuses the file (UTF-8)
    std::string Report;     // the settings and stations as loaded (UTF-8, several lines)
    std::vector<CheckWarning> Warnings;
    std::vector<ChannelName> Channels;  // the channel map of the loaded stations
};

// Loads the file with the driver's loader and checks the result.
CheckResult CheckParameterFile(const std::string& path);
// The same from the file's bytes; `path` only names the file in the texts.
CheckResult CheckParameterText(const std::string& bytes, const std::string& path);

// 0: accepted without warnings; 1: accepted with warnings; 2: the driver would refuse the file.
int CheckExitCode(const CheckResult& result);

// The channel a name stands for; false when the map has no such name.
const ChannelName* FindChannelName(const std::vector<ChannelName>& map, const std::string& name);

// `zkhost check` as a whole: prints the report and the warnings, returns the exit code.
// With `json`, one JSON object instead of the text.
int RunCheck(const std::string& path, bool json, bool quiet);

}  // namespace zkhost
