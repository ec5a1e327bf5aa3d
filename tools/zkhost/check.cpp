#include "zkhost/check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

#include "base/cp1250.h"
#include "config/defaults.h"
#include "config/par_reader.h"
#include "config/parfile.h"
#include "diag/status_window.h"
#include "host/channels.h"
#include "host/records.h"
#include "line/serial.h"
#include "platform/platform.h"
#include "zkhost/json.h"

namespace zkhost {

namespace {

using zk::ParNote;
using zk::ParNoteKind;

// Every key of the four groups, for a suggestion when a word is no key.
const char* const kAllKeys[] = {
    "IRQ", "BASE", "BAUD", "BITS", "PARITY", "STOP", "OPTIONS", "BUFFER_SIZE", "DRIVER", "DEVICE",
    "INIT", "INIT_OK", "INIT_TIME", "CONNECT", "CONNECT_ENDCHAR", "CONNECT_OK", "CONNECT_TIME", "LINEOFF",
    "LINEOFF_OK", "LINEOFF_TIME", "CONNECT_ANSWER", "CONNECT_RING", "RING_COUNT", "RING_TIME", "ANSWER_TIME",
    "PREFIX", "SUFFIX", "PRESUFFIX", "ADDRESS", "SILENCE_WAIT", "RTS_TIME_ON", "RTS_TIME_OFF",
    "DEF_ANALOG_IN_ADDR", "NUM_MORVEL_ERROR", "SLEEP_TIME", "SLEEP_COUNT", "IDLE_TIME", "STOP_SELF_READING",
    "CUC_PATH", "STAY_IN_QUEUE_ON_TIMEOUT", "LOG_FILE", "BEEP",
    "RETRANSLATION", "NAME", "NUM_BINAR_IN", "NUM_BINAR_OUT", "NUM_ANALOG_IN", "NUM_COUNTER_IN",
    "NUM_MEMORY_IN", "NUM_MEMORY_OUT", "BINAR_IN_XOR", "BINAR_OUT_XOR", "DEF_MEMORY_IN", "DEF_MEMORY_OUT",
    "DEF_COUNTER_IN", "ANALOG_LIMITS", "PHONE", "QQ", "ORIGINAL_CHANNELS", "CHANNEL_BI", "CHANNEL_BO",
    "CHANNEL_AI", "CHANNEL_CT", "CHANNEL_MI", "CHANNEL_MO", "ErrorNoAnswer", "ErrorInMess", "SilenceTime",
    "SleepTime", "ErrCount", "Video", "out_read_AImorvel", "out_read_CT", "out_write_BO", "out_write_MO",
    "in_now_comm", "in_last_com_err", "bi_new_BI", "bi_new_AI", "bi_new_CT", "bi_new_MI", "bi_new_err_control",
    "out_write_restart", "out_read_BI", "out_read_KI", "out_write_KO", "out_read_AI", "out_connect_modem",
    "in_connecting_modem", "in_connected_modem", "in_active_message", "out_write_all_BO_MO", "MEMORY_BLOCK",
    "MsgCounter", "name_channel", "CallCode", "END",
};

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diag = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

// The key a mistyped word most likely meant, or empty.
std::string Suggest(const std::string& word) {
    const std::string w = Upper(word);
    std::string best;
    std::size_t bestDistance = 3;
    for (const char* key : kAllKeys) {
        const std::string k = Upper(key);
        std::size_t d = Distance(w, k);
        // A known key with something added or cut at its end (INIT_TIMEOUT for INIT_TIME).
        if (d >= bestDistance && w.size() > 4 && k.size() > 4 && (w.rfind(k, 0) == 0 || k.rfind(w, 0) == 0)) d = 2;
        if (d < bestDistance) bestDistance = d, best = key;
    }
    return best;
}

std::string Utf8(std::string_view cp1250) { return zk::Cp1250ToUtf8(cp1250); }

// A driver text with its control characters shown as escapes.
std::string Shown(std::string_view cp1250) {
    std::string out = "\"";
    for (const char c : Utf8(cp1250)) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (static_cast<unsigned char>(c) < 32) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
            out += buf;
        } else if (c == '"') out += "\\\"";
        else out += c;
    }
    return out + "\"";
}

std::string Number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::string StationLabel(int n) { return "station " + std::to_string(n); }

// Where each key of each group stands.
struct KeyLines {
    std::map<std::tuple<std::string, int, std::string>, int> first;
    int Line(const std::string& group, int station, const std::string& key) const {
        const auto it = first.find({group, station, Upper(key)});
        return it == first.end() ? 0 : it->second;
    }
};

struct Claim {
    std::uint16_t Channel;
    std::string Name;  // the symbolic name
    int Station;
    std::string Key;   // the key that gave the number, for the line
    bool Tier1;
    bool Readable, Writable;
};

// The fixed system channels: they answer before any station channel.
bool IsSystemRead(unsigned c) {
    return (c >= 60004 && c <= 60018) || c == 60022 || (c >= 60100 && c <= 60291) || c == 60294 ||
           (c >= 65399 && c <= 65406) || (c >= 65409 && c <= 65414) || (c >= 65416 && c <= 65421) ||
           (c >= 65533 && c <= 65535);
}
bool IsSystemWrite(unsigned c) {
    return c == 486 || c == 487 || (c >= 60000 && c <= 60003) || c == 60021 || c == 60022 || c == 60292 ||
           c == 60293 || c == 60295 || c == 65398 || c == 65400 || c == 65401 || (c >= 65406 && c <= 65408) ||
           c == 65410 || c == 65415 || c == 65531 || (c >= 65533 && c <= 65535);
}

