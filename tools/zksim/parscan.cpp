// An independent reader of the parameter file: items separated by TAB, LF, CR and blanks,
// comments between "{" and "}" items, keys without regard to case, string values made of
// quoted parts and $xx codes taking the rest of their line.
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "zksim/config.h"

namespace zksim {
namespace {

bool IsSeparator(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {
        const size_t eof = text_.find('\x1A');
        if (eof != std::string_view::npos) text_ = text_.substr(0, eof);
    }

    bool AtEnd() const { return pos_ >= text_.size(); }

    // The next item outside comments, as written; empty at the end.
    std::string Next() {
        for (;;) {
            std::string token = Token();
            if (token.empty()) return token;
            const bool opens = token.front() == '{';
            const bool closes = token.back() == '}';
            if (opens) inComment_ = true;
            if (closes) inComment_ = false;
            if (opens || closes || inComment_) continue;
            return token;
        }
    }

    // The rest of the current line after the item just read (empty when that item ended the
    // line); the line end is skipped.
    std::string RestOfLine() {
        if (endedLine_) return {};
        std::string rest;
        while (pos_ < text_.size() && text_[pos_] != '\r' && text_[pos_] != '\n') rest += text_[pos_++];
        if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
        endedLine_ = true;
        return rest;
    }

private:
    std::string Token() {
        std::string token;
        endedLine_ = false;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (IsSeparator(c)) {
                if (!token.empty()) {
                    endedLine_ = c == '\r' || c == '\n';
                    break;
                }
                continue;
            }
            token += c;
        }
        return token;
    }

    std::string_view text_;
    size_t pos_ = 0;
    bool inComment_ = false;
    bool endedLine_ = false;
};

bool ParseInt(const std::string& item, long& out) {
    std::string s = item;
    int base = 10;
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.erase(0, 1);
    }
    if (s.size() > 1 && s[0] == '$') base = 16, s.erase(0, 1);
    else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) base = 16, s.erase(0, 2);
    else if (s.size() > 1 && (s[0] == 'x' || s[0] == 'X')) base = 16, s.erase(0, 1);
    if (s.empty()) return false;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, base);
    if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(s[0]))) return false;
    out = negative ? -v : v;
    return true;
}

// A string value: the value item (upper-cased, as the driver reads it) joined with the rest of
// its line, made of quoted parts and $xx codes.
Bytes StringValue(Scanner& in, const std::string& item) {
    if (Upper(item) == "NONE") return {};
    const std::string text = Upper(item) + in.RestOfLine();
    Bytes out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '"') {
            const size_t close = text.find('"', i + 1);
            const size_t stop = close == std::string::npos ? text.size() : close;
            out += text.substr(i + 1, stop - i - 1);
            i = stop == text.size() ? stop : stop + 1;
        } else if (text[i] == '$') {
            long code = 0;
            if (i + 3 > text.size() || !ParseInt(text.substr(i, 3), code)) return out;
            out += Char(static_cast<unsigned>(code));
            i += 3;
        } else {
            ++i;
        }
    }
    return out;
}

Bytes ModemText(const std::string& raw) {
    Bytes out;
    for (char c : raw) out += c == '#' ? '\r' : c == '@' ? '\n' : c;
    return out;
}

int Limited(const std::string& item, int limit) {
    long v = 0;
    if (!ParseInt(item, v)) return 0;
    return std::min(static_cast<int>(v & 0xFF), limit);
}

uint8_t ByteOf(const std::string& item) {
    long v = 0;
    return ParseInt(item, v) ? static_cast<uint8_t>(v) : 0;
}

