// The [STATION] groups and the definitions nested in them: point inversions, memory and counter
// definitions, analog limits, QQ channel items and memory blocks.
#include "config/stations.h"

#include <algorithm>
#include <memory>
#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "config/defaults.h"
#include "diag/log.h"
#include "diag/status_window.h"

namespace zk {

namespace {

constexpr std::string_view kStationGroup = "[STATION]";

enum StationKey : int {
    StAddress = 1, StRetranslation, StName, StNumBinarIn, StNumBinarOut, StNumAnalogIn, StNumCounterIn, StNumMemoryIn,
    StNumMemoryOut, StBinarInXor, StBinarOutXor, StDefAnalogInAddr, StDefMemoryIn, StDefMemoryOut, StDefCounterIn,
    StAnalogLimits, StPhone, StQq, StOriginalChannels,
    StFirstChannelKey = 20, StLastChannelKey = 52,
    StMemoryBlock = 53, StMsgCounter, StNameChannel, StCallCode, StEnd, kStationKeys = StEnd
};
static_assert(kStationKeys <= kMaxKeyIndex);

constexpr KeyEntry kStationKeyTable[kStationKeys] = {
    {"ADDRESS"}, {"RETRANSLATION"}, {"NAME"}, {"NUM_BINAR_IN"}, {"NUM_BINAR_OUT"}, {"NUM_ANALOG_IN"},
    {"NUM_COUNTER_IN"}, {"NUM_MEMORY_IN"}, {"NUM_MEMORY_OUT"}, {"BINAR_IN_XOR"}, {"BINAR_OUT_XOR"},
    {"DEF_ANALOG_IN_ADDR"}, {"DEF_MEMORY_IN"}, {"DEF_MEMORY_OUT"}, {"DEF_COUNTER_IN"}, {"ANALOG_LIMITS"}, {"PHONE"},
    {"QQ"}, {"ORIGINAL_CHANNELS"},
    // 20..52: the channel numbers of the station's data kinds 1..33, in kind order.
    {"CHANNEL_BI"}, {"CHANNEL_BO"}, {"CHANNEL_AI"}, {"CHANNEL_CT"}, {"CHANNEL_MI"}, {"CHANNEL_MO"},
    {"ErrorNoAnswer"}, {"ErrorInMess"}, {"SilenceTime"}, {"SleepTime"}, {"ErrCount"}, {"Video"},
    {"out_read_AImorvel"}, {"out_read_CT"}, {"out_write_BO"}, {"out_write_MO"}, {"in_now_comm"},
    {"in_last_com_err"}, {"bi_new_BI"}, {"bi_new_AI"}, {"bi_new_CT"}, {"bi_new_MI"}, {"bi_new_err_control"},
    {"out_write_restart"}, {"out_read_BI"}, {"out_read_KI"}, {"out_write_KO"}, {"out_read_AI"},
    {"out_connect_modem"}, {"in_connecting_modem"}, {"in_connected_modem"}, {"in_active_message"},
    {"out_write_all_BO_MO"},
    {"MEMORY_BLOCK"}, {"MsgCounter"}, {"name_channel"}, {"CallCode"}, {"END"},
};

// The BlockBase kind that a channel-number key sets.
int ChannelKindOfKey(int key) {
    if (key >= StFirstChannelKey && key <= StLastChannelKey) return key - StFirstChannelKey + KindBinaryIn;
    switch (key) {
        case StMsgCounter: return KindMsgCounter;
        case StNameChannel: return KindNameChannel;
        case StCallCode: return KindCallCode;
        default: return 0;
    }
}

void SetLoaded(ParReader& r, int key, bool loaded) { r.KeyLoaded[static_cast<std::size_t>(key)] = loaded; }

// A point count: a byte, kept to the largest count of its kind.
void LoadCount(ParReader& r, int key, std::uint8_t& target, std::uint8_t limit) {
    LoadByte(r, key, target);
    if (target > limit) {
        target = limit;
        NoteLimit(r, r.RawItem.view(), limit);
    }
}

// Index 1.. of the first word the item matches (ASCII case ignored), or 0.
template <std::size_t N>
std::uint8_t WordCode(const ParReader& r, const std::string_view (&words)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (ItemIs(r, words[i])) return static_cast<std::uint8_t>(i + 1);
    return 0;
}

// Index 1.. of the word that the text equals exactly, or 0.
template <std::size_t N>
std::uint8_t ExactCode(std::string_view text, const std::string_view (&words)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (text == words[i]) return static_cast<std::uint8_t>(i + 1);
    return 0;
}

constexpr std::string_view kMemoryTypeWords[] = {"BYTE", "WORD", "REAL"};
constexpr std::string_view kCounterKindWords[] = {"REAL", "HOUR", "SHIFT", "DAY", "WEEKEND", "MONTH", "QUARTER", "YEAR"};
constexpr std::string_view kDirectionWords[] = {"READ", "WRITE", "BIDIR"};
constexpr std::string_view kQqTypeWords[] = {"BYTE", "WORD", "INTEGER", "CARDINAL", "LONGINT", "REAL", "STRING"};
constexpr std::string_view kElementTypeWords[] = {"BYTE", "WORD", "INTEGER", "CARDINAL", "LONGINT", "REAL"};
constexpr std::string_view kElementDirectionWords[] = {"INPUT", "OUTPUT", "BIDIR"};

}  // namespace

// ---- Nested definitions -------------------------------------------------------------------

void LoadBinarXOR(const ConfigContext& ctx, ParReader& r, int key, std::array<bool, 97>& flags) {
    flags.fill(false);
    if (ItemIs(r, "NONE")) {
        SetLoaded(r, key, true);
        return;
    }
    Str255 text(r.Item.view());
    text += ' ';
    text += RestOfLine(r);
    WriteLog(ctx.Log, "LoadBinarXOR", text);
    std::string_view rest = text.view();
    while (!rest.empty()) {
        const auto start = rest.find_first_not_of(" \t");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const auto end = std::min(rest.find_first_of(" \t"), rest.size());
        const auto point = ParseInteger(rest.substr(0, end));
        const std::string_view from = rest;  // the word and what follows it
        rest.remove_prefix(end);
        if (!point || *point < 1 || *point > 96) {
            if (r.Diag)
                NoteValueAt(r, ParNoteKind::BadValue, from.substr(0, end), r.ItemPos,
                            "is no point number 1..96; a point list takes the rest of its line, and the words "
                            "after it are part of the list: " +
                                std::string(from));
            SetLoaded(r, key, false);
            return;
        }
        flags[static_cast<std::size_t>(*point)] = true;
    }
    SetLoaded(r, key, true);
}

void LoadMemoryOutCfg(const ConfigContext& ctx, ParReader& r, int key, std::array<MemoryEntry, 101>& entries,
                      bool* wholeBlock) {
    WriteLog(ctx.Log, "LoadMemoryOutCfg", r.Item);
    for (std::size_t i = 1; i <= 100; ++i) entries[i] = MemoryEntry{};
    if (wholeBlock) *wholeBlock = false;
    if (ItemIs(r, "NONE")) {
        SetLoaded(r, key, true);
        return;
    }
    bool ok = true;
    while (!r.Item.empty() && !ItemIs(r, "DEF_MEMORY_END")) {
        if (ItemIs(r, "ARRAY")) {
            if (wholeBlock) *wholeBlock = true;
            WriteLog(ctx.Log, "LoadMem", "\"ARRAY\" found - Blocked read enabled");
            NextItem(ctx, r);
            continue;
        }
        std::uint8_t n = 0;
        LoadByte(r, key, n);
        NextItem(ctx, r);
        std::uint16_t address = 0;
        const bool addressOk = LoadWord(ctx, r, key, address);
        NextItem(ctx, r);
        const std::uint8_t type = WordCode(r, kMemoryTypeWords);
        if (n >= 1 && n <= 100 && addressOk) {
            entries[n].Address = address;
            if (type) entries[n].Type = type;
        } else {
            ok = false;  // reading goes on to DEF_MEMORY_END
        }
        if (type) NextItem(ctx, r);
    }
    SetLoaded(r, key, ok);
    WriteLog(ctx.Log, "LoadMem", ok ? "OK=true" : "OK=false !!!");
}

void LoadCounterInCfg(const ConfigContext& ctx, ParReader& r, int key, std::array<CounterEntry, 49>& entries) {
    WriteLog(ctx.Log, "LoadCounterInCfg", r.Item);
    for (std::size_t i = 1; i <= 48; ++i) entries[i] = CounterEntry{};
    if (ItemIs(r, "NONE")) {
        SetLoaded(r, key, true);
        return;
    }
    bool ok = true;
    while (!r.Item.empty() && !ItemIs(r, "DEF_COUNTER_END")) {
        std::uint8_t n = 0;
        LoadByte(r, key, n);
        NextItem(ctx, r);
        const std::uint8_t kind = WordCode(r, kCounterKindWords);
        NextItem(ctx, r);
        double r1 = 0.0, r2 = 0.0;
        const bool r1Ok = LoadReal(r, key, r1);
        NextItem(ctx, r);
        const bool r2Ok = LoadReal(r, key, r2);
        if (n >= 1 && n <= 48 && kind && r1Ok && r2Ok) {
            entries[n].Mode = kind;
            entries[n].Factor = r1;
            entries[n].Value = r2;
        } else {
            ok = false;
        }
        NextItem(ctx, r);
    }
    SetLoaded(r, key, ok);
}

void LoadAnalogLimits(const ConfigContext& ctx, ParReader& r, int key, std::array<AnalogLimit, 65>& entries) {
    WriteLog(ctx.Log, "Load analogs", r.Item);
    for (std::size_t i = 1; i <= 64; ++i) {
        entries[i].Upper = 155.08;
        entries[i].Lower = 0.0;
        entries[i].Offset = 0.0;
    }
    bool ok = true;
    if (!ItemIs(r, "NONE")) {
        while (!r.Item.empty() && !ItemIs(r, "ANALOG_LIMITS_END")) {
            std::uint8_t n = 0;
            LoadByte(r, key, n);
            double v[3] = {};
            for (double& value : v) {
                NextItem(ctx, r);
                LoadReal(r, key, value);
            }
            if (n >= 1 && n <= 64 && v[0] != kBadReal && v[1] != kBadReal && v[2] != kBadReal) {
                entries[n].Upper = v[1];
                entries[n].Lower = v[0];
                entries[n].Offset = v[2];
                WriteLog(ctx.Log, "load analogs index", Fmt("%3d", int{n}));
            } else {
                ok = false;
            }
            NextItem(ctx, r);
        }
    }
    SetLoaded(r, key, ok);
    WriteLog(ctx.Log, "Load analogs", "end");
}

void LoadChannelItem(const ConfigContext& ctx, ParReader& r, int key, StationRecord& s) {
    const std::uint8_t direction = WordCode(r, kDirectionWords);
    if (!direction) {
        NoteValue(r, ParNoteKind::BadValue, "is no direction of a QQ item (READ, WRITE, BIDIR)");
        SetLoaded(r, key, false);
        return;
    }
    auto item = std::make_unique<ChannelItem>();
    item->Direction = direction;
    NextItem(ctx, r);
    LoadWord(ctx, r, key, item->Channel);  // a number that does not parse leaves 0
    for (std::uint8_t& byte : item->Address) {
        NextItem(ctx, r);
        LoadByte(r, key, byte);
    }
    NextItem(ctx, r);
    item->Type = WordCode(r, kQqTypeWords);
    if (!item->Type) {
        NoteValue(r, ParNoteKind::BadValue,
                  "is no type of a QQ item (BYTE, WORD, INTEGER, CARDINAL, LONGINT, REAL, STRING)");
        SetLoaded(r, key, false);
        return;
    }
    s.Channels.push_back(std::move(item));
    SetLoaded(r, key, true);
}

void LoadMemoryBlock(const ConfigContext& ctx, ParReader& r, int key, StationRecord& s) {
    auto block = std::make_unique<MemoryBlock>();
    unsigned total = 0;
    bool failed = false;
    bool ended = false;
    while (!r.Item.empty()) {
        if (ItemIs(r, "ADDR")) {
            NextItem(ctx, r);
            LoadWord(ctx, r, key, block->Addr);
        } else if (ItemIs(r, "CHANNEL")) {
            NextItem(ctx, r);
            LoadWord(ctx, r, key, block->Channel);
        } else if (ItemIs(r, "CHANNEL_READ")) {
            NextItem(ctx, r);
            LoadWord(ctx, r, key, block->ChannelRead);
        } else if (ItemIs(r, "TYPES")) {
            for (;;) {
                NextItem(ctx, r);
                if (r.RawItem.view() == "TYPES_END" || r.Item.empty()) break;
                const std::uint8_t type = ExactCode(r.RawItem.view(), kElementTypeWords);
                if (!type)
                    NoteValue(r, ParNoteKind::BadValue,
                              "is no element type (BYTE, WORD, INTEGER, CARDINAL, LONGINT, REAL, written exactly so, "
                              "in upper case); the block is dropped");
                NextItem(ctx, r);
                const std::uint8_t direction = ExactCode(r.RawItem.view(), kElementDirectionWords);
                if (type && !direction)
                    NoteValue(r, ParNoteKind::BadValue,
                              "is no element direction (INPUT, OUTPUT, BIDIR, written exactly so, in upper case); "
                              "the block is dropped");
                // A block holds at most 255 elements of at most 255 bytes in all.
                if (!type || !direction || block->Types.size() >= 255 || total + ElementSize(type) > 255) {
                    failed = true;
                    break;
                }
                block->Types.append(static_cast<char>(type));
                block->Directions.append(static_cast<char>(direction));
                total += ElementSize(type);
            }
        }
        if (failed) break;
        NextItem(ctx, r);
        if (ItemIs(r, "MEMORY_BLOCK_END")) {
            ended = true;
            break;
        }
    }
    block->TotalSize = static_cast<std::uint8_t>(total);
    const bool valid =
        !failed && ended && block->Addr != 65535 && block->Channel != 0 && block->ChannelRead != 0 && total != 0;
    if (valid) s.MemoryBlocks.push_back(std::move(block));
    SetLoaded(r, key, valid);
}

// ---- Station groups -------------------------------------------------------------------------

void LoadStations(const ConfigContext& ctx, ParReader& r) {
    WriteLog(ctx.Log, "LoadStations", "");
    int count = 0;
    bool anyComplete = false;
    for (;;) {
        SetGroupPos(ctx, r, kStationGroup);
        if (r.GroupMissing) break;  // the list of stations ends here
        ++count;
        if (count > kMaxStations) {
            SetParError(ctx, text::kTooManyStations);
            break;
        }
        for (int k = StAnalogLimits; k < StEnd; ++k) SetLoaded(r, k, true);
        StationRecord& s = *ctx.Stations[static_cast<std::size_t>(count)];
        s.PhoneNumber.clear();
        s.KiFlag = false;

        bool ended = false;
        for (;;) {
            NextItem(ctx, r);
            const int key = FindKey(r, kStationKeyTable, kStationKeys);
            if (key == StEnd) {
                ended = true;
                break;
            }
            if (key == 0) {
                if (r.Item.empty()) break;
                NoteUnmatched(r, kStationGroup, count);
                continue;
            }
            WriteLog(ctx.Log, "index found", kStationKeyTable[key - 1].Name);
            NoteKey(r, kStationGroup, count, kStationKeyTable[key - 1].Name);
            const int badBefore = r.BadValues;
            if (key == StOriginalChannels) {
                ApplyStandardNumbering(s, count);
                continue;
            }
            NextItem(ctx, r);
            switch (key) {
                case StAddress: LoadByte(r, key, s.Address); break;
                case StRetranslation: LoadByte(r, key, s.Retranslation); break;
                case StName: LoadString(ctx, r, key, s.Name); break;
                case StNumBinarIn: LoadCount(r, key, s.NumBinarIn, 96); break;
                case StNumBinarOut: LoadCount(r, key, s.NumBinarOut, 96); break;
                case StNumAnalogIn: LoadCount(r, key, s.NumAnalogIn, 64); break;
                case StNumCounterIn: LoadCount(r, key, s.NumCounterIn, 48); break;
                case StNumMemoryIn: LoadCount(r, key, s.NumMemoryIn, 45); break;
                case StNumMemoryOut: LoadCount(r, key, s.NumMemoryOut, 100); break;
                case StBinarInXor: LoadBinarXOR(ctx, r, key, s.InvertIn); break;
                case StBinarOutXor: LoadBinarXOR(ctx, r, key, s.InvertOut); break;
                case StDefAnalogInAddr: LoadWord(ctx, r, key, s.DefAnalogInAddr); break;
                case StDefMemoryIn: LoadMemoryOutCfg(ctx, r, key, s.MemoryIn, &s.WholeBlockRead); break;
                case StDefMemoryOut: LoadMemoryOutCfg(ctx, r, key, s.MemoryOut, nullptr); break;
                case StDefCounterIn: LoadCounterInCfg(ctx, r, key, s.Counters); break;
                case StAnalogLimits: LoadAnalogLimits(ctx, r, key, s.AnalogLimits); break;
                case StPhone: {
                    std::string_view number = r.Item.view();
                    s.KiFlag = !number.empty() && number[0] == 'D';
                    if (s.KiFlag) number.remove_prefix(1);
                    s.PhoneNumber.assign(number);
                    SetLoaded(r, key, true);
                    ctx.Global.PrstynekRun = false;
                    WriteLog(ctx.Log, "phone number is", s.PhoneNumber);
                    break;
                }
                case StQq:
                    ctx.Global.PrstynekRun = false;
                    LoadChannelItem(ctx, r, key, s);
                    break;
                case StMemoryBlock: LoadMemoryBlock(ctx, r, key, s); break;
                default:
                    if (const int kind = ChannelKindOfKey(key))
                        LoadWord(ctx, r, key, s.BlockBase[static_cast<std::size_t>(kind)]);
                    break;
            }
            NoteBadValue(r, badBefore, kStationGroup, count, kStationKeyTable[key - 1].Name);
        }
        if (!ended) {
            AddNote(r, ParNoteKind::MissingEnd, kStationGroup, count, "", "", r.GroupPos);
            SetMissingEndError(ctx, kStationGroup);
            WriteLog(ctx.Log, "loadst", "err-eof and not groupEnd");
            break;
        }
        if (const int missing = FirstKeyNotLoaded(r, kStationKeys)) {
            NoteMissingKeys(r, kStationKeyTable, kStationKeys, kStationGroup, count);
            SetBadKeyError(ctx, kStationKeyTable[missing - 1].Name, kStationGroup);
            WriteLog(ctx.Log, "loadst", Fmt("%3d. item not loaded", missing));
            break;
        }
        std::string line(text::kStationLine);
        AppendCut(line, s.Name, 88);
        AppendCut(line, " ", 89);
        AppendCut(line, s.PhoneNumber, 109);
        AddEventLine(ctx.Window, line);
        if (!s.Channels.empty()) AddEventLine(ctx.Window, text::kStationQq);
        WriteLog(ctx.Log, "loadst", "station OK");
        anyComplete = true;
    }
    if (anyComplete) ctx.StationCount = static_cast<std::uint8_t>(std::min(count, kMaxStations));
    r.GroupMissing = !anyComplete;
}

}  // namespace zk