struct SingleKind {
    int Kind;
    const char* Name;
    const char* Key;
    std::int32_t Type;
    bool Readable, Writable;
};
// The single service channels of a station, in the order the driver searches them.
const SingleKind kSingles[] = {
    {zk::KindErrorNoAnswer, "errors", "ErrorNoAnswer", 10, true, true},
    {zk::KindMsgCounter, "msgcount", "MsgCounter", 10, true, true},
    {zk::KindErrorInMess, "errmsg", "ErrorInMess", 10, true, false},
    {zk::KindSilenceTime, "silence", "SilenceTime", 10, true, false},
    {zk::KindSleepTime, "sleep", "SleepTime", 10, true, false},
    {zk::KindErrCount, "errcount", "ErrCount", 10, true, false},
    {zk::KindOutReadAiMorvel, "read_ai_morvel", "out_read_AImorvel", 2, false, true},
    {zk::KindOutReadCt, "read_ct", "out_read_CT", 2, false, true},
    {zk::KindOutWriteBo, "write_bo", "out_write_BO", 2, false, true},
    {zk::KindOutWriteMo, "write_mo", "out_write_MO", 2, false, true},
    {zk::KindInNowComm, "busy", "in_now_comm", 2, true, false},
    {zk::KindInLastComErr, "unreachable", "in_last_com_err", 2, true, false},
    {zk::KindBiNewBi, "new_bi", "bi_new_BI", 2, true, true},
    {zk::KindBiNewAi, "new_ai", "bi_new_AI", 2, true, true},
    {zk::KindBiNewCt, "new_ct", "bi_new_CT", 2, true, true},
    {zk::KindBiNewMi, "new_mi", "bi_new_MI", 2, true, true},
    {zk::KindBiNewErrControl, "new_err_control", "bi_new_err_control", 2, true, true},
    {zk::KindOutWriteRestart, "restart", "out_write_restart", 2, false, true},
    {zk::KindOutReadBi, "read_bi", "out_read_BI", 2, false, true},
    {zk::KindOutReadKi, "read_ki", "out_read_KI", 2, false, true},
    {zk::KindOutWriteKo, "write_ko", "out_write_KO", 2, false, true},
    {zk::KindOutReadAi, "read_ai", "out_read_AI", 2, false, true},
    {zk::KindOutConnectModem, "connect", "out_connect_modem", 2, false, true},
    {zk::KindInConnectingModem, "connecting", "in_connecting_modem", 2, true, false},
    {zk::KindInConnectedModem, "connected", "in_connected_modem", 2, true, false},
    {zk::KindInActiveMessage, "active_message", "in_active_message", 2, true, true},
    {zk::KindOutWriteAllBoMo, "write_all", "out_write_all_BO_MO", 2, false, true},
    {zk::KindNameChannel, "name", "name_channel", 11, true, false},
    {zk::KindCallCode, "callcode", "CallCode", 5, true, true},
};

struct RangeKind {
    int Kind;
    const char* Name;
    const char* Key;
    const char* CountKey;
    std::int32_t Type;
    bool Writable;
};
// The ranges in the order the driver searches them.
const RangeKind kRanges[] = {
    {zk::KindBinaryIn, "bi", "CHANNEL_BI", "NUM_BINAR_IN", 2, false},
    {zk::KindBinaryOut, "bo", "CHANNEL_BO", "NUM_BINAR_OUT", 2, true},
    {zk::KindAnalog, "ai", "CHANNEL_AI", "NUM_ANALOG_IN", 10, false},
    {zk::KindCounter, "ct", "CHANNEL_CT", "NUM_COUNTER_IN", 10, true},
    {zk::KindMemoryOut, "mo", "CHANNEL_MO", "NUM_MEMORY_OUT", 10, true},
    {zk::KindMemoryIn, "mi", "CHANNEL_MI", "NUM_MEMORY_IN", 10, false},
};

const char* const kQqTypeNames[] = {"?", "BYTE", "WORD", "INTEGER", "CARDINAL", "LONGINT", "REAL", "STRING"};
const char* const kDirectionNames[] = {"?", "READ", "WRITE", "BIDIR"};
const char* const kElementDirectionNames[] = {"?", "INPUT", "OUTPUT", "BIDIR"};
const std::int32_t kElementHostType[] = {0, 3, 4, 7, 5, 8, 10};

const ChannelName kDriverChannels[] = {
    {"drv.sent", 486, 10, true, true},          {"drv.suspend", 487, 2, false, true},
    {"drv.queued", 490, 10, true, false},       {"drv.received", 493, 10, true, false},
    {"drv.writes_queued", 497, 10, true, false}, {"drv.pass_ms", 65399, 10, true, false},
    {"mb.station", 60000, 3, false, true},      {"mb.kind", 60001, 3, false, true},
    {"mb.row", 60002, 4, false, true},          {"mb.start", 60003, 2, false, true},
    {"mb.active", 60018, 2, true, false},       {"mb.save", 60021, 2, false, true},
    {"mb.saved", 60022, 2, true, true},         {"modem.init", 60293, 2, false, true},
    {"modem.ready", 60294, 2, true, false},     {"modem.hangup", 60295, 2, false, true},
    {"hdb.station", 65400, 7, true, true},      {"hdb.archive", 65401, 7, true, true},
    {"hdb.read_pos", 65402, 5, true, false},    {"hdb.write_pos", 65403, 5, true, false},
    {"hdb.state", 65404, 7, true, false},       {"hdb.time", 65405, 10, true, false},
    {"hdb.timeout", 65406, 10, true, true},     {"hdb.start", 65407, 2, false, true},
    {"hdb.stop", 65408, 2, false, true},        {"hdb.record", 65410, 4, true, true},
    {"hdb.word", 65411, 4, true, false},        {"hdb.bytes", 65412, 5, true, false},
    {"hdb.sample", 65413, 9, true, false},      {"hdb.save", 65415, 2, false, true},
    {"queues.clear", 65531, 2, false, true},
};

class Checker {
public:
    Checker(const std::string& bytes, const std::string& path) : bytes_(bytes), path_(path) {}