void ReadMemoryDef(Scanner& in, std::string item, std::vector<MemoryEntry>& table, bool* wholeBlock) {
    table.assign(100, MemoryEntry{});
    if (Upper(item) == "NONE") return;
    while (!item.empty() && Upper(item) != "DEF_MEMORY_END") {
        if (Upper(item) == "ARRAY") {
            if (wholeBlock) *wholeBlock = true;
            item = in.Next();
            continue;
        }
        long n = 0;
        const bool ok = ParseInt(item, n);
        long address = 0;
        ParseInt(in.Next(), address);
        item = in.Next();
        if (ok && n >= 1 && n <= 100) {
            table[static_cast<size_t>(n - 1)].address = static_cast<uint16_t>(address);
            const std::string type = Upper(item);
            const uint8_t code = type == "BYTE" ? 1 : type == "WORD" ? 2 : type == "REAL" ? 3 : 0;
            if (code) {
                table[static_cast<size_t>(n - 1)].type = code;
                item = in.Next();
            }
        }
    }
}

void SkipTo(Scanner& in, std::string item, const char* endWord) {
    if (Upper(item) == "NONE") return;
    while (!item.empty() && Upper(item) != endWord) item = in.Next();
}

void ReadQq(Scanner& in, const std::string& direction, StationDef& st) {
    const std::string dir = Upper(direction);
    if (dir != "READ" && dir != "WRITE" && dir != "BIDIR") return;
    in.Next();  // channel number
    QqItemDef item;
    item.d = ByteOf(in.Next());
    item.b = ByteOf(in.Next());
    item.a = ByteOf(in.Next());
    static const char* const types[] = {"BYTE", "WORD", "INTEGER", "CARDINAL", "LONGINT", "REAL", "STRING"};
    const std::string type = Upper(in.Next());
    for (uint8_t i = 0; i < 7; ++i)
        if (type == types[i]) item.type = static_cast<uint8_t>(i + 1);
    if (item.type) st.qqItems.push_back(item);
}

void ReadBlock(Scanner& in, std::string item, StationDef& st) {
    BlockDef block;
    bool haveAddress = false, failed = false;
    static const char* const types[] = {"BYTE", "WORD", "INTEGER", "CARDINAL", "LONGINT", "REAL"};
    while (!item.empty() && Upper(item) != "MEMORY_BLOCK_END" && !failed) {
        const std::string key = Upper(item);
        if (key == "ADDR") {
            long v = 0;
            haveAddress = ParseInt(in.Next(), v);
            block.address = static_cast<uint16_t>(v);
        } else if (key == "CHANNEL" || key == "CHANNEL_READ") {
            in.Next();
        } else if (key == "TYPES") {
            for (;;) {
                const std::string type = in.Next();
                if (type.empty() || type == "TYPES_END") break;
                in.Next();  // direction
                uint8_t code = 0;
                for (uint8_t i = 0; i < 6; ++i)
                    if (type == types[i]) code = static_cast<uint8_t>(i + 1);
                if (!code) {
                    failed = true;
                    break;
                }
                block.types.push_back(code);
            }
        }
        if (!failed) item = in.Next();
    }
    if (!failed && haveAddress && !block.types.empty()) st.blocks.push_back(block);
}

