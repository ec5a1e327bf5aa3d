#include "zkhost/script.h"

#include <cctype>
#include <cstdarg>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <thread>

#include "common/pause.h"
#include "common/text.h"
#include "zkhost/json.h"

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

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

}  // namespace

std::int32_t TypeCode(const std::string& word) {
    for (const auto& t : kTypes)
        if (word == t.word) return t.code;
    return -1;
}

const char* TypeWord(std::int32_t code) {
    for (const auto& t : kTypes)
        if (code == t.code) return t.word;
    return "?";
}

namespace {

bool ParseCompare(const std::string& word, CompareOp& op) {
    static const struct {
        const char* word;
        CompareOp op;
    } ops[] = {{"=", CompareOp::Eq}, {"==", CompareOp::Eq}, {"!=", CompareOp::Ne}, {"<", CompareOp::Lt},
               {"<=", CompareOp::Le}, {">", CompareOp::Gt}, {">=", CompareOp::Ge}};
    for (const auto& o : ops)
        if (word == o.word) {
            op = o.op;
            return true;
        }
    return false;
}

// A channel at words[at]: a number and a type, or a name of the map and an optional type.
// Advances `at` past what it took.
bool ParseRef(const std::vector<std::string>& words, std::size_t& at, ChannelRef& ref, std::string& error,
              const std::vector<ChannelName>* map) {
    if (at >= words.size()) {
        error = "expected a channel";
        return false;
    }
    const std::string& word = words[at];
    ref = ChannelRef{};
    if (ParseChannel(word, ref.Channel)) {
        if (at + 1 >= words.size() || TypeCode(words[at + 1]) < 0) {
            error = at + 1 < words.size() ? "unknown type '" + words[at + 1] + "'"
                                          : "expected a channel number (0..65535) and a type";
            return false;
        }
        ref.Type = TypeCode(words[at + 1]);
        at += 2;
        return true;
    }
    if (word.find('.') == std::string::npos || (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0])))) {
        error = "expected a channel number (0..65535) and a type, or a channel name such as st1.bi.1; got '" +
                word + "'";
        return false;
    }
    const ChannelName* c = map ? FindChannelName(*map, word) : nullptr;
    if (!c) {
        error = "the parameter file defines no channel named '" + word + "' (zkhost check lists the names)";
        return false;
    }
    ref.Channel = c->Channel;
    ref.Type = c->Type;
    ref.Name = word;
    ++at;
    if (at < words.size() && TypeCode(words[at]) >= 0) ref.Type = TypeCode(words[at++]);
    return true;
}

}  // namespace

