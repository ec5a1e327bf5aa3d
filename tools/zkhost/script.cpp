#include "zkhost/script.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

#include "common/pause.h"
#include "common/text.h"

namespace zkhost {

namespace {

const struct {
    const char* word;
    std::int32_t code;
} kTypes[] = {{"bool", 2}, {"u8", 3}, {"u16", 4}, {"u32", 5}, {"i8", 6},   {"i16", 7},
              {"i32", 8},  {"f32", 9}, {"f64", 10}, {"text", 11}};

bool ParseChannel(const std::string& word, std::uint32_t& channel) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || v > 65535) return false;
    channel = static_cast<std::uint32_t>(v);
    return true;
}

bool ParseSeconds(const std::string& word, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(word.c_str(), &end);
    return !word.empty() && *end == '\0' && seconds >= 0 && std::isfinite(seconds);
}

void Sleep(double seconds) {
    zktool::Pause(seconds);  // on Windows the status window's messages are handled meanwhile
}

}  // namespace

std::int32_t TypeCode(const std::string& word) {
    for (const auto& t : kTypes)
        if (word == t.word) return t.code;
    return -1;
}

bool ParseCommand(const std::string& line, Command& out, std::string& error) {
    out = Command{};
    std::string body = line.substr(0, line.find('#'));
    std::istringstream in(body);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return true;
    const std::string& op = words[0];
    auto channelAndType = [&](std::size_t at, ChannelRef& ref) {
        if (words.size() <= at + 1 || !ParseChannel(words[at], ref.Channel)) {
            error = "expected a channel number (0..65535) and a type";
            return false;
        }
        ref.Type = TypeCode(words[at + 1]);
        if (ref.Type < 0) {
            error = "unknown type '" + words[at + 1] + "'";
            return false;
        }
        return true;
    };
    ChannelRef ref;
    if (op == "read" || op == "get") {
        if (words.size() != 3 || !channelAndType(1, ref)) {
            if (error.empty()) error = "usage: " + op + " CHANNEL TYPE";
            return false;
        }
        out.Op = op == "read" ? OpKind::Read : OpKind::Get;
        out.Channels.push_back(ref);
    } else if (op == "write") {
        if (words.size() < 4 || !channelAndType(1, ref)) {
            if (error.empty()) error = "usage: write CHANNEL TYPE VALUE";
            return false;
        }
        out.Op = OpKind::Write;
        out.Channels.push_back(ref);
        // A text value is the rest of the line after the type.
        const std::size_t at = body.find(words[3], body.find(words[2]) + words[2].size());
        out.Value = ref.Type == 11 ? body.substr(at) : words[3];
        while (!out.Value.empty() && (out.Value.back() == ' ' || out.Value.back() == '\r')) out.Value.pop_back();
        std::string text;
        std::uint64_t bits = 0;
        if (!EncodeValue(ref.Type, out.Value, text, bits)) {
            error = "'" + out.Value + "' is not a value of type " + words[2];
            return false;
        }
    } else if (op == "until") {
        if (words.size() != 5 || !channelAndType(1, ref) || !ParseSeconds(words[4], out.Seconds)) {
            if (error.empty()) error = "usage: until CHANNEL TYPE VALUE SECONDS";
            return false;
        }
        out.Op = OpKind::Until;
        out.Channels.push_back(ref);
        out.Value = words[3];
    } else if (op == "watch") {
        if (words.size() < 3 || !ParseSeconds(words[1], out.Seconds)) {
            error = "usage: watch SECONDS CHANNEL:TYPE...";
            return false;
        }
        out.Op = OpKind::Watch;
        for (std::size_t i = 2; i < words.size(); ++i) {
            const std::size_t colon = words[i].find(':');
            if (colon == std::string::npos || !ParseChannel(words[i].substr(0, colon), ref.Channel) ||
                (ref.Type = TypeCode(words[i].substr(colon + 1))) < 0) {
                error = "expected CHANNEL:TYPE, got '" + words[i] + "'";
                return false;
            }
            out.Channels.push_back(ref);
        }
    } else if (op == "wait") {
        if (words.size() != 2 || !ParseSeconds(words[1], out.Seconds)) {
            error = "usage: wait SECONDS";
            return false;
        }
        out.Op = OpKind::Wait;
    } else if (op == "print") {
        out.Op = OpKind::Print;
        const std::size_t at = body.find("print") + 5;
        out.Value = at < body.size() ? body.substr(at + 1) : std::string();
        while (!out.Value.empty() && (out.Value.back() == ' ' || out.Value.back() == '\r')) out.Value.pop_back();
    } else {
        error = "unknown command '" + op + "'";
        return false;
    }
    return true;
}