void ReadStation(Scanner& in, StationDef& st, uint16_t globalAnalog) {
    st.memoryIn.assign(100, MemoryEntry{});
    st.memoryOut.assign(100, MemoryEntry{});
    for (;;) {
        const std::string raw = in.Next();
        if (raw.empty()) return;
        const std::string key = Upper(raw);
        if (key == "END") return;
        if (key == "ORIGINAL_CHANNELS") continue;
        if (key == "ADDRESS") st.address = ByteOf(in.Next());
        else if (key == "RETRANSLATION") st.retranslation = ByteOf(in.Next());
        else if (key == "NAME") st.name = StringValue(in, in.Next());
        else if (key == "NUM_BINAR_IN") st.numBinaryIn = Limited(in.Next(), 96);
        else if (key == "NUM_BINAR_OUT") st.numBinaryOut = Limited(in.Next(), 96);
        else if (key == "NUM_ANALOG_IN") st.numAnalogIn = Limited(in.Next(), 64);
        else if (key == "NUM_COUNTER_IN") st.numCounterIn = Limited(in.Next(), 48);
        else if (key == "NUM_MEMORY_IN") st.numMemoryIn = Limited(in.Next(), 45);
        else if (key == "NUM_MEMORY_OUT") st.numMemoryOut = Limited(in.Next(), 100);
        else if (key == "BINAR_IN_XOR" || key == "BINAR_OUT_XOR") {
            if (Upper(in.Next()) != "NONE") in.RestOfLine();
        } else if (key == "DEF_ANALOG_IN_ADDR") {
            const std::string v = in.Next();
            long n = 0;
            if (Upper(v) == "FROM_GLOBAL") st.analogAddress = globalAnalog;
            else if (ParseInt(v, n)) st.analogAddress = static_cast<uint16_t>(n);
        } else if (key == "DEF_MEMORY_IN") ReadMemoryDef(in, in.Next(), st.memoryIn, &st.wholeBlockRead);
        else if (key == "DEF_MEMORY_OUT") ReadMemoryDef(in, in.Next(), st.memoryOut, nullptr);
        else if (key == "DEF_COUNTER_IN") SkipTo(in, in.Next(), "DEF_COUNTER_END");
        else if (key == "ANALOG_LIMITS") SkipTo(in, in.Next(), "ANALOG_LIMITS_END");
        else if (key == "PHONE") {
            std::string number = Upper(in.Next());
            if (!number.empty() && number[0] == 'D') number.erase(0, 1);
            st.phone = number.substr(0, 20);
        } else if (key == "QQ") ReadQq(in, in.Next(), st);
        else if (key == "MEMORY_BLOCK") ReadBlock(in, in.Next(), st);
        // every other key (channel numbers and the like) takes one number, skipped as an item
    }
}

}  // namespace

bool ScanParameterText(std::string_view text, LineDef& line, std::string& error) {
    Scanner in(text);
    line = LineDef{};
    std::string group;
    uint16_t globalAnalog = 0;
    for (;;) {
        const std::string raw = in.Next();
        if (raw.empty()) break;
        const std::string item = Upper(raw);
        if (item == "[COM]" || item == "[MODEM]" || item == "[GLOBAL]") {
            group = item;
            continue;
        }
        if (item == "[STATION]") {
            StationDef st;
            ReadStation(in, st, globalAnalog);
            if (line.stations.size() < 100) line.stations.push_back(std::move(st));
            group.clear();
            continue;
        }
        if (group == "[MODEM]") {
            if (item == "CONNECT_RING") line.ringText = ModemText(in.Next());
            else if (item != "END") in.Next();  // every other modem key takes one item
            else group.clear();
        } else if (group == "[GLOBAL]") {
            if (item == "PREFIX") line.prefix = StringValue(in, in.Next());
            else if (item == "SUFFIX") line.suffix = StringValue(in, in.Next());
            else if (item == "PRESUFFIX") line.presuffix = StringValue(in, in.Next());
            else if (item == "CUC_PATH" || item == "LOG_FILE") StringValue(in, in.Next());
            else if (item == "ADDRESS") line.driverAddress = ByteOf(in.Next());
            else if (item == "DEF_ANALOG_IN_ADDR") {
                long v = 0;
                if (ParseInt(in.Next(), v)) globalAnalog = static_cast<uint16_t>(v);
            } else if (item == "END") group.clear();
        }
    }
    if (line.stations.empty()) {
        error = "the parameter file defines no [STATION]";
        return false;
    }
    return true;
}

bool ScanParameterFile(const std::string& path, LineDef& line, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open the parameter file " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ScanParameterText(text.str(), line, error);
}

LineDef DefaultLine() {
    LineDef line;
    StationDef st;
    st.address = 5;
    st.retranslation = 5;
    st.name = "ST1";
    st.phone = "123";
    st.numBinaryIn = 16;
    st.numBinaryOut = 8;
    st.numAnalogIn = 4;
    st.analogAddress = 256;
    st.memoryIn.assign(100, MemoryEntry{});
    st.memoryOut.assign(100, MemoryEntry{});
    line.stations.push_back(st);
    return line;
}

}  // namespace zksim