bool ParseCommand(const std::string& line, Command& out, std::string& error, const std::vector<ChannelName>* map) {
    out = Command{};
    std::string body = line.substr(0, line.find('#'));
    while (!body.empty() && (body.back() == '\r' || body.back() == ' ' || body.back() == '\t')) body.pop_back();
    std::istringstream in(body);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return true;
    const std::string& op = words[0];
    std::size_t at = 1;
    ChannelRef ref;
    if (op == "read" || op == "get") {
        if (!ParseRef(words, at, ref, error, map)) return false;
        if (op == "read" && at < words.size() && ParseSeconds(words[at], out.Seconds)) ++at;
        if (at != words.size()) {
            error = "usage: " + op + " CHANNEL TYPE" + (op == "read" ? " [SECONDS]" : "") + ", or " + op + " NAME [TYPE]";
            return false;
        }
        out.Op = op == "read" ? OpKind::Read : OpKind::Get;
        out.Channels.push_back(ref);
    } else if (op == "write") {
        if (!ParseRef(words, at, ref, error, map)) return false;
        if (at >= words.size()) {
            error = "usage: write CHANNEL TYPE VALUE, or write NAME [TYPE] VALUE";
            return false;
        }
        out.Op = OpKind::Write;
        out.Channels.push_back(ref);
        if (ref.Type == 11) {
            // A text value is the rest of the line.
            std::size_t pos = 0;
            for (std::size_t i = 0; i < at; ++i) pos = body.find(words[i], pos) + words[i].size();
            out.Value = body.substr(body.find(words[at], pos));
        } else {
            if (at + 1 != words.size()) {
                error = "one value expected after the channel";
                return false;
            }
            out.Value = words[at];
        }
        std::string text;
        std::uint64_t bits = 0;
        if (!EncodeValue(ref.Type, out.Value, text, bits)) {
            error = "'" + out.Value + "' is not a value of type " + TypeWord(ref.Type);
            return false;
        }
    } else if (op == "until") {
        if (!ParseRef(words, at, ref, error, map)) return false;
        out.Op = OpKind::Until;
        out.Channels.push_back(ref);
        if (at < words.size() && ParseCompare(words[at], out.Compare)) ++at;
        if (at + 2 > words.size() || !ParseSeconds(words[at + 1], out.Seconds)) {
            error = "usage: until CHANNEL [OP] VALUE SECONDS [stop CHANNEL [OP VALUE]]";
            return false;
        }
        out.Value = words[at];
        at += 2;
        if (at < words.size()) {
            if (words[at] != "stop") {
                error = "expected 'stop CHANNEL [OP VALUE]' after the seconds, got '" + words[at] + "'";
                return false;
            }
            ++at;
            out.HasStop = true;
            if (!ParseRef(words, at, out.Stop.Ref, error, map)) return false;
            if (at < words.size()) {
                if (ParseCompare(words[at], out.Stop.Op)) ++at;
                if (at + 1 != words.size()) {
                    error = "usage: stop CHANNEL [OP VALUE]";
                    return false;
                }
                out.Stop.Value = words[at];
            }
        }
    } else if (op == "watch") {
        if (words.size() < 3 || !ParseSeconds(words[1], out.Seconds)) {
            error = "usage: watch SECONDS CHANNEL:TYPE|NAME...";
            return false;
        }
        out.Op = OpKind::Watch;
        for (std::size_t i = 2; i < words.size(); ++i) {
            const std::size_t colon = words[i].find(':');
            if (colon != std::string::npos) {
                std::vector<std::string> pair = {words[i].substr(0, colon), words[i].substr(colon + 1)};
                std::size_t k = 0;
                if (!ParseRef(pair, k, ref, error, map) || k != 2) {
                    error = "expected CHANNEL:TYPE or a channel name, got '" + words[i] + "'";
                    return false;
                }
            } else {
                std::vector<std::string> one = {words[i]};
                std::size_t k = 0;
                if (!ParseRef(one, k, ref, error, map)) {
                    if (error.rfind("the parameter", 0) != 0)
                        error = "expected CHANNEL:TYPE or a channel name, got '" + words[i] + "'";
                    return false;
                }
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
        const std::size_t pos = body.find("print") + 5;
        out.Value = pos < body.size() ? body.substr(pos + 1) : std::string();
    } else if (op == "dial" || op == "hangup") {
        char* end = nullptr;
        const long n = words.size() == 2 ? std::strtol(words[1].c_str(), &end, 10) : 0;
        const bool ok = words.size() == 2 ? (*end == '\0' && n >= 1 && n <= 100) : (op == "hangup" && words.size() == 1);
        if (!ok) {
            error = op == "dial" ? "usage: dial STATION (1..100)" : "usage: hangup [STATION]";
            return false;
        }
        out.Op = op == "dial" ? OpKind::Dial : OpKind::Hangup;
        out.Station = static_cast<int>(n);
        if (out.Station) {
            const std::string name = "st" + std::to_string(n) + ".connect";
            const ChannelName* c = map ? FindChannelName(*map, name) : nullptr;
            if (!c) {
                error = "station " + std::to_string(n) + " has no connect channel (out_connect_modem) in the parameter file";
                return false;
            }
            out.Channels.push_back({c->Channel, 2, name});
        }
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

bool NumericValue(const std::string& text, double& out) {
    std::string t = text;
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
    if (t == "true" || t == "on") return out = 1, true;
    if (t == "false" || t == "off") return out = 0, true;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return !t.empty() && *end == '\0';
}

bool Compare(const std::string& have, CompareOp op, const std::string& want) {
    double a = 0, b = 0;
    if (NumericValue(have, a) && NumericValue(want, b)) {
        switch (op) {
            case CompareOp::Eq: return a == b;
            case CompareOp::Ne: return a != b;
            case CompareOp::Lt: return a < b;
            case CompareOp::Le: return a <= b;
            case CompareOp::Gt: return a > b;
            case CompareOp::Ge: return a >= b;
        }
    }
    std::string h = have;
    if (h.size() >= 2 && h.front() == '"' && h.back() == '"') h = h.substr(1, h.size() - 2);
    switch (op) {
        case CompareOp::Eq: return h == want;
        case CompareOp::Ne: return h != want;
        default: return false;
    }
}

const char* ReadStateWord(ReadState s) {
    switch (s) {
        case ReadState::Fresh: return "fresh";
        case ReadState::Image: return "image";
        case ReadState::NoValue: return "no value";
        case ReadState::NotServed: return "not served";
        case ReadState::NoAnswer: return "no answer";
        case ReadState::Waiting: return "not answered yet";
    }
    return "?";
}

namespace {
const char* OpText(CompareOp op) {
    switch (op) {
        case CompareOp::Eq: return "=";
        case CompareOp::Ne: return "!=";
        case CompareOp::Lt: return "<";
        case CompareOp::Le: return "<=";
        case CompareOp::Gt: return ">";
        case CompareOp::Ge: return ">=";
    }
    return "?";
}

std::string Clock() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}
}  // namespace

std::atomic<int> Runner::Interrupt{0};

Runner::Runner(zktool::DriverApi& api, void* driver, std::vector<ChannelName> map, RunOptions options)
    : api_(api), driver_(driver), map_(std::move(map)), options_(options) {}

const ChannelName* Runner::Known(std::uint32_t channel) const {
    for (const ChannelName& c : map_)
        if (c.Channel == (channel & 0xFFFF)) return &c;
    return nullptr;
}

std::string Runner::Label(const ChannelRef& ref) const {
    if (!ref.Name.empty()) return ref.Name + " (" + std::to_string(ref.Channel) + ")";
    if (const ChannelName* c = Known(ref.Channel)) return std::to_string(ref.Channel) + " (" + c->Name + ")";
    return std::to_string(ref.Channel);
}

Sample Runner::Get(const ChannelRef& ref) {
    // The record is filled with a pattern first: a record the driver did not touch got no value.
    // Two patterns, so that a value that happens to equal one of them is still seen.
    Sample out;
    for (const int pattern : {0xA5, 0x5A}) {
        ZkHostValue value;
        std::memset(&value, pattern, sizeof value);
        value.type = ref.Type;
        char text[256];
        std::memset(text, pattern, sizeof text);
        if (ref.Type == 11) {
            char* p = text;
            std::memcpy(value.value, &p, sizeof p);
        }
        ZkHostValue before = value;
        char textBefore[256];
        std::memcpy(textBefore, text, sizeof text);
        api_.GetInput(driver_, ref.Channel, &value);
        const bool touched = ref.Type == 11 ? std::memcmp(text, textBefore, sizeof text) != 0
                                            : std::memcmp(&value, &before, sizeof value) != 0;
        if (touched) {
            text[255] = '\0';
            out.State = ReadState::Image;
            out.Text = FormatValue(value, text);
            return out;
        }
    }
    const ChannelName* known = Known(ref.Channel);
    if (known && known->Readable && known->Type != ref.Type) {
        out.State = ReadState::NotServed;
        out.Text = std::string("serves ") + TypeWord(known->Type);
    } else if (known && !known->Readable) {
        out.State = ReadState::NotServed;
        out.Text = "can only be written";
    } else {
        out.State = ReadState::NoValue;
    }
    return out;
}

bool Runner::HasRequest(const ChannelRef& ref) const {
    const ChannelName* c = Known(ref.Channel);
    return c && c->Readable && c->Name.find(".qq.") != std::string::npos;
}

void Runner::Request(const ChannelRef& ref) {
    api_.InputRequest(driver_, ref.Channel);
    api_.InputRequestCompleted(driver_);
}

bool Runner::StationOnLine(int station) {
    const ChannelName* c = FindChannelName(map_, "st" + std::to_string(station) + ".connected");
    return c && Number(c->Channel, 2) == 1;
}

bool Runner::AskForWatch(const ChannelRef& ref, bool& asked) {
    if (!HasRequest(ref)) return false;
    if (asked) {
        // The read asked for last is still waiting while any read is queued.
        const double queued = Number(490, 10) - Number(497, 10);
        if (std::isnan(queued) || queued > 0) return false;
        asked = false;
    }
    if (!StationOnLine(StationOf(ref))) return false;
    Request(ref);
    asked = true;
    return true;
}

int Runner::StationOf(const ChannelRef& ref) const {
    const ChannelName* c = Known(ref.Channel);
    if (!c || c->Name.rfind("st", 0) != 0) return 0;
    return std::atoi(c->Name.c_str() + 2);
}

double Runner::Number(std::uint32_t channel, std::int32_t type) {
    const Sample s = Get({channel, type, ""});
    double v = 0;
    return s.State == ReadState::Image && NumericValue(s.Text, v) ? v : std::nan("");
}

Sample Runner::Read(const ChannelRef& ref, double seconds) {
    if (!HasRequest(ref)) return Get(ref);
    const ChannelName* errors = FindChannelName(map_, "st" + std::to_string(StationOf(ref)) + ".errors");
    const double errorsBefore = errors ? Number(errors->Channel, 10) : 0;
    api_.InputRequest(driver_, ref.Channel);
    api_.InputRequestCompleted(driver_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool queuedSeen = false, empty = false;
    for (;;) {
        const double queued = Number(490, 10) - Number(497, 10);  // reads waiting (all minus writes)
        if (queued > 0) queuedSeen = true;
        else if (!std::isnan(queued)) {
            empty = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline || !Pause(0.05)) break;
    }
    if (!queuedSeen) {
        Sample s = Get(ref);
        if (s.State == ReadState::Image) s.Text += "  (the driver queued no read: the station sleeps or reads are suspended)";
        return s;
    }
    if (!empty) {
        Sample s;
        s.State = ReadState::Waiting;
        return s;
    }
    Pause(0.2);  // the answer is decoded on the worker's next pass
    if (errors && Number(errors->Channel, 10) > errorsBefore) {
        Sample s;
        s.State = ReadState::NoAnswer;
        return s;
    }
    Sample s = Get(ref);
    if (s.State == ReadState::Image) s.State = ReadState::Fresh;
    return s;
}

void Runner::Say(const std::string& line) {
    if (options_.Out) options_.Out(line);
    else std::printf("%s\n", line.c_str());
}

void Runner::SayF(const char* format, ...) {
    char buf[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    std::string line = buf;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    Say(line);
}

void Runner::Emit(const char* op, const ChannelRef& ref, const Sample& s, const std::string& extra) {
    const bool hasValue = s.State == ReadState::Fresh || s.State == ReadState::Image;
    if (options_.Json) {
        JsonWriter j;
        j.Field("op", op).Field("channel", static_cast<unsigned>(ref.Channel));
        if (const ChannelName* c = ref.Name.empty() ? Known(ref.Channel) : nullptr) j.Field("name", c->Name);
        else if (!ref.Name.empty()) j.Field("name", ref.Name);
        j.Field("type", TypeWord(ref.Type)).Field("state", ReadStateWord(s.State));
        double v = 0;
        if (hasValue && ref.Type != 11 && NumericValue(s.Text, v)) j.Field("value", v);
        else if (hasValue) j.Field("value", s.Text.size() >= 2 && s.Text.front() == '"' ? s.Text.substr(1, s.Text.rfind('"') - 1) : s.Text);
        else if (!s.Text.empty()) j.Field("detail", s.Text);
        if (!extra.empty()) j.Field("note", extra);
        Say(j.Str());
        return;
    }
    std::string line = Label(ref) + " = ";
    switch (s.State) {
        case ReadState::Fresh:
        case ReadState::Image: line += s.Text; break;
        case ReadState::NoValue: line += "no value"; break;
        case ReadState::NotServed: line += std::string("not served as ") + TypeWord(ref.Type) + " (" + s.Text + ")"; break;
        case ReadState::NoAnswer: line += "no answer (the station did not answer the read)"; break;
        case ReadState::Waiting: line += "no answer yet (the read is still queued: is the station on line?)"; break;
    }
    if (!extra.empty()) line += "  " + extra;
    Say(line);
}

bool Runner::Pause(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (Interrupt.load()) return false;
        if (options_.Events) PollEvents();
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return true;
        Sleep(std::min(left, 0.05));
    }
}

StatusText Runner::Window() { return FetchStatusText(api_, driver_); }

void Runner::PollEvents() {
    const StatusText w = Window();
    if (!w.Valid) return;
    const std::vector<std::string> fresh = eventsSeen_ ? NewEventLines(events_, w.Events) : w.Events;
    eventsSeen_ = true;
    events_ = w.Events;
    for (const std::string& line : fresh) {
        const std::string text = "[" + Clock() + "] event: " + line;
        if (options_.EventSink) options_.EventSink(text);
        else std::fprintf(stderr, "%s\n", text.c_str());
    }
}

// The stations whose line is up or being dialled, by the station's own connected and
// connecting channels.
std::vector<int> Runner::StationsOnLine() {
    std::vector<int> out;
    for (int n = 1; n <= 100; ++n) {
        const std::string st = "st" + std::to_string(n) + ".";
        bool up = false;
        for (const char* flag : {"connected", "connecting"})
            if (const ChannelName* c = FindChannelName(map_, st + flag)) up = up || Number(c->Channel, 2) == 1;
        if (up) out.push_back(n);
    }
    return out;
}

HangUpResult Runner::HangUpAll(double seconds) {
    std::vector<ChannelRef> up;
    for (const int n : StationsOnLine())
        if (const ChannelName* connect = FindChannelName(map_, "st" + std::to_string(n) + ".connect"))
            up.push_back({connect->Channel, 2, connect->Name});
    if (up.empty()) return HangUpResult::NothingUp;
    const int interrupted = Interrupt.exchange(0);  // the hang-up itself must not be cut short
    std::fprintf(stderr, "zkhost: hanging up before stopping the driver\n");
    for (const ChannelRef& ref : up) {
        api_.OutputRequest(driver_, ref.Channel, 2, 0);
        api_.OutputRequestCompleted(driver_);
    }
    // Wait for the stations to go off line and the modem's hang-up to run its course: the
    // driver shows the hang-up command and then the modem's reply (or its failure) as "MODEM"
    // event lines.
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds);
    std::vector<std::string> seen = Window().Events;
    int modemLines = 0;
    HangUpResult result = HangUpResult::TimedOut;
    while (std::chrono::steady_clock::now() < deadline && !Interrupt.load()) {
        bool anyUp = false;
        for (int n = 1; n <= 100 && !anyUp; ++n)
            if (const ChannelName* c = FindChannelName(map_, "st" + std::to_string(n) + ".connected"))
                anyUp = Number(c->Channel, 2) == 1;
        const std::vector<std::string> now = Window().Events;
        for (const std::string& line : NewEventLines(seen, now))
            if (line.rfind("MODEM - ", 0) == 0) ++modemLines;
        seen = now;
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!anyUp && (modemLines >= 2 || (modemLines == 0 && waited > 3.0))) {
            result = HangUpResult::HungUp;
            break;
        }
        Pause(0.1);
    }
    if (result != HangUpResult::HungUp && Interrupt.load()) result = HangUpResult::CutShort;
    if (interrupted && !Interrupt.load()) Interrupt = interrupted;
    return result;
}

bool Runner::Run(const Command& c) {
    bool ok = true;
    failure_.clear();
    switch (c.Op) {
        case OpKind::None:
            return true;
        case OpKind::Read: {
            const Sample s = Read(c.Channels[0], c.Seconds > 0 ? c.Seconds : options_.ReadWait);
            Emit("read", c.Channels[0], s,
                 s.State == ReadState::Image ? "(no request exists for this channel: the driver's image)" : "");
            ok = s.State == ReadState::Fresh || s.State == ReadState::Image;
            if (!ok) failure_ = "read " + Label(c.Channels[0]) + ": " + ReadStateWord(s.State);
            break;
        }
        case OpKind::Get: {
            const Sample s = Get(c.Channels[0]);
            Emit("get", c.Channels[0], s);
            ok = s.State == ReadState::Image;
            if (!ok) failure_ = "get " + Label(c.Channels[0]) + ": " + ReadStateWord(s.State);
            break;
        }
        case OpKind::Dial:
        case OpKind::Hangup:
        case OpKind::Write: {
            ChannelRef ref = c.Op == OpKind::Write ? c.Channels[0] : ChannelRef{};
            std::string value = c.Value;
            if (c.Op != OpKind::Write) {
                ref = c.Station ? c.Channels[0] : ChannelRef{60295, 2, "modem.hangup"};
                value = c.Op == OpKind::Dial || !c.Station ? "1" : "0";
            }
            const ChannelName* known = Known(ref.Channel);
            std::string refusal;
            if (known && !known->Writable) refusal = "cannot be written";
            else if (known && known->Name.find(".qq.") != std::string::npos && (ref.Type < 2 || ref.Type > 10))
                refusal = "takes the types bool .. f64";
            else if (known && known->Name.find(".qq.") == std::string::npos && known->Type != ref.Type)
                refusal = std::string("takes ") + TypeWord(known->Type);
            if (!refusal.empty()) {
                if (options_.Json) {
                    JsonWriter j;
                    j.Field("op", "write").Field("channel", static_cast<unsigned>(ref.Channel)).Field("name", known->Name);
                    j.Field("state", "not served").Field("detail", refusal);
                    Say(j.Str());
                } else {
                    SayF("%s := %s not served: the channel %s; the driver ignores the write\n",
                                Label(ref).c_str(), value.c_str(), refusal.c_str());
                }
                failure_ = Label(ref) + " := " + value + ": not served, the channel " + refusal;
                ok = false;
                break;
            }
            std::string text;
            std::uint64_t bits = 0;
            EncodeValue(ref.Type, value, text, bits);
            api_.OutputRequest(driver_, ref.Channel, static_cast<std::uint32_t>(ref.Type), bits);
            api_.OutputRequestCompleted(driver_);
            if (options_.Json) {
                JsonWriter j;
                j.Field("op", c.Op == OpKind::Dial ? "dial" : c.Op == OpKind::Hangup ? "hangup" : "write");
                j.Field("channel", static_cast<unsigned>(ref.Channel));
                if (known) j.Field("name", known->Name);
                j.Field("type", TypeWord(ref.Type)).Field("value", value).Field("state", known ? "handed over" : "handed over, unknown to the map");
                Say(j.Str());
            } else {
                SayF("%s := %s%s\n", Label(ref).c_str(), value.c_str(),
                            known || map_.empty() || (ref.Channel >= 486 && ref.Channel <= 499) || ref.Channel >= 60000
                                ? ""
                                : "  (no channel of the parameter file has this number: the driver may ignore it)");
            }
            break;
        }
        case OpKind::Until: {
            const ChannelRef& ref = c.Channels[0];
            const auto start = std::chrono::steady_clock::now();
            const auto deadline = start + std::chrono::duration<double>(c.Seconds);
            Sample last;
            for (;;) {
                // Asked for on every round: the driver keeps one read of an item queued, and
                // ignores the request for a channel that has none.
                Request(ref);
                last = Get(ref);
                const bool hasValue = last.State == ReadState::Image;
                if (hasValue && Compare(last.Text, c.Compare, c.Value)) {
                    last.State = HasRequest(ref) ? ReadState::Fresh : ReadState::Image;
                    Emit("until", ref, last);
                    break;
                }
                if (last.State == ReadState::NotServed) {
                    Emit("until", ref, last);
                    failure_ = "until " + Label(ref) + ": not served as " + TypeWord(ref.Type);
                    ok = false;
                    break;
                }
                if (c.HasStop) {
                    Request(c.Stop.Ref);
                    const Sample stop = Get(c.Stop.Ref);
                    if (stop.State == ReadState::Image && Compare(stop.Text, c.Stop.Op, c.Stop.Value)) {
                        Emit("until", ref, last, "stopped: " + Label(c.Stop.Ref) + " = " + stop.Text);
                        failure_ = "until " + Label(ref) + " " + OpText(c.Compare) + " " + c.Value +
                                   ": stopped early, " + Label(c.Stop.Ref) + " = " + stop.Text;
                        ok = false;
                        break;
                    }
                }
                if (std::chrono::steady_clock::now() >= deadline) {
                    Emit("until", ref, last, std::string("not ") + OpText(c.Compare) + " " + c.Value + " after " + Num(c.Seconds) + " s");
                    failure_ = "until " + Label(ref) + " " + OpText(c.Compare) + " " + c.Value + ": not reached after " +
                               Num(c.Seconds) + " s";
                    ok = false;
                    break;
                }
                if (!Pause(0.1)) {
                    ok = false;
                    break;
                }
            }
            break;
        }
        case OpKind::Watch: {
            const auto start = std::chrono::steady_clock::now();
            std::vector<bool> asked(c.Channels.size(), false);
            for (;;) {
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                std::string line;
                JsonWriter j;
                j.Field("op", "watch").Field("t", t);
                for (std::size_t i = 0; i < c.Channels.size(); ++i) {
                    const ChannelRef& ref = c.Channels[i];
                    bool a = asked[i];
                    AskForWatch(ref, a);
                    asked[i] = a;
                    const Sample s = Get(ref);
                    const std::string v = s.State == ReadState::Image ? s.Text : ReadStateWord(s.State);
                    line += (line.empty() ? "" : "  ") + (ref.Name.empty() ? std::to_string(ref.Channel) : ref.Name) + "=" + v;
                    j.Field(ref.Name.empty() ? std::to_string(ref.Channel) : ref.Name, v);
                }
                if (options_.Json) Say(j.Str());
                else SayF("[%5.1f s] %s\n", t, line.c_str());
                std::fflush(stdout);
                if (t + 1.0 > c.Seconds) break;
                if (!Pause(1.0)) {
                    ok = false;
                    break;
                }
            }
            break;
        }
        case OpKind::Wait:
            ok = Pause(c.Seconds);
            break;
        case OpKind::Print:
            if (options_.Json) {
                JsonWriter j;
                j.Field("op", "print").Field("text", c.Value);
                Say(j.Str());
            } else {
                Say(c.Value);
            }
            break;
    }
    std::fflush(stdout);
    return ok && !Interrupt.load();
}


}  // namespace zkhost