    CheckResult Run() {
        CheckResult out;
        out.Opened = true;
        NeutraliseDiags();
        rec_.Context = std::make_unique<zk::DriverContext>();
        zk::ResetContext(*rec_.Context);
        rec_.Window = std::make_unique<zk::StatusWindow>();
        zk::InitStatusWindow(*rec_.Window);
        ctx().ParFileName.assign(zk::Utf8ToCp1250(path_));
        out.Accepted = zk::LoadParameterText(zk::ConfigOf(*rec_.Context, rec_.Window.get()), bytes_, &diag_);
        if (!out.Accepted) out.Error = Utf8(std::string_view(ctx().ErrorText, strnlen(ctx().ErrorText, 80)));
        for (const ParNote& n : diag_.Notes)
            if (n.Kind == ParNoteKind::KeySeen) lines_.first[std::tuple(n.Group, n.Station, Upper(n.Key))] = n.Line;
        NoteWarnings(out);
        if (out.Accepted) {
            BuildMap(out);
            SettingWarnings(out);
            Report(out);
        }
        std::stable_sort(out.Warnings.begin(), out.Warnings.end(),
                         [](const CheckWarning& a, const CheckWarning& b) {
                             return (a.Line ? a.Line : 1 << 30) < (b.Line ? b.Line : 1 << 30);
                         });
        return out;
    }

private:
    zk::DriverContext& ctx() { return *rec_.Context; }

    // "$DIAGS" would switch the log on and write a log file; the check only says so.
    void NeutraliseDiags() {
        auto isSep = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        const std::size_t end = std::min(bytes_.find('\x1A'), bytes_.size());
        for (std::size_t at = bytes_.find("$DIAGS"); at != std::string::npos && at < end;
             at = bytes_.find("$DIAGS", at + 1)) {
            const bool before = at == 0 || isSep(bytes_[at - 1]);
            const bool after = at + 6 >= bytes_.size() || isSep(bytes_[at + 6]) || bytes_[at + 6] == '\x1A';
            if (!before || !after) continue;
            bytes_[at + 5] = 's';
            int line = 1 + static_cast<int>(std::count(bytes_.begin(), bytes_.begin() + static_cast<long>(at), '\n'));
            if (!diagsLine_) diagsLine_ = line;
        }
    }

    void Warn(CheckResult& out, int line, const std::string& code, const std::string& text) {
        out.Warnings.push_back({line, code, text});
    }

    static std::string Where(const ParNote& n) {
        return n.Station ? n.Group + " of station " + std::to_string(n.Station) : n.Group;
    }

    using KeyOf = std::tuple<std::string, int, std::string>;
    static KeyOf KeyOfNote(const ParNote& n) { return {n.Group, n.Station, Upper(n.Key)}; }

    // The words of a text, upper-cased.
    static std::set<std::string> Words(const std::string& text) {
        std::set<std::string> out;
        std::istringstream in(text);
        for (std::string w; in >> w;) out.insert(Upper(w));
        return out;
    }

    // Keys given twice in one group: the later value wins (QQ and MEMORY_BLOCK repeat by design).
    void DuplicateWarnings(CheckResult& out) {
        std::map<KeyOf, int> first;
        for (const ParNote& n : diag_.Notes) {
            if (n.Kind == ParNoteKind::HeaderInGroup) {
                // The next group's keys are read into this one: the header's warning says so.
                for (auto it = first.begin(); it != first.end();)
                    it = std::get<0>(it->first) == n.Group && std::get<1>(it->first) == n.Station ? first.erase(it)
                                                                                                   : std::next(it);
                continue;
            }
            if (n.Kind != ParNoteKind::KeySeen || n.Key == "QQ" || n.Key == "MEMORY_BLOCK") continue;
            const auto [it, inserted] = first.emplace(KeyOfNote(n), n.Line);
            if (!inserted)
                Warn(out, n.Line, "duplicate-key",
                     n.Key + " is given again in " + Where(n) + " (first on line " + std::to_string(it->second) +
                         "): this later value replaces the first");
        }
    }