bool EncodeValue(std::int32_t type, const std::string& written, std::string& text, std::uint64_t& out) {
    out = 0;
    char* end = nullptr;
    switch (type) {
        case 2:
            if (written == "1" || written == "true" || written == "on") out = 1;
            else if (written == "0" || written == "false" || written == "off") out = 0;
            else return false;
            return true;
        case 3: case 4: case 5: {
            const unsigned long long v = std::strtoull(written.c_str(), &end, 0);
            const unsigned long long limit = type == 3 ? 0xFF : type == 4 ? 0xFFFF : 0xFFFFFFFFull;
            if (written.empty() || *end || written[0] == '-' || v > limit) return false;
            out = v;
            return true;
        }
        case 6: case 7: case 8: {
            const long long v = std::strtoll(written.c_str(), &end, 0);
            const long long limit = type == 6 ? 0x7F : type == 7 ? 0x7FFF : 0x7FFFFFFF;
            if (written.empty() || *end || v > limit || v < -limit - 1) return false;
            const std::uint64_t mask = type == 6 ? 0xFF : type == 7 ? 0xFFFF : 0xFFFFFFFFull;
            out = static_cast<std::uint64_t>(v) & mask;
            return true;
        }
        case 9: {
            const float f = std::strtof(written.c_str(), &end);
            if (written.empty() || *end) return false;
            std::uint32_t bits;
            std::memcpy(&bits, &f, 4);
            out = bits;
            return true;
        }
        case 10: {
            const double d = std::strtod(written.c_str(), &end);
            if (written.empty() || *end) return false;
            std::memcpy(&out, &d, 8);
            return true;
        }
        case 11: {
            text = zktool::ToCp1250(written);
            const char* p = text.c_str();
            std::memcpy(&out, &p, sizeof p);
            return true;
        }
        default:
            return false;
    }
}

std::string FormatValue(const ZkHostValue& value, const char* textBuffer) {
    const std::uint8_t* v = value.value;
    char buf[64];
    switch (value.type) {
        case 2: return v[0] ? "1" : "0";
        case 3: return std::to_string(v[0]);
        case 4: { std::uint16_t x; std::memcpy(&x, v, 2); return std::to_string(x); }
        case 5: { std::uint32_t x; std::memcpy(&x, v, 4); return std::to_string(x); }
        case 6: return std::to_string(static_cast<std::int8_t>(v[0]));
        case 7: { std::int16_t x; std::memcpy(&x, v, 2); return std::to_string(x); }
        case 8: { std::int32_t x; std::memcpy(&x, v, 4); return std::to_string(x); }
        case 9: { float x; std::memcpy(&x, v, 4); std::snprintf(buf, sizeof buf, "%g", x); return buf; }
        case 10: { double x; std::memcpy(&x, v, 8); std::snprintf(buf, sizeof buf, "%g", x); return buf; }
        case 11: return "\"" + zktool::FromCp1250(textBuffer) + "\"";
        default: return "?";
    }
}

std::string Runner::Read(const ChannelRef& ref, bool request) {
    if (request) {
        api_.InputRequest(driver_, ref.Channel);
        api_.InputRequestCompleted(driver_);
    }
    ZkHostValue value{};
    value.type = ref.Type;
    char text[256] = {};
    if (ref.Type == 11) {
        char* p = text;
        std::memcpy(value.value, &p, sizeof p);
    }
    api_.GetInput(driver_, ref.Channel, &value);
    return FormatValue(value, text);
}

bool Runner::Run(const Command& c) {
    switch (c.Op) {
        case OpKind::None:
            return true;
        case OpKind::Read:
        case OpKind::Get:
            std::printf("%u = %s\n", c.Channels[0].Channel, Read(c.Channels[0], c.Op == OpKind::Read).c_str());
            break;
        case OpKind::Write: {
            std::string text;
            std::uint64_t bits = 0;
            EncodeValue(c.Channels[0].Type, c.Value, text, bits);
            api_.OutputRequest(driver_, c.Channels[0].Channel, static_cast<std::uint32_t>(c.Channels[0].Type), bits);
            api_.OutputRequestCompleted(driver_);
            std::printf("%u := %s\n", c.Channels[0].Channel, c.Value.c_str());
            break;
        }
        case OpKind::Until: {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(c.Seconds);
            std::string last;
            for (;;) {
                last = Read(c.Channels[0], true);
                std::string wanted = c.Value;
                if (last == wanted || (c.Channels[0].Type == 11 && last == "\"" + wanted + "\"")) break;
                if (std::chrono::steady_clock::now() >= deadline) {
                    std::printf("%u = %s, not %s after %g s\n", c.Channels[0].Channel, last.c_str(), c.Value.c_str(),
                                c.Seconds);
                    std::fflush(stdout);
                    return false;
                }
                Sleep(0.1);
            }
            std::printf("%u = %s\n", c.Channels[0].Channel, last.c_str());
            break;
        }
        case OpKind::Watch: {
            const auto start = std::chrono::steady_clock::now();
            for (;;) {
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                std::string line;
                for (const ChannelRef& ref : c.Channels)
                    line += (line.empty() ? "" : "  ") + std::to_string(ref.Channel) + "=" + Read(ref, true);
                std::printf("[%5.1f s] %s\n", t, line.c_str());
                std::fflush(stdout);
                if (t + 1.0 > c.Seconds) break;
                Sleep(1.0);
            }
            break;
        }
        case OpKind::Wait:
            Sleep(c.Seconds);
            break;
        case OpKind::Print:
            std::printf("%s\n", c.Value.c_str());
            break;
    }
    std::fflush(stdout);
    return true;
}

}  // namespace zkhost
