// The parameter file as a whole: [COM], [MODEM] and [GLOBAL], then the station groups.
#include "config/parfile.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "config/par_reader.h"
#include "config/stations.h"
#include "diag/log.h"
#include "diag/status_window.h"
#include "line/modem.h"
#include "platform/platform.h"

namespace zk {

namespace {

// ---- [COM] ----------------------------------------------------------------------------------

enum ComKey : int {
    ComIrq = 1, ComBase, ComBaud, ComBits, ComParity, ComStop, ComOptions, ComBufferSize, ComDriver, ComDevice,
    ComEnd, kComKeys = ComEnd
};
constexpr KeyEntry kComKeyTable[kComKeys] = {
    {"IRQ"}, {"BASE"}, {"BAUD"}, {"BITS"}, {"PARITY"}, {"STOP"}, {"OPTIONS"}, {"BUFFER_SIZE"}, {"DRIVER"}, {"DEVICE"},
    {"END"},
};
constexpr std::string_view kParityWords[5] = {"NONE", "EVEN", "ODD", "MARK", "SPACE"};
constexpr char kParityLetters[5] = {'N', 'E', 'O', 'M', 'S'};

enum class GroupResult { Loaded, Missing, Failed };

GroupResult LoadCom(const ConfigContext& ctx, ParReader& r) {
    constexpr std::string_view group = "[COM]";
    SetGroupPos(ctx, r, group);
    if (r.GroupMissing) return GroupResult::Missing;
    r.KeyLoaded[ComDevice] = true;  // the one optional key
    ctx.Com.DEVICE.clear();

    bool ended = false;
    for (;;) {
        NextItem(ctx, r);
        const int key = FindKey(r, kComKeyTable, kComKeys);
        if (key == ComEnd) {
            ended = true;
            break;
        }
        if (key == 0) {
            if (r.Item.empty()) break;  // the end of the file
            NoteUnmatched(r, group, 0);
            continue;
        }
        NoteKey(r, group, 0, kComKeyTable[key - 1].Name);
        const int badBefore = r.BadValues;
        NextItem(ctx, r);
        switch (key) {
            case ComIrq: LoadWord(ctx, r, key, ctx.Com.IRQ); break;
            case ComBase: LoadWord(ctx, r, key, ctx.Com.BASE); break;
            case ComBaud: LoadWord(ctx, r, key, ctx.Com.BaudRate); break;
            case ComBits: LoadWord(ctx, r, key, ctx.Com.DataBits); break;
            case ComParity:
                for (std::uint16_t code = 0; code < 5; ++code) {
                    if (ItemIs(r, kParityWords[code])) {
                        ctx.Com.Parity = code;
                        r.KeyLoaded[ComParity] = true;
                        break;
                    }
                }
                break;
            case ComStop: LoadWord(ctx, r, key, ctx.Com.StopBits); break;
            case ComOptions:
                if (LoadWord(ctx, r, key, ctx.Com.OPTIONS)) WriteLog(ctx.Log, "OPTIONS", std::to_string(ctx.Com.OPTIONS));
                break;
            case ComBufferSize: LoadWord(ctx, r, key, ctx.Com.BUFFER_SIZE); break;
            case ComDriver:
                ctx.Com.DriverKind.assign(ItemIs(r, "SYSTEM") ? std::string_view() : r.Item.view());
                NextItem(ctx, r);
                LoadWord(ctx, r, ComDriver, ctx.Com.ComPort);
                break;
            case ComDevice: ctx.Com.DEVICE = r.RawItem; break;
            default: break;
        }
        NoteBadValue(r, badBefore, group, 0, kComKeyTable[key - 1].Name);
    }
    if (!ended) {
        AddNote(r, ParNoteKind::MissingEnd, group, 0, "", "", r.GroupPos);
        SetMissingEndError(ctx, group);
        return GroupResult::Failed;
    }
    if (const int missing = FirstKeyNotLoaded(r, kComKeys)) {
        NoteMissingKeys(r, kComKeyTable, kComKeys, group, 0);
        SetBadKeyError(ctx, kComKeyTable[missing - 1].Name, group);
        return GroupResult::Failed;
    }
    if (ctx.Com.DEVICE.empty()) ctx.Com.DEVICE.assign(DefaultPortName(ctx.Com.ComPort & 0xFF));
    const char parity = ctx.Com.Parity < 5 ? kParityLetters[ctx.Com.Parity] : '?';
    AddEventLine(ctx.Window, Fmt("COM%u, %u %u %c %u", unsigned{ctx.Com.ComPort}, unsigned{ctx.Com.BaudRate},
                                       unsigned{ctx.Com.DataBits}, parity, unsigned{ctx.Com.StopBits}));
    return GroupResult::Loaded;
}

// ---- [MODEM] --------------------------------------------------------------------------------

enum ModemKey : int {
    ModInit = 1, ModInitOk, ModInitTime, ModConnect, ModConnectEndchar, ModConnectOk, ModConnectTime, ModLineoff,
    ModLineoffOk, ModLineoffTime, ModConnectAnswer, ModConnectRing, ModRingCount, ModRingTime, ModAnswerTime,
    ModEnd, kModemKeys = ModEnd
};
constexpr KeyEntry kModemKeyTable[kModemKeys] = {
    {"INIT"},      {"INIT_OK"},    {"INIT_TIME"},    {"CONNECT"},        {"CONNECT_ENDCHAR"}, {"CONNECT_OK"},
    {"CONNECT_TIME"}, {"LINEOFF"}, {"LINEOFF_OK"},   {"LINEOFF_TIME"},   {"CONNECT_ANSWER"},  {"CONNECT_RING"},
    {"RING_COUNT"}, {"RING_TIME"}, {"ANSWER_TIME"},  {"END"},
};

// ---- [GLOBAL] -------------------------------------------------------------------------------

enum GlobalKey : int {
    GlbPrefix = 1, GlbSuffix, GlbPresuffix, GlbAddress, GlbAnswerTime, GlbSilenceWait, GlbRtsTimeOn, GlbRtsTimeOff,
    GlbDefAnalogInAddr, GlbNumMorvelError, GlbSleepTime, GlbSleepCount, GlbIdleTime, GlbStopSelfReading, GlbCucPath,
    GlbStayInQueue, GlbLogFile, GlbBeep, GlbEnd, kGlobalKeys = GlbEnd
};
constexpr KeyEntry kGlobalKeyTable[kGlobalKeys] = {
    {"PREFIX"},         {"SUFFIX"},       {"PRESUFFIX"},         {"ADDRESS"},    {"ANSWER_TIME"},
    {"SILENCE_WAIT"},   {"RTS_TIME_ON"},  {"RTS_TIME_OFF"},      {"DEF_ANALOG_IN_ADDR"}, {"NUM_MORVEL_ERROR"},
    {"SLEEP_TIME"},     {"SLEEP_COUNT"},  {"IDLE_TIME"},         {"STOP_SELF_READING"},  {"CUC_PATH"},
    {"STAY_IN_QUEUE_ON_TIMEOUT"}, {"LOG_FILE"}, {"BEEP"},        {"END"},
};

// A directory for the memory-block files, ending in exactly one separator; a directory that
// does not exist gives the root directory.
Str255 CucDirectory(std::string_view path) {
    const char sep = PathSeparator();
    std::string dir(path);
    while (!dir.empty() && dir.back() == sep) dir.pop_back();
    const bool exists = DirectoryExists(dir.empty() ? std::string(path) : dir);
    if (!exists) {
        dir = RootDirectory();
        while (!dir.empty() && dir.back() == sep) dir.pop_back();
    }
    dir += sep;
    return Str255(dir);
}

GroupResult LoadGlobal(const ConfigContext& ctx, ParReader& r) {
    constexpr std::string_view group = "[GLOBAL]";
    SetGroupPos(ctx, r, group);
    if (r.GroupMissing) return GroupResult::Missing;

    bool ended = false;
    for (;;) {
        for (int k = GlbNumMorvelError; k <= GlbBeep; ++k) r.KeyLoaded[static_cast<std::size_t>(k)] = true;
        NextItem(ctx, r);
        const int key = FindKey(r, kGlobalKeyTable, kGlobalKeys);
        if (key == GlbEnd) {
            ended = true;
            break;
        }
        if (key == 0) {
            if (r.Item.empty()) break;
            NoteUnmatched(r, group, 0);
            continue;
        }
        WriteLog(ctx.Log, "found", Fmt("%2d", key));
        NoteKey(r, group, 0, kGlobalKeyTable[key - 1].Name);
        const int badBefore = r.BadValues;
        NextItem(ctx, r);
        switch (key) {
            case GlbPrefix: LoadString(ctx, r, key, ctx.Global.PREFIX); break;
            case GlbSuffix: LoadString(ctx, r, key, ctx.Global.SUFFIX); break;
            case GlbPresuffix: LoadString(ctx, r, key, ctx.Global.PRESUFFIX); break;
            case GlbAddress: LoadByte(r, key, ctx.Global.ADDRESS); break;
            case GlbAnswerTime: LoadReal(r, key, ctx.Global.ANSWER_TIME); break;
            case GlbSilenceWait: LoadWord(ctx, r, key, ctx.Global.SILENCE_WAIT); break;
            case GlbRtsTimeOn: LoadWord(ctx, r, key, ctx.Global.RTS_TIME_ON); break;
            case GlbRtsTimeOff: LoadWord(ctx, r, key, ctx.Global.RTS_TIME_OFF); break;
            case GlbDefAnalogInAddr: LoadWord(ctx, r, key, ctx.Global.DEF_ANALOG_IN_ADDR); break;
            case GlbNumMorvelError: LoadByte(r, key, ctx.Global.NUM_MORVEL_ERROR); break;
            case GlbSleepTime: LoadReal(r, key, ctx.Global.SLEEP_TIME); break;
            case GlbSleepCount: LoadWord(ctx, r, key, ctx.Global.SLEEP_COUNT); break;
            case GlbIdleTime: LoadLongWord(r, key, ctx.Global.IDLE_TIME); break;
            case GlbStopSelfReading: {
                bool stop = !ctx.Global.PrstynekRun;
                if (LoadSwitch(ctx, r, key, stop)) ctx.Global.PrstynekRun = !stop;
                break;
            }
            case GlbCucPath: {
                Str255 path;
                if (LoadString(ctx, r, key, path, !FileNamesIgnoreCase())) ctx.Global.CUC_PATH = CucDirectory(path);
                break;
            }
            case GlbStayInQueue: LoadSwitch(ctx, r, key, ctx.Global.STAY_IN_QUEUE_ON_TIMEOUT); break;
            case GlbLogFile: LoadString(ctx, r, key, ctx.Log.LogFileName, !FileNamesIgnoreCase()); break;
            case GlbBeep: {
                bool beep = ctx.Global.BEEP;
                if (LoadSwitch(ctx, r, key, beep)) ctx.Global.BEEP = beep;
                break;
            }
            default: break;
        }
        NoteBadValue(r, badBefore, group, 0, kGlobalKeyTable[key - 1].Name);
    }
    if (!ended) {
        AddNote(r, ParNoteKind::MissingEnd, group, 0, "", "", r.GroupPos);
        SetMissingEndError(ctx, group);
        return GroupResult::Failed;
    }
    if (const int missing = FirstKeyNotLoaded(r, kGlobalKeys)) {
        NoteMissingKeys(r, kGlobalKeyTable, kGlobalKeys, group, 0);
        SetBadKeyError(ctx, kGlobalKeyTable[missing - 1].Name, group);
        return GroupResult::Failed;
    }
    return GroupResult::Loaded;
}

// The file's bytes up to its first Ctrl-Z; false when it cannot be opened or read.
bool ReadParameterFile(const std::string& name, std::string& bytes, bool& opened) {
    opened = false;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    opened = true;
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
        const std::string_view part(chunk, n);
        const auto ctrlZ = part.find('\x1A');
        bytes.append(part.substr(0, ctrlZ));
        if (ctrlZ != std::string_view::npos) break;
        if (n < sizeof chunk) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    return ok;
}

}  // namespace

Str255 ModemText(std::string_view raw) {
    Str255 out;
    for (const char c : raw) out.append(c == '#' ? '\r' : (c == '@' ? '\n' : c));
    return out;
}

bool LoadModem(const ConfigContext& ctx, ParReader& r) {
    ModemRecord& m = ctx.Modem;
    // Every modem field to its default.
    ctx.ErrorText[0] = '\0';
    ModemReset(m);
    m.AnswerBlock.ExpectedReply = m.DialBlock.ExpectedReply;  // CONNECT_OK serves both
    m.RingText.clear();
    WriteLog(ctx.Log, "load modem", "init+start");
    // No key is mandatory.
    for (int k = 1; k <= kModemKeys; ++k) r.KeyLoaded[static_cast<std::size_t>(k)] = true;
    // The keys up to END.
    for (;;) {
        WriteLog(ctx.Log, "Find Item", "Begin");
        NextItem(ctx, r);
        const int key = FindKey(r, kModemKeyTable, kModemKeys);
        if (key == 0) {
            if (r.Item.empty()) {  // no END: not an error here
                AddNote(r, ParNoteKind::MissingEnd, "[MODEM]", 0, "", "", r.GroupPos);
                break;
            }
            NoteUnmatched(r, "[MODEM]", 0);
            continue;
        }
        WriteLog(ctx.Log, "value index", Fmt("%2d", key));
        if (key == ModEnd) break;
        NoteKey(r, "[MODEM]", 0, kModemKeyTable[key - 1].Name);
        const int badBefore = r.BadValues;
        NextItem(ctx, r);
        const Str255 text = ModemText(r.RawItem);
        switch (key) {
            case ModInit: m.InitBlock.Command = text; break;
            case ModInitOk: m.InitBlock.ExpectedReply = text; break;
            case ModInitTime: LoadReal(r, key, m.InitBlock.Limit); break;
            case ModConnect: m.DialBlock.Command = text; break;
            case ModConnectEndchar: m.DialSuffix = text; break;
            case ModConnectOk:
                m.DialBlock.ExpectedReply = text;
                m.AnswerBlock.ExpectedReply = text;
                break;
            case ModConnectTime: LoadReal(r, key, m.DialBlock.Limit); break;
            case ModLineoff: m.HangupBlock.Command = text; break;
            case ModLineoffOk: m.HangupBlock.ExpectedReply = text; break;
            case ModLineoffTime: LoadReal(r, key, m.HangupBlock.Limit); break;
            case ModConnectAnswer: m.AnswerBlock.Command = text; break;
            case ModConnectRing: m.RingText = text; break;
            case ModRingCount: LoadByte(r, key, m.RingsToAnswer); break;
            case ModRingTime: LoadReal(r, key, m.RingTimeout); break;
            case ModAnswerTime: LoadReal(r, key, m.AnswerBlock.Limit); break;
            default: break;
        }
        NoteBadValue(r, badBefore, "[MODEM]", 0, kModemKeyTable[key - 1].Name);
    }
    // The group always loads.
    WriteLog(ctx.Log, "load modem - end msg", "");
    WriteLog(ctx.Log, "load", "OK");
    return true;
}

bool LoadParameterText(const ConfigContext& ctx, std::string_view bytes, ParDiagnostics* diag) {
    ParReader r(bytes);
    r.Diag = diag;
    bool ok = true;

    // [COM]: a missing group fails the load, but the search goes on (and ends at once).
    WriteLog(ctx.Log, "Load", "COM");
    const GroupResult com = LoadCom(ctx, r);
    if (com == GroupResult::Failed) return false;
    if (com == GroupResult::Missing) ok = false;

    // [MODEM]
    WriteLog(ctx.Log, "Load", "MODEM");
    SetGroupPos(ctx, r, "[MODEM]");
    if (!r.GroupMissing) LoadModem(ctx, r);

    // [GLOBAL]
    WriteLog(ctx.Log, "Load", "GLOBAL");
    if (LoadGlobal(ctx, r) != GroupResult::Loaded) return false;
    if (!ok) return false;
    AddEventLine(ctx.Window, text::kGlobalOk);

    // The stations.
    LoadStations(ctx, r);
    WriteLog(ctx.Log, "LoadParameterFile", "LoadStations END");
    if (r.GroupMissing) return false;
    WriteLog(ctx.Log, "LoadParameterFile", "TRUE");
    return true;
}

bool LoadParameterFile(const ConfigContext& ctx, std::mutex& instanceLock, ParDiagnostics* diag) {
    std::string name;
    {
        std::lock_guard lock(instanceLock);
        name = ctx.ParFileName.str();
        WriteLog(ctx.Log, "LoadParameterFile", name);
    }
    std::string bytes;
    bool opened = false;
    const bool read = ReadParameterFile(name, bytes, opened);  // no lock across file I/O
    std::lock_guard lock(instanceLock);
    if (!read) {
        SetParError(ctx, std::string(opened ? text::kParFileReadError : text::kParFileOpenError) + name);
        return false;
    }
    return LoadParameterText(ctx, bytes, diag);
}

}  // namespace zk