    void NoteWarnings(CheckResult& out) {
        DuplicateWarnings(out);
        // Mandatory keys reported missing, and the keys that a value took into its line: a key
        // whose own value is wrong, or that another value swallowed, is said once, where it stands.
        std::set<KeyOf> missing;
        for (const ParNote& n : diag_.Notes)
            if (n.Kind == ParNoteKind::KeyMissing) missing.insert(KeyOfNote(n));
        std::set<KeyOf> said;
        // What the failure of mandatory keys (those of `keys` reported missing) means, once.
        auto consequence = [&](const ParNote& n, const std::vector<std::string>& keys) {
            std::string list;
            int count = 0;
            for (const std::string& key : keys) {
                const KeyOf k{n.Group, n.Station, Upper(key)};
                if (!missing.count(k) || said.count(k)) continue;
                said.insert(k);
                list += (list.empty() ? "" : ", ") + key;
                ++count;
            }
            if (!count) return std::string();
            std::string text = "; " + list + (count == 1 ? " counts" : " count") + " as not loaded, so " + Where(n) + " fails";
            if (n.Station > 0 && out.Accepted)
                text += " (the station is counted but only partly loaded, the station groups after it are not read)";
            else if (!out.Accepted)
                text += " and the driver refuses the file";
            return text;
        };
        // The keys among the words that a value took into its line, and what that means.
        auto swallowedKeys = [&](const ParNote& n, const std::string& words, const std::string& own) {
            std::vector<std::string> keys;
            std::string text;
            for (const std::string& w : Words(words)) {
                const KeyOf k{n.Group, n.Station, w};
                if (missing.count(k) && !said.count(k)) {
                    text += (text.empty() ? "; so " : ", ") + w;
                    keys.push_back(w);
                }
            }
            if (!text.empty()) text += keys.size() == 1 ? " on that line is not read as a key" : " on that line are not read as keys";
            if (!own.empty()) keys.push_back(own);
            return text + consequence(n, keys);
        };
        const auto& notes = diag_.Notes;
        bool skipBlock = false;  // the items of a memory block that failed, up to its end
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const ParNote n = notes[i];  // a copy: the list may be rewritten below
            if (skipBlock && n.Kind == ParNoteKind::UnknownKey) {
                if (Upper(n.Item) == "MEMORY_BLOCK_END") skipBlock = false;
                continue;
            }
            skipBlock = false;
            switch (n.Kind) {
                case ParNoteKind::KeySeen: break;
                case ParNoteKind::ValueCut:
                    Warn(out, n.Line, "value-cut",
                         "the value " + Utf8(n.Item) + " of " + n.Key + " in " + Where(n) +
                             (n.Detail.rfind("kept to ", 0) == 0
                                  ? " is above the largest count: the driver " + ("keeps it" + n.Detail.substr(4))
                                  : " does not fit: the driver stores " + n.Detail +
                                        " (a word keeps the low 16 bits, a byte the low 8)"));
                    break;
                case ParNoteKind::LineCut:
                    Warn(out, n.Line, "line-cut",
                         "the rest of the line after " + n.Key + " in " + Where(n) + " is longer than 255 characters: "
                         "'" + Utf8(n.Item) + "' is dropped (a number cut there changes)");
                    break;
                case ParNoteKind::Swallowed:
                    Warn(out, n.Line, "swallowed",
                         "the string value of " + n.Key + " in " + Where(n) + " takes the rest of its line: '" +
                             Utf8(n.Detail) + "' is part of it and ignored; a string value must end its line" +
                             swallowedKeys(n, n.Detail, ""));
                    break;
                case ParNoteKind::UnknownKey: {
                    std::string text = "'" + Utf8(n.Item) + "' is no key of " + Where(n);
                    const std::string suggestion = Suggest(n.Item);
                    if (Upper(suggestion) == Upper(n.Item)) text += " (it is a key of another group)";
                    text += "; the loader skips it and reads the item after it as the next key";
                    if (!suggestion.empty() && Upper(suggestion) != Upper(n.Item))
                        text += " (did you mean " + suggestion + "?)";
                    Warn(out, n.Line, "unknown-key", text);
                    break;
                }
                case ParNoteKind::HeaderInGroup: {
                    std::string text = "group header " + Utf8(n.Item) + " stands inside " + Where(n) +
                                       ", which has no END before it: the keys up to the next END are read as " +
                                       n.Group + " keys";
                    if (n.Group == "[STATION]") text += " (the two station groups merge into one)";
                    // The keys of the swallowed group that the open group does not know.
                    std::vector<std::string> skipped;
                    std::string taken;
                    std::size_t j = i + 1;
                    for (; j < notes.size(); ++j) {
                        if (notes[j].Group != n.Group || notes[j].Station != n.Station) break;
                        if (notes[j].Kind == ParNoteKind::UnknownKey) skipped.push_back(Utf8(notes[j].Item));
                        else if (notes[j].Kind == ParNoteKind::KeySeen) taken += " " + notes[j].Key;
                        else break;
                    }
                    if (!taken.empty()) text += "; taken as " + n.Group + " settings:" + taken;
                    if (!skipped.empty()) {
                        text += "; skipped as unknown there:";
                        for (const std::string& k : skipped) text += " " + k;
                        // Only the unknown keys are absorbed; the rest is looked at in turn.
                        std::vector<ParNote> rest;
                        for (std::size_t k = i + 1; k < j; ++k)
                            if (notes[k].Kind != ParNoteKind::UnknownKey) rest.push_back(notes[k]);
                        std::vector<ParNote> merged(notes.begin(), notes.begin() + static_cast<long>(i) + 1);
                        merged.insert(merged.end(), rest.begin(), rest.end());
                        merged.insert(merged.end(), notes.begin() + static_cast<long>(j), notes.end());
                        diag_.Notes = std::move(merged);
                    }
                    Warn(out, n.Line, "header-in-group", text);
                    break;
                }
                case ParNoteKind::SkippedItem: {
                    std::size_t j = i;
                    while (j + 1 < notes.size() && notes[j + 1].Kind == ParNoteKind::SkippedItem &&
                           notes[j + 1].Group == n.Group)
                        ++j;
                    std::string text = "'" + Utf8(n.Item) + "'";
                    if (j > i) text += " and " + std::to_string(j - i) + " more item(s) up to line " +
                                       std::to_string(notes[j].Line);
                    text += " stand outside any group and are skipped while the loader looks for " + n.Group;
                    for (std::size_t k = i; k <= j; ++k)
                        if (notes[k].Item.size() > 2 && notes[k].Item.front() == '[') {
                            text += "; group " + notes[k].Item + " is passed over (the groups must stand in the order "
                                    "[COM], [MODEM], [GLOBAL], [STATION]...)";
                            break;
                        }
                    Warn(out, n.Line, "skipped", text);
                    i = j;
                    break;
                }
                case ParNoteKind::BadValue: {
                    std::string text;
                    if (!n.Detail.empty()) {
                        text = "'" + Utf8(n.Item) + "' in the value of " + n.Key + " in " + Where(n) + " " + n.Detail;
                        const std::size_t colon = n.Detail.find(": ");
                        if (n.Key.find("_XOR") != std::string::npos && colon != std::string::npos)
                            text += swallowedKeys(n, n.Detail.substr(colon + 2), n.Key);
                        if (n.Key == "MEMORY_BLOCK") skipBlock = true;
                    } else {
                        text = "the value '" + Utf8(n.Item) + "' of " + n.Key + " in " + Where(n) + " does not parse";
                        if (!missing.count(KeyOfNote(n)))
                            text += "; the setting falls back (a real to -999999.9, a byte to 0, other kinds keep "
                                    "what they held)";
                    }
                    text += consequence(n, {n.Key});
                    Warn(out, n.Line, "bad-value", text);
                    break;
                }
                case ParNoteKind::KeyMissing: {
                    if (said.count(KeyOfNote(n))) break;  // said where its value or the line that took it stands
                    const bool refused = !out.Accepted && (n.Station <= 1);
                    std::string text = "mandatory key " + n.Key + " of " + Where(n) + " is missing or has no valid value";
                    if (n.Station > 0 && !refused && out.Accepted)
                        text += "; the driver stops reading stations here: station " + std::to_string(n.Station) +
                                " is counted but only partly loaded, the station groups after it are not read";
                    Warn(out, n.Line, "key-missing", text);
                    break;
                }
                case ParNoteKind::MissingEnd:
                    if (n.Group == "[MODEM]") {
                        Warn(out, n.Line, "missing-end",
                             "[MODEM] has no END: the loader reads the rest of the file as modem keys, so [GLOBAL] "
                             "and the stations are not found");
                    } else {
                        std::string text = Where(n) + " has no END before the end of the file";
                        if (n.Station > 1 && out.Accepted) text += "; the driver keeps the stations before it";
                        Warn(out, n.Line, "missing-end", text);
                    }
                    break;
            }
        }
    }

    int Line(const std::string& group, int station, const std::string& key) const {
        return lines_.Line(group, station, key);
    }
    int StationLine(int n, const std::string& key) const {
        if (const int l = Line("[STATION]", n, key)) return l;
        if (const int l = Line("[STATION]", n, "ORIGINAL_CHANNELS")) return l;
        return Line("[STATION]", n, "ADDRESS");
    }

    void AddName(CheckResult& out, const std::string& name, unsigned channel, std::int32_t type, bool readable,
                 bool writable, int station, const std::string& key, bool tier1) {
        const auto c = static_cast<std::uint16_t>(channel & 0xFFFF);
        out.Channels.push_back({name, c, type, readable, writable});
        claims_.push_back({c, name, station, key, tier1, readable, writable});
    }

    void BuildMap(CheckResult& out) {
        const int count = ctx().StationCount;
        // Tier 1: the QQ items, the lowest station first.
        for (int n = 1; n <= count; ++n) {
            const zk::StationRecord& s = *ctx().Stations[static_cast<std::size_t>(n)];
            int k = 0;
            for (const auto& item : s.Channels) {
                ++k;
                const std::int32_t type = item->Type == zk::QqString ? 11 : item->Type == zk::QqLongint ? 8 : 10;
                AddName(out, "st" + std::to_string(n) + ".qq." + std::to_string(k), item->Channel, type,
                        item->Direction != zk::DirWrite, item->Direction != zk::DirRead, n, "QQ", true);
            }
        }
        // Tier 3, in the driver's search order.
        for (int n = 1; n <= count; ++n) {
            const zk::StationRecord& s = *ctx().Stations[static_cast<std::size_t>(n)];
            const std::string st = "st" + std::to_string(n) + ".";
            for (const RangeKind& r : kRanges) {
                const int length = zk::RangeLength(s, r.Kind);
                for (int i = 1; i <= length; ++i)
                    AddName(out, st + r.Name + "." + std::to_string(i), s.BlockBase[static_cast<std::size_t>(r.Kind)] + i - 1u,
                            r.Type, true, r.Writable, n, r.Key, false);
            }
            for (const SingleKind& k : kSingles) {
                if (k.Kind == zk::KindNameChannel) {  // the four display lines come before the rest
                    const unsigned base = s.BlockBase[zk::KindVideo];
                    if (base != 0)
                        for (unsigned i = 1; i <= 4; ++i)
                            AddName(out, st + "video." + std::to_string(i), base + i - 1, 11, true, false, n, "Video", false);
                }
                const unsigned number = s.BlockBase[static_cast<std::size_t>(k.Kind)];
                if (number != 0) AddName(out, st + k.Name, number, k.Type, k.Readable, k.Writable, n, k.Key, false);
            }
            int b = 0;
            for (const auto& block : s.MemoryBlocks) {
                ++b;
                const std::string bn = st + "mb." + std::to_string(b);
                AddName(out, bn, block->ChannelRead, 2, false, true, n, "MEMORY_BLOCK", false);
                for (std::size_t e = 0; e < block->Types.size(); ++e) {
                    const auto type = static_cast<std::uint8_t>(block->Types[e]);
                    const auto dir = static_cast<std::uint8_t>(block->Directions[e]);
                    AddName(out, bn + "." + std::to_string(e + 1), block->Channel + static_cast<unsigned>(e),
                            type <= 6 ? kElementHostType[type] : 0, true, dir != zk::ElemInput, n, "MEMORY_BLOCK", false);
                }
            }
        }
        for (const ChannelName& c : kDriverChannels) out.Channels.push_back(c);
        ChannelWarnings(out);
    }

    static std::string Family(const std::string& name) {
        // st2.bi.1 -> st2.bi; st1.connect stays
        const auto first = name.find('.');
        const auto last = name.rfind('.');
        if (last != first && last != std::string::npos &&
            name.find_first_not_of("0123456789", last + 1) == std::string::npos)
            return name.substr(0, last);
        return name;
    }

    void ChannelWarnings(CheckResult& out) {
        // Channels claimed twice: the first claim in the search order answers.
        std::map<std::uint16_t, std::size_t> owner;
        struct Run {
            std::string Loser, Winner;
            unsigned First, Last;
            int Count;
            int Line;
            bool Tier1Winner;
        };
        std::vector<Run> runs;
        for (std::size_t i = 0; i < claims_.size(); ++i) {
            const Claim& c = claims_[i];
            const auto [it, inserted] = owner.emplace(c.Channel, i);
            if (inserted) continue;
            const Claim& w = claims_[it->second];
            if (Family(w.Name) == Family(c.Name)) continue;
            const std::string loser = Family(c.Name), winner = Family(w.Name);
            if (!runs.empty() && runs.back().Loser == loser && runs.back().Winner == winner) {
                runs.back().Last = c.Channel;
                ++runs.back().Count;
            } else {
                runs.push_back({loser, winner, c.Channel, c.Channel, 1, StationLine(c.Station, c.Key), w.Tier1});
            }
        }
        for (const Run& r : runs) {
            std::string span = r.First == r.Last ? "channel " + std::to_string(r.First)
                                                  : std::to_string(r.Count) + " channel(s) in " + std::to_string(r.First) +
                                                        ".." + std::to_string(r.Last);
            Warn(out, r.Line, "channel-clash",
                 span + " of " + r.Loser + " are claimed already by " + r.Winner + ", which answers them" +
                     (r.Tier1Winner ? " (QQ items come first)" : " (the lower station and the earlier kind come first)"));
        }
        // Station channels that a system channel hides, and QQ items that hide one.
        std::vector<Run> hidden;
        for (const Claim& c : claims_) {
            const bool read = c.Readable && IsSystemRead(c.Channel);
            const bool write = c.Writable && IsSystemWrite(c.Channel);
            if (!read && !write) continue;
            const std::string fam = Family(c.Name);
            if (!hidden.empty() && hidden.back().Loser == fam && hidden.back().Last + 1 == c.Channel) {
                hidden.back().Last = c.Channel;
                ++hidden.back().Count;
            } else {
                hidden.push_back({fam, "", c.Channel, c.Channel, 1, StationLine(c.Station, c.Key), c.Tier1});
            }
        }
        for (const Run& r : hidden) {
            const std::string span = r.First == r.Last ? "channel " + std::to_string(r.First)
                                                       : "channels " + std::to_string(r.First) + ".." + std::to_string(r.Last);
            if (r.Tier1Winner)
                Warn(out, r.Line, "system-channel",
                     "the QQ item " + r.Loser + " takes " + span + ", a system channel of the driver, which the host "
                     "then cannot reach");
            else
                Warn(out, r.Line, "system-channel",
                     span + " of " + r.Loser + " are system channels of the driver, which answer first: the station's "
                     "channels there cannot be reached");
        }
    }

    void SettingWarnings(CheckResult& out) {
        const zk::ModemRecord& m = ctx().Modem;
        const struct {
            const char* key;
            double value;
        } limits[] = {{"INIT_TIME", m.InitBlock.Limit},     {"CONNECT_TIME", m.DialBlock.Limit},
                      {"LINEOFF_TIME", m.HangupBlock.Limit}, {"RING_TIME", m.RingTimeout},
                      {"ANSWER_TIME", m.AnswerBlock.Limit}};
        for (const auto& l : limits) {
            if (l.value > 3.0) continue;
            const int line = Line("[MODEM]", 0, l.key);
            Warn(out, line, "modem-time",
                 std::string("[MODEM] ") + l.key + " is " + Number(l.value) + " s" + (line ? "" : " (the default)") +
                     ": the driver takes a modem reply as complete at the first PREFIX character or after 3 s of "
                     "silence, so a limit of 3 s or less runs out before the reply is taken and the step fails");
        }
        for (int n = 1; n <= ctx().StationCount; ++n) {
            const zk::StationRecord& s = *ctx().Stations[static_cast<std::size_t>(n)];
            const struct {
                const char* key;
                unsigned count;
                const char* what;
            } counts[] = {{"NUM_BINAR_IN", s.NumBinarIn, "binary inputs are read"},
                          {"NUM_BINAR_OUT", s.NumBinarOut, "binary outputs are written"},
                          {"NUM_COUNTER_IN", s.NumCounterIn, "counters are read"}};
            for (const auto& c : counts) {
                if (c.count % 8 == 0) continue;
                const unsigned whole = c.count / 8 * 8;
                std::string text = StationLabel(n) + ": " + c.key + " " + std::to_string(c.count) +
                                   " is not a multiple of 8; the station's requests carry whole groups of eight, so ";
                text += whole == 0 ? std::string("none of its ") + c.what
                                   : "only points 1.." + std::to_string(whole) + " of its " + c.what;
                Warn(out, StationLine(n, c.key), "count-not-8", text);
            }
            if (s.NumAnalogIn % 8 != 0) {
                const unsigned whole = s.NumAnalogIn / 8 * 8;
                Warn(out, StationLine(n, "NUM_ANALOG_IN"), "count-not-8",
                     StationLabel(n) + ": NUM_ANALOG_IN " + std::to_string(s.NumAnalogIn) +
                         " is not a multiple of 8; the group read (out_read_AImorvel) asks for whole groups of eight, "
                         "so it reads " +
                         (whole == 0 ? std::string("none of the analog inputs")
                                     : "only inputs 1.." + std::to_string(whole)) +
                         " (the memory read out_read_AI reads all " + std::to_string(s.NumAnalogIn) + ")");
            }
        }
        if (!zk::IsSupportedBaudrate(ctx().Com.BaudRate)) {
            std::string rates;
            for (const auto rate : zk::kBaudRates) rates += (rates.empty() ? "" : " ") + std::to_string(rate);
            Warn(out, Line("[COM]", 0, "BAUD"), "baud",
                 "BAUD " + std::to_string(ctx().Com.BaudRate) + " is no rate the port takes (" + rates +
                     "; 65536 and above cannot be set, BAUD keeps 16 bits): the port stays at its previous rate, "
                     "while the event list shows " + std::to_string(ctx().Com.BaudRate));
        }
        const std::string device = ctx().Com.DEVICE.str();
        std::error_code ec;
        if (!device.empty() && device.find('/') != std::string::npos && !std::filesystem::exists(device, ec))
            Warn(out, Line("[COM]", 0, "DEVICE") ? Line("[COM]", 0, "DEVICE") : Line("[COM]", 0, "DRIVER"), "device",
                 "the serial device " + device + " does not exist here: Init fails to open the port");
    }

    void Row(std::ostringstream& o, const std::string& group, int station, const std::string& key,
             const std::string& value, const char* note = nullptr) {
        const int line = Line(group, station, key);
        char buf[64];
        std::snprintf(buf, sizeof buf, "  %-26s", key.c_str());
        o << buf << value;
        if (line) o << "   (line " << line << ")";
        else o << "   (" << (note ? note : "default") << ")";
        o << "\n";
    }

    void Report(CheckResult& out) {
        zk::DriverContext& c = ctx();
        std::ostringstream o;
        const char parity = "NEOMS"[c.Com.Parity < 5 ? c.Com.Parity : 0];
        o << "[COM]\n";
        Row(o, "[COM]", 0, "DEVICE", c.Com.DEVICE.str(), ("the name of port " + std::to_string(c.Com.ComPort)).c_str());
        Row(o, "[COM]", 0, "DRIVER", "port " + std::to_string(c.Com.ComPort));
        Row(o, "[COM]", 0, "BAUD", std::to_string(c.Com.BaudRate));
        Row(o, "[COM]", 0, "BITS", std::to_string(c.Com.DataBits == 8 ? 8 : 7));
        Row(o, "[COM]", 0, "PARITY", std::string(1, parity));
        Row(o, "[COM]", 0, "STOP", std::to_string(c.Com.StopBits == 1 ? 1 : 2));
        Row(o, "[COM]", 0, "BUFFER_SIZE", std::to_string(c.Com.BUFFER_SIZE));
        const zk::ModemRecord& m = c.Modem;
        o << "[MODEM]\n";
        Row(o, "[MODEM]", 0, "INIT", Shown(m.InitBlock.Command.view()));
        Row(o, "[MODEM]", 0, "INIT_OK", Shown(m.InitBlock.ExpectedReply.view()));
        Row(o, "[MODEM]", 0, "INIT_TIME", Number(m.InitBlock.Limit) + " s");
        Row(o, "[MODEM]", 0, "CONNECT", Shown(m.DialBlock.Command.view()));
        Row(o, "[MODEM]", 0, "CONNECT_ENDCHAR", Shown(m.DialSuffix.view()));
        Row(o, "[MODEM]", 0, "CONNECT_OK", Shown(m.DialBlock.ExpectedReply.view()));
        Row(o, "[MODEM]", 0, "CONNECT_TIME", Number(m.DialBlock.Limit) + " s");
        Row(o, "[MODEM]", 0, "LINEOFF", Shown(m.HangupBlock.Command.view()));
        Row(o, "[MODEM]", 0, "LINEOFF_OK", Shown(m.HangupBlock.ExpectedReply.view()));
        Row(o, "[MODEM]", 0, "LINEOFF_TIME", Number(m.HangupBlock.Limit) + " s");
        Row(o, "[MODEM]", 0, "CONNECT_ANSWER", Shown(m.AnswerBlock.Command.view()));
        Row(o, "[MODEM]", 0, "CONNECT_RING", Shown(m.RingText.view()));
        Row(o, "[MODEM]", 0, "RING_COUNT", std::to_string(m.RingsToAnswer));
        Row(o, "[MODEM]", 0, "RING_TIME", Number(m.RingTimeout) + " s");
        Row(o, "[MODEM]", 0, "ANSWER_TIME", Number(m.AnswerBlock.Limit) + " s");
        o << "[GLOBAL]\n";
        Row(o, "[GLOBAL]", 0, "PREFIX", Shown(c.Global.PREFIX.view()));
        Row(o, "[GLOBAL]", 0, "SUFFIX", Shown(c.Global.SUFFIX.view()));
        Row(o, "[GLOBAL]", 0, "PRESUFFIX", Shown(c.Global.PRESUFFIX.view()));
        Row(o, "[GLOBAL]", 0, "ADDRESS", std::to_string(c.Global.ADDRESS));
        Row(o, "[GLOBAL]", 0, "ANSWER_TIME", Number(c.Global.ANSWER_TIME) + " s");
        Row(o, "[GLOBAL]", 0, "SILENCE_WAIT", std::to_string(c.Global.SILENCE_WAIT) + " ms");
        Row(o, "[GLOBAL]", 0, "DEF_ANALOG_IN_ADDR", std::to_string(c.Global.DEF_ANALOG_IN_ADDR));
        Row(o, "[GLOBAL]", 0, "NUM_MORVEL_ERROR", std::to_string(c.Global.NUM_MORVEL_ERROR));
        Row(o, "[GLOBAL]", 0, "SLEEP_TIME", Number(c.Global.SLEEP_TIME) + " s");
        Row(o, "[GLOBAL]", 0, "SLEEP_COUNT", std::to_string(c.Global.SLEEP_COUNT));
        Row(o, "[GLOBAL]", 0, "IDLE_TIME", std::to_string(c.Global.IDLE_TIME) + " ms");
        Row(o, "[GLOBAL]", 0, "STOP_SELF_READING",
            std::string(c.Global.PrstynekRun ? "OFF (the driver polls by itself)" : "ON (the host's requests only)"),
            "default ON, or a station's PHONE or QQ");
        Row(o, "[GLOBAL]", 0, "CUC_PATH", Shown(c.Global.CUC_PATH.view()));
        Row(o, "[GLOBAL]", 0, "STAY_IN_QUEUE_ON_TIMEOUT", c.Global.STAY_IN_QUEUE_ON_TIMEOUT ? "ON" : "OFF");
        Row(o, "[GLOBAL]", 0, "LOG_FILE", Shown(c.Log.LogFileName.view()));
        Row(o, "[GLOBAL]", 0, "BEEP", c.Global.BEEP ? "ON" : "OFF");
        if (diagsLine_)
            o << "log: on ($DIAGS on line " << diagsLine_ << "), to "
              << (c.Log.LogFileName.empty() ? zk::RootDirectory() + "ZKDKRMOD_<host's driver name>.LOG"
                                            : Utf8(c.Log.LogFileName.view()))
              << ", appended, in code page 1250\n";
        else
            o << "log: off (the file has no $DIAGS)\n";

        std::set<int> partial;
        for (const ParNote& n : diag_.Notes)
            if (n.Kind == ParNoteKind::KeyMissing && n.Station > 0) partial.insert(n.Station);
        o << "stations: " << int{c.StationCount} << "\n";
        for (int n = 1; n <= c.StationCount; ++n) {
            const zk::StationRecord& s = *c.Stations[static_cast<std::size_t>(n)];
            o << "station " << n << " \"" << Utf8(s.Name.view()) << "\"  (line " << StationLine(n, "ADDRESS") << ")"
              << (partial.count(n) ? "  PARTLY LOADED" : "") << "\n";
            o << "  address " << int{s.Address} << ", through " << int{s.Retranslation} << ", phone "
              << (s.PhoneNumber.empty() ? std::string("none") : s.PhoneNumber.str() + (s.KiFlag ? " (D: KI model)" : ""))
              << "\n";
            o << "  points: BI " << int{s.NumBinarIn} << "  BO " << int{s.NumBinarOut} << "  AI " << int{s.NumAnalogIn}
              << "  CT " << int{s.NumCounterIn} << "  MI " << int{s.NumMemoryIn} << "  MO " << int{s.NumMemoryOut}
              << ";  analog address " << s.DefAnalogInAddr << "\n";
            std::string ranges;
            for (const RangeKind& r : kRanges) {
                const int length = zk::RangeLength(s, r.Kind);
                if (!length) continue;
                const unsigned base = s.BlockBase[static_cast<std::size_t>(r.Kind)];
                ranges += std::string("  ") + r.Name + " " + std::to_string(base) + ".." + std::to_string(base + length - 1);
            }
            o << "  channels:" << (ranges.empty() ? "  none" : ranges) << "\n";
            std::string singles;
            for (const SingleKind& k : kSingles) {
                const unsigned number = s.BlockBase[static_cast<std::size_t>(k.Kind)];
                if (number) singles += std::string(" ") + k.Name + "=" + std::to_string(number);
            }
            if (s.BlockBase[zk::KindVideo])
                singles += " video=" + std::to_string(s.BlockBase[zk::KindVideo]) + ".." +
                           std::to_string(s.BlockBase[zk::KindVideo] + 3u);
            if (!singles.empty()) o << "  service:" << singles << "\n";
            for (const auto& item : s.Channels)
                o << "  QQ " << item->Channel << " " << kDirectionNames[item->Direction <= 3 ? item->Direction : 0] << " "
                  << int{item->Address[0]} << "." << int{item->Address[1]} << "." << int{item->Address[2]} << " "
                  << kQqTypeNames[item->Type <= 7 ? item->Type : 0] << "\n";
            for (const auto& block : s.MemoryBlocks) {
                o << "  MEMORY_BLOCK at " << block->Addr << ", " << block->Types.size() << " element(s) from channel "
                  << block->Channel << ", " << int{block->TotalSize} << " bytes, read through " << block->ChannelRead
                  << ":";
                for (std::size_t e = 0; e < block->Types.size(); ++e) {
                    const auto t = static_cast<std::uint8_t>(block->Types[e]);
                    const auto d = static_cast<std::uint8_t>(block->Directions[e]);
                    o << " " << kQqTypeNames[t <= 6 ? t : 0] << "/" << kElementDirectionNames[d <= 3 ? d : 0];
                }
                o << "\n";
            }
        }
        out.Report = o.str();
    }

    std::string bytes_;
    std::string path_;
    zk::DriverRecord rec_;
    zk::ParDiagnostics diag_;
    KeyLines lines_;
    std::vector<Claim> claims_;
    int diagsLine_ = 0;
};

}  // namespace

