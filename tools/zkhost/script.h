// The host tool's script: channel reads, writes and waits carried out through the exports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/driver_api.h"

namespace zkhost {

enum class OpKind { None, Read, Get, Write, Until, Watch, Wait, Print };

struct ChannelRef {
    std::uint32_t Channel = 0;
    std::int32_t Type = 0;  // the host's type code
};

struct Command {
    OpKind Op = OpKind::None;
    std::vector<ChannelRef> Channels;
    std::string Value;    // write/until: the value as written; print: the text
    double Seconds = 0;   // until/watch/wait
};

// The host type code of a type word (bool u8 u16 u32 i8 i16 i32 f32 f64 text), or -1.
std::int32_t TypeCode(const std::string& word);
// Parses one script line; an empty line or a comment gives Op::None.
bool ParseCommand(const std::string& line, Command& out, std::string& error);
// The 8 value bytes of OutputRequest for a value written in the script; `text` keeps a text
// value alive while the pointer to it travels in the result.
bool EncodeValue(std::int32_t type, const std::string& written, std::string& text, std::uint64_t& out);
// The value GetInput left in the record, as text.
std::string FormatValue(const ZkHostValue& value, const char* textBuffer);

class Runner {
public:
    Runner(zktool::DriverApi& api, void* driver) : api_(api), driver_(driver) {}
    // Carries out one command, printing what it reads; false when it failed.
    bool Run(const Command& command);

private:
    std::string Read(const ChannelRef& ref, bool request);
    zktool::DriverApi& api_;
    void* driver_;
};

}  // namespace zkhost
