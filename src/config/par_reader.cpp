#include "config/par_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/texts.h"
#include "diag/log.h"

namespace zk {

namespace {

constexpr char kCtrlZ = 26;

void CountBadValue(ParReader& r) {
    ++r.BadValues;
    r.BadItem = r.RawItem;
    r.BadPos = r.ItemPos;
}

bool IsSeparator(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

ParReader::ParReader(std::string_view bytes) : Text(bytes) {
    const auto end = Text.find(kCtrlZ);
    if (end != std::string_view::npos) Text = Text.substr(0, end);
}

// ---- Items --------------------------------------------------------------------------------

Str255 ReadToken(ParReader& r) {
    Str255 token;
    bool started = false;
    r.LastSeparator = 0;
    while (r.Pos < r.Text.size()) {
        const char c = r.Text[r.Pos++];
        if (IsSeparator(c)) {
            if (started) {
                r.LastSeparator = c;
                break;
            }
            continue;
        }
        if (!started) r.ItemPos = r.Pos - 1;
        token.append(c);  // beyond 255 characters the rest of the token is dropped
        started = true;
    }
    return token;
}

void NextItem(const ConfigContext& ctx, ParReader& r) {
    r.PrevItemPos = r.ItemPos;
    Str255 token;
    for (;;) {
        token = ReadToken(r);
        if (token.view() == "$DIAGS") EnableLog(ctx.Log, ctx.DriverName.view());  // also inside a comment
        if (token.empty()) break;                      // the end of the file, also inside a comment
        bool skip = false;
        if (token[0] == '{') {
            r.InComment = true;
            skip = true;
        }
        if (token[token.size() - 1] == '}') {
            r.InComment = false;
            skip = true;
        }
        if (!skip && !r.InComment) break;
    }
    r.RawItem = token;
    r.Item.clear();
    for (std::size_t i = 0; i < token.size() && i < 80; ++i) r.Item.append(Upper(token[i]));
    WriteLog(ctx.Log, "PARfile ITEM", r.Item);
}

bool ItemIs(const ParReader& r, std::string_view keyword) {
    keyword = Cut(keyword, 80);
    if (keyword.size() != r.Item.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i)
        if (Upper(keyword[i]) != r.Item[i]) return false;
    return true;
}

void SetGroupPos(const ConfigContext& ctx, ParReader& r, std::string_view group) {
    r.KeyLoaded.fill(false);
    r.GroupMissing = false;
    for (;;) {
        NextItem(ctx, r);
        if (ItemIs(r, group)) {
            r.GroupPos = r.ItemPos;
            WriteLog(ctx.Log, "SetGroupPos", std::string("ok ") += group);
            return;
        }
        if (r.Item.empty()) break;
        if (r.Diag) AddNote(r, ParNoteKind::SkippedItem, group, 0, "", r.RawItem.view(), r.ItemPos);
    }
    r.GroupMissing = true;
    SetParError(ctx, std::string(text::kMissingGroup) += group);
    WriteLog(ctx.Log, "SetGroupPos", std::string("ERR! ") += group);
}

Str255 RestOfLine(ParReader& r) {
    Str255 rest;
    if (r.LastSeparator != ' ' && r.LastSeparator != '\t') return rest;  // the item ended its line
    const std::size_t start = r.Pos;
    while (r.Pos < r.Text.size() && r.Text[r.Pos] != '\r' && r.Text[r.Pos] != '\n') rest.append(r.Text[r.Pos++]);
    if (r.Diag && r.Pos - start > rest.size())
        NoteValueAt(r, ParNoteKind::LineCut, r.Text.substr(start + rest.size(), r.Pos - start - rest.size()),
                    start + rest.size(), "");
    if (r.Pos < r.Text.size() && r.Text[r.Pos] == '\r') ++r.Pos;
    if (r.Pos < r.Text.size() && r.Text[r.Pos] == '\n') ++r.Pos;
    r.LastSeparator = '\n';
    return rest;
}

// ---- Values ---------------------------------------------------------------------------------

std::optional<std::int32_t> ParseInteger(std::string_view t) {
    std::size_t i = 0;
    int base = 10;
    bool negative = false;
    if (!t.empty() && t[0] == '$') {
        base = 16, i = 1;
    } else if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16, i = 2;
    } else if (!t.empty() && (t[0] == 'x' || t[0] == 'X')) {
        base = 16, i = 1;
    } else if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        i = 1;
    }
    if (i >= t.size()) return std::nullopt;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t value = 0;
    for (; i < t.size(); ++i) {
        const int d = base == 16 ? HexDigit(t[i]) : (IsDigit(t[i]) ? t[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        value = value * base + d;
        if (value > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<double> ParseReal(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    const std::size_t numberStart = (!t.empty() && t[0] == '+') ? 1 : 0;  // from_chars takes no "+"
    std::size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != t.size()) return std::nullopt;
    double value = 0.0;
    const char* first = t.data() + numberStart;
    const auto [end, ec] = std::from_chars(first, t.data() + t.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::string> ParseStringValue(std::string_view t) {
    std::string out;
    std::size_t i = 0;
    while (i < t.size()) {
        const char c = t[i];
        if (c == '"') {
            const auto close = t.find('"', i + 1);
            if (close == std::string_view::npos) {
                out.append(t.substr(i + 1));
                break;
            }
            out.append(t.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (c == '$') {
            if (i + 2 >= t.size()) return std::nullopt;
            const auto code = ParseInteger(t.substr(i, 3));
            if (!code) return std::nullopt;
            out.push_back(static_cast<char>(*code & 0xFF));
            i += 3;
        } else {
            ++i;
        }
    }
    return out;
}

bool LoadWord(const ConfigContext& ctx, ParReader& r, int key, std::uint16_t& target) {
    if (ItemIs(r, "FROM_GLOBAL") && ctx.Global.DEF_ANALOG_IN_ADDR != 65535) {
        target = ctx.Global.DEF_ANALOG_IN_ADDR;
        r.KeyLoaded[static_cast<std::size_t>(key)] = true;
        return true;
    }
    const auto v = ParseInteger(r.Item);
    if (!v) return CountBadValue(r), false;
    target = static_cast<std::uint16_t>(static_cast<std::uint32_t>(*v) & 0xFFFFu);
    if (target != *v) NoteValue(r, ParNoteKind::ValueCut, std::to_string(target));
    r.KeyLoaded[static_cast<std::size_t>(key)] = true;
    return true;
}

bool LoadLongWord(ParReader& r, int key, std::int32_t& target) {
    const auto v = ParseInteger(r.Item);
    if (!v) return CountBadValue(r), false;
    target = static_cast<std::int32_t>(static_cast<std::uint32_t>(*v) & 0xFFFFu);
    if (target != *v) NoteValue(r, ParNoteKind::ValueCut, std::to_string(target));
    r.KeyLoaded[static_cast<std::size_t>(key)] = true;
    return true;
}

bool LoadByte(ParReader& r, int key, std::uint8_t& target) {
    const auto v = ParseInteger(r.Item);
    if (!v) {
        target = 0;
        CountBadValue(r);
        return false;
    }
    target = static_cast<std::uint8_t>(static_cast<std::uint32_t>(*v) & 0xFFu);
    if (target != *v) NoteValue(r, ParNoteKind::ValueCut, std::to_string(target));
    r.KeyLoaded[static_cast<std::size_t>(key)] = true;
    return true;
}

bool LoadReal(ParReader& r, int key, double& target) {
    const auto v = ParseReal(r.Item);
    if (!v) {
        target = kBadReal;
        CountBadValue(r);
        return false;
    }
    target = *v;
    r.KeyLoaded[static_cast<std::size_t>(key)] = true;
    return true;
}

std::optional<std::string> LoadStringValue(const ConfigContext& ctx, ParReader& r, int key, bool keepCase) {
    if (ItemIs(r, "NONE")) {
        r.KeyLoaded[static_cast<std::size_t>(key)] = true;
        return std::string();
    }
    // The value item as written, cut as Item is, when the case must stay.
    Str255 text(keepCase ? Cut(r.RawItem.view(), 80) : r.Item.view());
    text += RestOfLine(r);
    WriteLog(ctx.Log, "LoadString", text);
    auto value = ParseStringValue(text);
    if (value) r.KeyLoaded[static_cast<std::size_t>(key)] = true;
    else CountBadValue(r);
    if (value && r.Diag) {
        // The words outside quotes and codes, which the value ignores (keys written after it).
        std::string ignored;
        const std::string_view t = text.view();
        for (std::size_t i = 0; i < t.size();) {
            if (t[i] == '"') {
                const auto close = t.find('"', i + 1);
                if (close == std::string_view::npos) break;
                i = close + 1;
            } else if (t[i] == '$') {
                i += 3;
            } else {
                if (t[i] != ' ' && t[i] != '\t') ignored += t[i];
                else if (!ignored.empty() && ignored.back() != ' ') ignored += ' ';
                ++i;
            }
        }
        while (!ignored.empty() && ignored.back() == ' ') ignored.pop_back();
        if (!ignored.empty()) NoteValue(r, ParNoteKind::Swallowed, ignored);
    }
    return value;
}

bool LoadSwitch(const ConfigContext& ctx, ParReader& r, int key, bool& target) {
    WriteLog(ctx.Log, "LoadSwitch", "in");
    if (ItemIs(r, "ON")) {
        target = true;
    } else if (ItemIs(r, "OFF")) {
        target = false;
    } else {
        CountBadValue(r);
        return false;
    }
    r.KeyLoaded[static_cast<std::size_t>(key)] = true;
    WriteLog(ctx.Log, "LoadSwitchOK", r.Item);
    return true;
}

// ---- The keyed-group pattern ----------------------------------------------------------------

int FindKey(const ParReader& r, const KeyEntry* keys, int count) {
    for (int i = 1; i <= count; ++i)
        if (ItemIs(r, keys[i - 1].Name)) return i;
    return 0;
}

void SetParError(const ConfigContext& ctx, std::string_view text) {
    const std::size_t n = std::min<std::size_t>(text.size(), 80);
    std::memcpy(ctx.ErrorText, text.data(), n);
    ctx.ErrorText[n] = '\0';
}

void SetMissingEndError(const ConfigContext& ctx, std::string_view group) {
    std::string s(text::kMissingEnd);
    AppendCut(s, group, 52);
    SetParError(ctx, s);
}

void SetBadKeyError(const ConfigContext& ctx, std::string_view key, std::string_view group) {
    std::string s;
    AppendCut(s, text::kBadKey, 50);
    AppendCut(s, key, 50);
    AppendCut(s, " / ", 53);
    AppendCut(s, group, 78);
    SetParError(ctx, s);
}

int FirstKeyNotLoaded(const ParReader& r, int count) {
    for (int i = 1; i < count; ++i)
        if (!r.KeyLoaded[static_cast<std::size_t>(i)]) return i;
    return 0;
}

// ---- Diagnostics ----------------------------------------------------------------------------

int LineOf(const ParReader& r, std::size_t pos) {
    pos = std::min(pos, r.Text.size());
    int line = 1;
    for (std::size_t i = 0; i < pos; ++i)
        if (r.Text[i] == '\n') ++line;
    return line;
}

namespace {
// A note on the item at `pos`, with its line.
ParNote MakeNote(const ParReader& r, ParNoteKind kind, std::string_view item, std::size_t pos) {
    ParNote note;
    note.Kind = kind;
    note.Line = LineOf(r, pos);
    note.Item = item;
    note.Pos = pos;
    return note;
}
}  // namespace

void AddNote(ParReader& r, ParNoteKind kind, std::string_view group, int station, std::string_view key,
             std::string_view item, std::size_t pos) {
    if (!r.Diag) return;
    ParNote note = MakeNote(r, kind, item, pos);
    note.Group = group;
    note.Station = station;
    note.Key = key;
    r.Diag->Notes.push_back(std::move(note));
}

void NoteKey(ParReader& r, std::string_view group, int station, std::string_view key) {
    if (r.Diag) AddNote(r, ParNoteKind::KeySeen, group, station, key, r.RawItem.view(), r.ItemPos);
}

void NoteUnmatched(ParReader& r, std::string_view group, int station) {
    if (!r.Diag || r.Item.empty()) return;
    const std::string_view item = r.RawItem.view();
    if (item.size() > 2 && item.front() == '[' && item.back() == ']') {
        AddNote(r, ParNoteKind::HeaderInGroup, group, station, "", item, r.ItemPos);
        return;
    }
    // The item right after an unknown key is taken for its value.
    const auto& notes = r.Diag->Notes;
    if (!notes.empty() && notes.back().Kind == ParNoteKind::UnknownKey && notes.back().Pos == r.PrevItemPos) return;
    AddNote(r, ParNoteKind::UnknownKey, group, station, "", item, r.ItemPos);
}

void NoteBadValue(ParReader& r, int before, std::string_view group, int station, std::string_view key) {
    if (!r.Diag) return;
    bool bad = false;
    for (ParNote& n : r.Pending) bad = bad || n.Kind == ParNoteKind::BadValue;
    if (r.BadValues != before && !bad)
        AddNote(r, ParNoteKind::BadValue, group, station, key, r.BadItem.view(), r.BadPos);
    for (ParNote& n : r.Pending) {
        n.Group = group;
        n.Station = station;
        n.Key = key;
        r.Diag->Notes.push_back(std::move(n));
    }
    r.Pending.clear();
}

void NoteValueAt(ParReader& r, ParNoteKind kind, std::string_view item, std::size_t pos, std::string_view detail) {
    if (!r.Diag) return;
    ParNote note = MakeNote(r, kind, item, pos);
    note.Detail = detail;
    r.Pending.push_back(std::move(note));
}

void NoteValue(ParReader& r, ParNoteKind kind, std::string_view detail) {
    NoteValueAt(r, kind, r.RawItem.view(), r.ItemPos, detail);
}

void NoteLimit(ParReader& r, std::string_view written, unsigned stored) {
    if (!r.Diag) return;
    for (ParNote& n : r.Pending)
        if (n.Kind == ParNoteKind::ValueCut && n.Pos == r.ItemPos) {
            n.Detail += ", then kept to " + std::to_string(stored);
            return;
        }
    NoteValueAt(r, ParNoteKind::ValueCut, written, r.ItemPos, "kept to " + std::to_string(stored));
}

void NoteMissingKeys(ParReader& r, const KeyEntry* keys, int count, std::string_view group, int station) {
    if (!r.Diag) return;
    for (int i = 1; i < count; ++i)
        if (!r.KeyLoaded[static_cast<std::size_t>(i)])
            AddNote(r, ParNoteKind::KeyMissing, group, station, keys[i - 1].Name, "", r.GroupPos);
}

}  // namespace zk