CheckResult CheckParameterText(const std::string& bytes, const std::string& path) {
    return Checker(bytes, path).Run();
}

CheckResult CheckParameterFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        CheckResult out;
        out.Error = "cannot read " + path + ": " + std::strerror(errno);
        return out;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return CheckParameterText(bytes.str(), path);
}

int CheckExitCode(const CheckResult& r) {
    if (!r.Opened || !r.Accepted) return 2;
    return r.Warnings.empty() ? 0 : 1;
}

const ChannelName* FindChannelName(const std::vector<ChannelName>& map, const std::string& name) {
    for (const ChannelName& c : map)
        if (c.Name == name) return &c;
    return nullptr;
}

int RunCheck(const std::string& path, bool json, bool quiet) {
    const CheckResult r = CheckParameterFile(path);
    const int code = CheckExitCode(r);
    if (json) {
        JsonWriter j;
        j.Field("file", path).Field("accepted", r.Accepted).Field("exit", code);
        if (!r.Error.empty()) j.Field("error", r.Error);
        std::string warnings = "[";
        for (std::size_t i = 0; i < r.Warnings.size(); ++i) {
            JsonWriter w;
            w.Field("line", r.Warnings[i].Line).Field("code", r.Warnings[i].Code).Field("text", r.Warnings[i].Text);
            warnings += (i ? "," : "") + w.Str();
        }
        j.Raw("warnings", warnings + "]");
        std::string channels = "{";
        for (std::size_t i = 0; i < r.Channels.size(); ++i)
            channels += (i ? ",\"" : "\"") + JsonEscape(r.Channels[i].Name) + "\":" + std::to_string(r.Channels[i].Channel);
        j.Raw("channels", channels + "}");
        std::printf("%s\n", j.Str().c_str());
        return code;
    }
    if (!r.Opened) {
        std::fprintf(stderr, "zkhost: %s\n", r.Error.c_str());
        return code;
    }
    if (!quiet && r.Accepted) std::printf("%s", r.Report.c_str());
    if (!r.Warnings.empty()) {
        std::printf("warnings:\n");
        for (const CheckWarning& w : r.Warnings) {
            if (w.Line) std::printf("  %s:%d: %s [%s]\n", path.c_str(), w.Line, w.Text.c_str(), w.Code.c_str());
            else std::printf("  %s: %s [%s]\n", path.c_str(), w.Text.c_str(), w.Code.c_str());
        }
    }
    if (!r.Accepted)
        std::printf("result: the driver refuses this file: Init fails with \"%s\"\n", r.Error.c_str());
    else if (r.Warnings.empty())
        std::printf("result: the driver loads this file; no warnings\n");
    else
        std::printf("result: the driver loads this file, with %zu warning(s)\n", r.Warnings.size());
    return code;
}

}  // namespace zkhost
