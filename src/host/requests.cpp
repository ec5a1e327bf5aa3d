// The host's channel reads (InputRequest, GetInput) and writes (OutputRequest), resolved in
// four tiers: parameter-file items, the fixed system channels, the stations' implicit channels
// and the driver-wide channels (reads only). See docs/channels.md for the channel reference.
#include "host/requests.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "zkdrv.h"

#include "base/format.h"
#include "base/texts.h"
#include "diag/log.h"
#include "history/history.h"
#include "host/channel_numbers.h"
#include "host/channels.h"
#include "host/commands.h"
#include "host/instance.h"
#include "line/modem.h"
#include "platform/platform.h"
#include "protocol/encodings.h"
#include "worker/drv_thread.h"
#include "worker/line_commands.h"
#include "worker/pass.h"

namespace zk {

namespace {

// True while the worker serves the line. Before Init, after a failed Init and after Done,
// modem commands and port work are not taken: nobody would carry them out, and a later Init
// would find them waiting.
bool LineServed(const DriverRecord& rec) { return rec.Running.load(); }

// ---- The host's value -----------------------------------------------------------------------

template <typename T>
void Put(ZkHostValue& v, T x) {
    static_assert(sizeof x <= sizeof v.value);
    std::memcpy(v.value, &x, sizeof x);
}

bool Is(const ZkHostValue& v, HostType t) { return static_cast<std::uint32_t>(v.type) == t; }

// The host's text buffer of a type-11 value (a native pointer at the start of the value area).
char* TextBuffer(const ZkHostValue& v) {
    char* p = nullptr;
    std::memcpy(&p, v.value, sizeof p);
    return p;
}

// The 8 bytes that OutputRequest receives, little-endian, read as each host type.
struct HostBits {
    std::uint64_t raw;
    std::uint8_t U8() const { return static_cast<std::uint8_t>(raw); }
    std::int8_t I8() const { return static_cast<std::int8_t>(U8()); }
    std::uint16_t U16() const { return static_cast<std::uint16_t>(raw); }
    std::int16_t I16() const { return static_cast<std::int16_t>(U16()); }
    std::uint32_t U32() const { return static_cast<std::uint32_t>(raw); }
    std::int32_t I32() const { return static_cast<std::int32_t>(U32()); }
    float F32() const { return std::bit_cast<float>(U32()); }
    double F64() const { return std::bit_cast<double>(raw); }
    bool Flag() const { return U8() != 0; }
};

// Wakes the worker so that a queued request goes out without waiting for the end of its pause.
void Resume(DriverRecord& rec) { rec.Wake.Raise(); }

// A station's name and a label, cut together to `cut` characters, for an event line.
Str255 NameLine(const StationRecord& s, std::string_view label, std::size_t cut) {
    std::string line = s.Name.str();
    line.append(label);
    return Str255(Cut(line, cut));
}

TextRow* CurrentRow(DriverContext& ctx) {
    if (!ctx.Table.TextTable || ctx.Table.TableRow < 1 || ctx.Table.TableRow > kTableRows) return nullptr;
    return &ctx.Table.TextTable[ctx.Table.TableRow - 1u];
}

// The history record the host browses, when it can be browsed.
const std::uint8_t* BrowsedRecord(DriverContext& ctx) {
    const StationRecord* s = DefinedStation(ctx, ctx.History.HdbStation);
    if (!s || !s->Hdb || ctx.History.HdbFlag.load() || ctx.History.HdbUserPos >= kHdbRecords) return nullptr;
    return s->Hdb.get() + static_cast<std::size_t>(ctx.History.HdbUserPos) * kHdbRecordSize;
}

void RereadHistoryPosition(DriverContext& ctx) {
    if (BrowsedRecord(ctx)) ShowHistoryRecord(HistoryOf(ctx));
}

// ---- GetInput ------------------------------------------------------------------------------

void GetParameterChannel(const ChannelItem& item, ZkHostValue& v) {
    switch (static_cast<std::uint32_t>(v.type)) {
        case HostBoolean: Put<std::uint8_t>(v, item.Value == 1.0f ? 1 : 0); break;
        case HostU8:
        case HostI8: Put(v, TruncLow8(item.Value)); break;
        case HostU16:
        case HostI16: Put(v, TruncLow16(item.Value)); break;
        case HostU32: Put(v, TruncLow32(item.Value)); break;
        case HostI32: Put(v, item.RawValue); break;
        case HostFloat: Put(v, item.Value); break;
        case HostDouble: Put(v, static_cast<double>(item.Value)); break;
        case HostText:
            if (char* p = TextBuffer(v)) {
                // The 33 characters of the text; places past its end read as NUL.
                for (std::size_t k = 0; k < 33; ++k) p[k] = k < item.Text.size() ? item.Text[k] : '\0';
            }
            break;
        default: break;
    }
}

enum class SystemRead { NotSystem, Handled, Continue };

SystemRead GetSystemChannel(DriverRecord& rec, std::uint16_t ch, ZkHostValue& v) {
    DriverContext& ctx = *rec.Context;
    if (ch >= channel::kRowStateFirst && ch <= channel::kRowStateLast) {
        if (Is(v, HostU8))
            if (const TextRow* row = CurrentRow(ctx)) Put(v, row->State[ch - channel::kRowStateFirst]);
        return SystemRead::Handled;
    }
    if (ch >= channel::kRowCellFirst && ch <= channel::kRowCellLast) {
        if (Is(v, HostDouble))
            if (const TextRow* row = CurrentRow(ctx)) Put(v, StationRealToFloat(row->Cells[ch - channel::kRowCellFirst].view()));
        return SystemRead::Handled;
    }
    if (ch >= channel::kRowBitFirst && ch <= channel::kRowBitLast) {
        if (Is(v, HostBoolean))
            if (const TextRow* row = CurrentRow(ctx)) {
                const unsigned k = ch - channel::kRowBitFirst;
                const auto& cell = row->Cells[k / 24];
                const unsigned byte = (k % 24) / 8;
                const std::uint8_t b = byte < cell.size() ? cell.byte(byte) : 0;
                Put<std::uint8_t>(v, BitOfByte(b, (k % 24) % 8) ? 1 : 0);
            }
        return SystemRead::Handled;
    }
    if (ch >= channel::kHdbDateFirst && ch <= channel::kHdbDateLast) {
        if (Is(v, HostU16)) Put(v, ctx.History.HdbDate[ch - channel::kHdbDateFirst]);
        return SystemRead::Handled;
    }
    if (ch >= channel::kHdbRecordWord && ch <= channel::kHdbRecordValue) {
        const std::uint8_t* r = BrowsedRecord(ctx);
        if (!r) return SystemRead::Handled;
        if (ch == channel::kHdbRecordWord && Is(v, HostU16)) {
            std::uint16_t w;
            std::memcpy(&w, r, sizeof w);
            Put(v, w);
        } else if (ch == channel::kHdbRecordStamp && Is(v, HostU32)) {
            std::uint32_t d;
            std::memcpy(&d, r + 2, sizeof d);
            Put(v, d);
        } else if (ch == channel::kHdbRecordValue && Is(v, HostFloat)) {
            std::uint32_t bits;
            std::memcpy(&bits, r + 6, sizeof bits);
            Put(v, ToFloat32(IeeeSingleToFloat(bits, -1.0)));
        }
        return SystemRead::Handled;
    }
    switch (ch) {
        case channel::kTableReading: if (Is(v, HostBoolean)) Put<std::uint8_t>(v, ctx.Table.MbActive.load()); break;
        case channel::kTableSaved: if (Is(v, HostBoolean)) Put<std::uint8_t>(v, ctx.Table.MbFileFlag); break;
        case channel::kModemReady: if (Is(v, HostBoolean)) Put<std::uint8_t>(v, ctx.Modem.ModemReady.load()); break;
        case channel::kPassInterval: if (Is(v, HostDouble)) Put(v, ctx.Timing.PassInterval.load()); break;
        case channel::kHdbStation: if (Is(v, HostI16)) Put(v, static_cast<std::uint16_t>(ctx.History.HdbStation)); break;
        case channel::kHdbArchive: if (Is(v, HostI16)) Put(v, static_cast<std::uint16_t>(ctx.History.HdbNumber)); break;
        case channel::kHdbReadPosition: if (Is(v, HostU32)) Put(v, static_cast<std::uint32_t>(ctx.History.HdbWritePos)); break;
        case channel::kHdbWritePosition: if (Is(v, HostU32)) Put(v, static_cast<std::uint32_t>(ctx.History.HdbTop)); break;
        case channel::kHdbReadState: if (Is(v, HostI16)) Put(v, static_cast<std::uint16_t>(ctx.History.HdbReadState)); break;
        case channel::kHdbReadTime: if (Is(v, HostDouble)) Put(v, ctx.History.HdbReadTime); break;
        case channel::kHdbReadTimeout: if (Is(v, HostDouble)) Put(v, ctx.History.HdbReadTimeout); break;
        case channel::kHdbItem13: if (Is(v, HostI32)) Put(v, ctx.History.HdbItem13); break;
        case channel::kHdbCapacity: if (Is(v, HostI32)) Put(v, ctx.History.HdbCapacity); break;
        case channel::kHdbBrowse: if (Is(v, HostU16)) Put(v, ctx.History.HdbUserPos); break;
        case channel::kHostBuffer:
            // The shared buffer's descriptor: kind, number, address, without gaps.
            if (Is(v, HostBuffer)) {
                const std::uint8_t kind = 9;
                const std::uint16_t number = 66;
                std::uint8_t* address = ctx.HostBuffer;
                static_assert(1 + sizeof number + sizeof address <= sizeof v.value);
                std::memcpy(v.value, &kind, 1);
                std::memcpy(v.value + 1, &number, sizeof number);
                std::memcpy(v.value + 1 + sizeof number, &address, sizeof address);
            }
            return SystemRead::Continue;
        case channel::kTestValue: if (Is(v, HostDouble)) Put(v, ctx.TestValue); break;
        case channel::kTestChannel: if (Is(v, HostDouble)) Put(v, static_cast<double>(ctx.TestChannel)); break;
        case channel::kTestFlag: if (Is(v, HostBoolean)) Put<std::uint8_t>(v, ctx.TestFlag); break;
        default: return SystemRead::NotSystem;
    }
    return SystemRead::Handled;
}

void GetMemoryElement(const MemoryBlock& block, int i, ZkHostValue& v) {
    if (i < 1 || static_cast<std::size_t>(i) > block.Types.size()) return;
    const auto& cell = block.Cells[static_cast<std::size_t>(i - 1)];
    std::uint8_t bytes[4] = {};
    for (std::size_t k = 0; k < cell.size() && k < 4; ++k) bytes[k] = cell.byte(k);
    struct Delivery {
        HostType type;
        std::size_t size;
    };
    static constexpr Delivery kByElement[] = {{HostU8, 1}, {HostU16, 2}, {HostI16, 2}, {HostU32, 4}, {HostI32, 4}};
    const std::uint8_t etype = block.Types.byte(static_cast<std::size_t>(i - 1));
    if (etype >= QqByte && etype <= QqLongint) {
        const Delivery d = kByElement[etype - 1];
        if (Is(v, d.type)) std::memcpy(v.value, bytes, d.size);
    } else if (etype == QqReal && Is(v, HostDouble)) {
        Put(v, StationRealToFloat(std::string_view(reinterpret_cast<const char*>(bytes), 3)));
    }
}

void GetStationChannel(DriverContext& ctx, const StationChannel& hit, ZkHostValue& v) {
    StationRecord* sp = ctx.Stations[static_cast<std::size_t>(hit.Station)].get();
    if (!sp) return;
    StationRecord& s = *sp;
    const auto i = static_cast<std::size_t>(hit.Index);
    auto flag = [&](bool b) {
        if (Is(v, HostBoolean)) Put<std::uint8_t>(v, b ? 1 : 0);
    };
    auto real = [&](double d) {
        if (Is(v, HostDouble)) Put(v, d);
    };
    // The range test keeps i within the group's count; the checks below keep it within the image.
    switch (hit.Kind) {
        case KindBinaryIn: if (i < s.BinaryIn.size()) flag(s.BinaryIn[i] != s.InvertIn[i]); break;
        case KindBinaryOut: if (i < s.BinaryOut.size()) flag(s.BinaryOut[i]); break;
        case KindAnalog: if (i < s.Analog.size()) real(s.Analog[i]); break;
        case KindCounter: if (i < s.Counters.size()) real(s.Counters[i].Value); break;
        case KindMemoryIn: if (i < s.MemoryIn.size()) real(s.MemoryIn[i].Value); break;
        case KindMemoryOut: if (i < s.MemoryOut.size()) real(s.MemoryOut[i].Value); break;
        case KindErrorNoAnswer: real(s.TimeoutCount); break;
        case KindMsgCounter: real(s.RequestCount); break;
        case KindErrorInMess: real(s.ErrorReportCount); break;
        case KindSilenceTime: real(s.ElapsedTime); break;
        case KindSleepTime: real(s.SleepLeft); break;
        case KindErrCount: real(s.ErrorCount); break;
        case KindVideo:
            if (Is(v, HostText) && i >= 1 && i <= s.DisplayLines.size())
                if (char* p = TextBuffer(v)) {
                    const auto& line = s.DisplayLines[i - 1];
                    const std::size_t n = strnlen(line.data(), line.size() - 1);
                    std::memcpy(p, line.data(), n);
                    p[n] = '\0';
                }
            break;
        case KindInNowComm: flag(s.AwaitingAnswer); break;
        case KindInLastComErr: flag(s.Unreachable); break;
        case KindInConnectingModem: flag(s.DialRequested); break;
        case KindInConnectedModem: flag(s.OnLine); break;
        case KindBiNewBi:
        case KindBiNewAi:
        case KindBiNewCt:
        case KindBiNewMi:
        case KindBiNewErrControl:
        case KindInActiveMessage: flag(*StatusFlagOfKind(s, hit.Kind)); break;
        case KindMemoryElement: if (hit.Block) GetMemoryElement(*hit.Block, hit.Index, v); break;
        case KindNameChannel:
            if (Is(v, HostText))
                if (char* p = TextBuffer(v)) {
                    std::memcpy(p, s.Name.data, s.Name.size());
                    p[s.Name.size()] = '\0';
                }
            break;
        case KindCallCode: if (Is(v, HostU32)) Put(v, s.CallCode); break;
        default: break;  // the kinds that only OutputRequest serves
    }
}

void GetDriverChannel(DriverContext& ctx, std::uint16_t ch, ZkHostValue& v) {
    if (ch == channel::kHeapInUse) {
        if (Is(v, HostI32)) {
            const std::int64_t bytes = HeapBytesInUse();
            Put(v, static_cast<std::int32_t>(std::clamp<std::int64_t>(bytes, 0, INT32_MAX)));
        }
        return;
    }
    if (!Is(v, HostDouble)) return;
    switch (ch) {
        case channel::kMessagesSent: Put(v, ctx.SentCount.load()); break;
        case channel::kZero: Put(v, 0.0); break;
        case channel::kSinceAnswer: Put(v, ctx.SinceAnswer.load()); break;
        case channel::kRequestsWaiting: Put(v, static_cast<double>(CountRequests(ctx.ReadQueue) + CountRequests(ctx.WriteQueue))); break;
        case channel::kOutstandingKind: Put(v, static_cast<double>(ctx.Scheduler.OutKind.load())); break;
        case channel::kFullSleepLeft: Put(v, ctx.Scheduler.FullSleepLeft.load()); break;
        case channel::kFramesSeen: Put(v, ctx.Framing.ReceivedCount.load()); break;
        case channel::kOutstandingStation: Put(v, static_cast<double>(ctx.Scheduler.OutStation.load())); break;
        case channel::kTxState: Put(v, static_cast<double>(static_cast<std::uint8_t>(ctx.Scheduler.TxState.load()))); break;
        case channel::kWritesWaiting: Put(v, static_cast<double>(CountRequests(ctx.WriteQueue))); break;
        case channel::kFramesAccepted: Put(v, ctx.Framing.AcceptedCount.load()); break;
        case channel::kSinceTransmit: Put(v, ctx.SinceTransmit.load()); break;
        default: break;  // 487 and unknown numbers: nothing
    }
}

// ---- OutputRequest -------------------------------------------------------------------------

void OutputParameterChannel(DriverRecord& rec, const ParamChannel& hit, std::uint32_t type, HostBits b) {
    DriverContext& ctx = *rec.Context;
    ChannelItem& item = *hit.Item;
    switch (type) {
        case HostBoolean: item.Value = static_cast<float>(b.I8()); break;
        case HostU8: item.Value = static_cast<float>(b.U8()); break;
        case HostU16: item.Value = static_cast<float>(b.U16()); break;
        case HostU32: item.Value = static_cast<float>(b.U32()); break;
        case HostI8: item.Value = static_cast<float>(b.I8()); break;
        case HostI16: item.Value = static_cast<float>(b.I16()); break;
        case HostI32: item.RawValue = b.I32(); break;
        case HostFloat: item.Value = b.F32(); break;
        case HostDouble: item.Value = ToFloat32(b.F64()); break;
        default: return;
    }
    if (const StationRecord* s = ctx.Stations[static_cast<std::size_t>(hit.Station)].get()) {
        Str255 line = NameLine(*s, text::kLabelQqWrite, 86);
        line += ByteToHex(item.Address[0]);
        line += '.';
        line += ByteToHex(item.Address[1]);
        line += '.';
        line += ByteToHex(item.Address[2]);
        line += "]=";
        line += FormatReal(1, 2, item.Value);
        Show(rec, line);
    }
    QueueChannelWrite(ctx, item, hit.Station);
    Resume(rec);
}

// Tier 2. False when the number is no system channel for output.
bool OutputSystemChannel(DriverRecord& rec, std::uint16_t ch, std::uint32_t type, HostBits b, PortActions& port) {
    DriverContext& ctx = *rec.Context;
    auto is = [type](HostType t) { return type == t; };
    switch (ch) {
        case channel::kMessagesSent:
            // A counter held as a finite real: NaN and infinities are refused.
            if (is(HostDouble) && std::isfinite(b.F64())) ctx.SentCount = b.F64();
            break;
        case channel::kSuspendInputs: if (is(HostBoolean)) ctx.InputsSuspended = b.Flag(); break;
        case channel::kTableStation: if (is(HostU8)) ctx.Table.MbRequestStation = b.U8(); break;
        case channel::kTableKind: if (is(HostU8)) ctx.Table.MbKindIndex = b.U8() >= 1 && b.U8() <= 3 ? b.U8() : 1; break;
        case channel::kTableRow: if (is(HostU16)) ctx.Table.TableRow = b.U16() >= 1 && b.U16() <= kTableRows ? b.U16() : 1; break;
        case channel::kTableRead:
            if (is(HostBoolean)) {
                if (ctx.Table.TextTable) {
                    const StationReal zero = FloatToStationReal(0.0);
                    for (int r = 0; r < kTableRows; ++r) {
                        TextRow& row = ctx.Table.TextTable[static_cast<std::size_t>(r)];
                        std::memset(row.State, 0, sizeof row.State);
                        for (auto& cell : row.Cells) cell.assign(zero.view());
                    }
                }
                StartMemoryBlockRead(ctx);
            }
            break;
        case channel::kTableSave: if (is(HostBoolean)) SaveMemoryBlockFile(ctx); break;
        case channel::kTableSaved: if (is(HostBoolean)) ctx.Table.MbFileFlag = b.Flag(); break;
        case channel::kTableAltKinds: if (is(HostBoolean)) ctx.Table.MbAltKinds = b.Flag(); break;
        case channel::kModemInit:
            if (is(HostBoolean) && b.U8() == 1 && LineServed(rec)) {
                Show(rec, text::kModemInitStart);
                QueueModemCommand(ctx.Modem, ModemInit, ctx.Modem.InitBlock, {}, {});
                ctx.Modem.ModemInitRequest = false;  // this one does it: the modem is not initialised twice
                port.Reopen = ctx.PortLost;
            }
            break;
        case channel::kHangUp:
            if (is(HostBoolean) && b.U8() == 1 && LineServed(rec)) {
                Show(rec, text::kHangUpStart);
                HangUp(ctx, port);
            }
            break;
        case channel::kBeep: if (is(HostBoolean)) ctx.Global.BEEP = b.Flag(); break;
        case channel::kHdbStation:
            if (is(HostI16) && ChooseHistoryStation(ctx.History, b.I16(), ctx.StationCount)) RereadHistoryPosition(ctx);
            break;
        case channel::kHdbArchive:
            if (is(HostI16)) ChooseHistoryArchive(ctx.History, b.I16());
            break;
        case channel::kHdbReadTimeout:
            if (is(HostDouble) && std::isfinite(b.F64())) ctx.History.HdbReadTimeout = b.F64();
            break;
        case channel::kHdbStart:
            if (is(HostBoolean) && StartHistoryReadOut(HistoryOf(ctx))) {
                Show(rec, text::kHdbReadStart);
                Resume(rec);
            }
            break;
        case channel::kHdbInterrupt:
            if (is(HostBoolean) && InterruptHistoryReadOut(ctx.History)) {
                Show(rec, text::kHdbReadInterrupted);
                ClearQueues(ctx, port);
            }
            break;
        case channel::kHdbBrowse:
            if (is(HostU16)) {
                ctx.History.HdbUserPos = b.U16();
                RereadHistoryPosition(ctx);
            }
            break;
        case channel::kHdbSaveAll:
            if (is(HostBoolean))
                for (int n = 1; n <= kMaxStations; ++n)
                    if (const StationRecord* s = ctx.Stations[static_cast<std::size_t>(n)].get(); s && s->Hdb)
                        SaveHistory(HistoryOf(ctx), n);
            break;
        case channel::kClearQueues: if (is(HostBoolean)) ClearQueues(ctx, port); break;
        case channel::kTestValue:
            // The value goes into the image's reals: NaN and infinities are refused.
            if (is(HostDouble) && std::isfinite(b.F64())) ctx.TestValue = b.F64();
            break;
        case channel::kTestChannel: if (is(HostDouble)) ctx.TestChannel = TruncLow16(b.F64()); break;
        case channel::kTestFlag:
            if (is(HostBoolean)) {
                ctx.TestFlag = b.Flag();
                if (ctx.TestFlag) InjectTestValue(ctx);
            }
            break;
        default: return false;
    }
    return true;
}

// True when a dial for station `s` would go out inside a live call or beside another dial:
// the station, or a station with the same telephone number, is connected or has its dial
// queued or under way.
bool ConnectedOrDialling(const DriverContext& ctx, const StationRecord& s) {
    if (s.OnLine || s.DialRequested) return true;
    if (s.PhoneNumber.empty()) return false;
    for (int n = 1; n <= ctx.StationCount && n <= kMaxStations; ++n) {
        const StationRecord* other = ctx.Stations[static_cast<std::size_t>(n)].get();
        if (other && other->PhoneNumber == s.PhoneNumber && (other->OnLine || other->DialRequested)) return true;
    }
    return false;
}

// Tier 3. Returns the station to dial (kind 29 with true), else 0.
int OutputStationChannel(DriverRecord& rec, const StationChannel& hit, std::uint32_t type, HostBits b,
                         PortActions& port) {
    DriverContext& ctx = *rec.Context;
    StationRecord* sp = ctx.Stations[static_cast<std::size_t>(hit.Station)].get();
    if (!sp) return 0;
    StationRecord& s = *sp;
    const auto station = static_cast<std::uint8_t>(hit.Station);
    const int i = hit.Index;
    const auto ui = static_cast<std::size_t>(i);
    auto write = [&](std::int32_t kind, std::uint16_t word) {
        AppendRequest(ctx.WriteQueue, station, kind, word, {}, nullptr);
    };
    auto read = [&](std::int32_t kind, std::uint16_t word) {
        AppendRequest(ctx.ReadQueue, station, kind, word, {}, nullptr);
    };
    auto show = [&](std::string_view label, std::size_t cut, std::string_view rest = {}) {
        Str255 line = NameLine(s, label, cut);
        line += rest;
        Show(rec, line);
    };
    const bool flagType = type == HostBoolean;
    const bool realType = type == HostDouble;

    switch (hit.Kind) {
        case KindBinaryOut:
            if (flagType && i <= s.NumBinarOut && ui < s.BinaryOut.size() && b.Flag() != s.BinaryOut[ui]) {
                s.BinaryOut[ui] = b.Flag();
                show(text::kLabelBo, 85, std::to_string(i) + "=" + (b.Flag() ? "1" : "0"));
                if (s.PhoneNumber.empty()) write(ReqBinaryOutputs, 1);
                Resume(rec);
            }
            break;
        case KindMemoryOut:
            // A finite real only: the image keeps no NaN or infinity.
            if (realType && std::isfinite(b.F64()) && i <= s.NumMemoryOut && ui < s.MemoryOut.size() &&
                b.F64() != s.MemoryOut[ui].Value) {
                s.MemoryOut[ui].Value = b.F64();
                show(text::kLabelMo, 85, std::to_string(i) + "=" + FormatReal(1, 2, b.F64()));
                if (s.OnLine) write(ReqMemoryWrite, static_cast<std::uint16_t>(i));
                Resume(rec);
            }
            break;
        case KindCounter:
            if (realType && std::isfinite(b.F64()) && i <= s.NumCounterIn && ui < s.Counters.size())
                s.Counters[ui].Value = b.F64();
            break;
        case KindOutWriteAllBoMo:
            if (flagType && s.OnLine) {
                if (s.NumBinarOut > 0) {
                    write(ReqBinaryOutputs, 1);
                    Resume(rec);
                }
                for (int j = 1; j <= s.NumMemoryOut; ++j) {
                    write(ReqMemoryWrite, static_cast<std::uint16_t>(j));
                    Resume(rec);
                }
                WriteLog(ctx.Log, "Stanice no." + std::to_string(hit.Station), "reinit BO+MO");
            }
            break;
        case KindOutReadBi:
            if (flagType) {
                read(ReqBinaryInputs, 1);
                show(text::kLabelBi, 85);
                Resume(rec);
            }
            break;
        case KindOutReadKi:
            if (flagType && s.OnLine) {
                if (s.KiFlag) {
                    read(ReqConstantsRead, 1);
                    show(text::kLabelKi, 85);
                } else {
                    if (s.WholeBlockRead) read(ReqMemoryRead, 1);
                    else
                        for (int j = 1; j <= s.NumMemoryIn; ++j) read(ReqMemoryRead, static_cast<std::uint16_t>(j));
                    show(text::kLabelMiSeparator, 83, Fmt("%2d", static_cast<int>(s.NumMemoryIn)) + std::string(text::kLabelMiSuffix));
                }
                Resume(rec);
            }
            break;
        case KindOutWriteKo:
            if (flagType && s.OnLine) {
                write(ReqConstantsWrite, 1);
                show(text::kLabelKo, 85);
                Resume(rec);
            }
            break;
        case KindOutReadAiMorvel:
            if (flagType && s.OnLine) {
                read(ReqAnalogMorvel, 1);
                show(text::kLabelAiKolmet, 92);
                Resume(rec);
            }
            break;
        case KindOutReadAi:
            if (flagType && s.OnLine) {
                read(ReqAnalogArea, 1);
                show(text::kLabelAiTervak, 92);
                Resume(rec);
            }
            break;
        case KindOutReadCt:
            if (flagType && s.OnLine) {
                read(ReqCounters, 1);
                show(text::kLabelCt, 85);
                Resume(rec);
            }
            break;
        case KindOutWriteBo:
            if (flagType && s.OnLine) {
                write(ReqBinaryOutputs, 1);
                show(text::kLabelBo, 85);
                Resume(rec);
            }
            break;
        case KindBiNewBi:
        case KindBiNewAi:
        case KindBiNewCt:
        case KindBiNewMi:
        case KindBiNewErrControl:
        case KindInActiveMessage:
            if (flagType) *StatusFlagOfKind(s, hit.Kind) = b.Flag();
            break;
        case KindOutConnectModem:
            if (!flagType || !LineServed(rec)) break;
            if (b.Flag()) {
                if (ConnectedOrDialling(ctx, s)) {
                    WriteLog(ctx.Log, "dial", Fmt("station %d: connected or dialling, no second dial",
                                              static_cast<int>(hit.Station)));
                    break;
                }
                return hit.Station;  // the port is reopened without the lock, then the dial queued
            }
            EmptyQueue(ctx.ReadQueue);
            EmptyQueue(ctx.WriteQueue);
            port.Purge = true;
            ctx.Scheduler.TxState = TxState::Choose;
            if (const int waiting = HangUp(ctx, port); waiting > 0) {
                Resume(rec);
                StationRecord& w = *ctx.Stations[static_cast<std::size_t>(waiting)];
                w.DialRequested = false;
                w.OnLine = false;
                w.Unreachable = true;
            } else {
                Resume(rec);
            }
            break;
        case KindMemoryElement: {
            MemoryBlock* block = hit.Block;
            if (!block || i < 1 || ui > block->Types.size()) break;
            const std::uint8_t direction = block->Directions.size() >= ui ? block->Directions.byte(ui - 1) : 0;
            if (direction != ElemOutput && direction != ElemBidir) break;
            const std::uint8_t etype = block->Types.byte(ui - 1);
            auto& cell = block->Cells[ui - 1];
            static constexpr HostType kHostOf[] = {HostU8, HostU16, HostI16, HostU32, HostI32, HostDouble};
            if (etype < QqByte || etype > QqReal) break;
            if (type == kHostOf[etype - 1]) {
                if (etype == QqReal) {
                    cell.assign(FloatToStationReal(b.F64()).view());
                } else {
                    const std::uint64_t raw = b.raw;
                    char bytes[8];
                    std::memcpy(bytes, &raw, sizeof bytes);  // little-endian, as the host passed it
                    cell.assign(std::string_view(bytes, ElementSize(etype)));
                }
            }
            if (s.OnLine) {
                AppendRequest(ctx.WriteQueue, station, ReqBlockItemWrite, static_cast<std::uint16_t>(i), cell.view(), block);
                Resume(rec);
            }
            break;
        }
        case KindMemoryBlockRead:
            if (flagType && hit.Block) {
                AppendRequest(ctx.ReadQueue, station, ReqBlockRead, 1, {}, hit.Block);
                show(text::kLabelMemoryBlock, 106);
                Resume(rec);
            }
            break;
        case KindErrorNoAnswer:
            if (realType) {
                s.TimeoutCount = TruncLow32(b.F64());
                show(text::kLabelSetTimeouts, 110, std::to_string(s.TimeoutCount));
            }
            break;
        case KindMsgCounter:
            if (realType) {
                s.RequestCount = TruncLow32(b.F64());
                show(text::kLabelSetMessages, 111, std::to_string(s.RequestCount));
            }
            break;
        case KindCallCode:
            if (type == HostU32) {
                s.CallCode = b.U32();
                show(text::kLabelSetCallCode, 107, std::to_string(s.CallCode));
            }
            break;
        default: break;
    }
    return 0;
}

}  // namespace

// ---- Queue helpers ---------------------------------------------------------------------------

bool IsReadQueued(const DriverContext& ctx, int station, const ChannelItem& item) {
    return IsAddressQueued(ctx.ReadQueue, static_cast<std::uint8_t>(station), item.Address);
}

void QueueChannelRead(DriverContext& ctx, const ChannelItem& item, int station) {
    const int reads = item.Type == QqString ? 8 : 1;
    for (int k = 0; k < reads; ++k) {
        const char address[3] = {static_cast<char>(item.Address[0]), static_cast<char>(item.Address[1]),
                                 static_cast<char>(item.Address[2] + k)};
        AppendRequest(ctx.ReadQueue, static_cast<std::uint8_t>(station), ReqChannelRead, 0,
                      std::string_view(address, 3), nullptr);
    }
}

void QueueChannelWrite(DriverContext& ctx, const ChannelItem& item, int station) {
    std::uint32_t value = 0;
    switch (item.Type) {
        case QqByte:
        case QqWord:
        case QqInteger:
        case QqCardinal: value = TruncLow32(item.Value); break;
        case QqLongint: value = static_cast<std::uint32_t>(item.RawValue); break;
        case QqReal: value = std::bit_cast<std::uint32_t>(item.Value); break;
        case QqString: return;
        default: break;
    }
    char data[7] = {static_cast<char>(item.Address[0]), static_cast<char>(item.Address[1]),
                    static_cast<char>(item.Address[2])};
    for (int k = 0; k < 4; ++k) data[3 + k] = static_cast<char>(value >> (8 * k));
    AppendRequest(ctx.WriteQueue, static_cast<std::uint8_t>(station), ReqChannelWrite, 0, std::string_view(data, 7),
                  nullptr);
}

// ---- Entry points --------------------------------------------------------------------------

void InputRequest(DriverRecord& rec, std::uint16_t channel) {
    if (!rec.Context) return;
    DriverContext& ctx = *rec.Context;
    std::lock_guard lock(ctx.Lock);
    ParamChannel hit;
    if (!FindChannel(ctx, channel, hit) || ctx.InputsSuspended.load()) return;
    const ChannelItem& item = *hit.Item;
    if (item.Direction != DirRead && item.Direction != DirBidir) return;
    const StationRecord* s = ctx.Stations[static_cast<std::size_t>(hit.Station)].get();
    if (s && s->SleepLeft == 0.0 && !IsReadQueued(ctx, hit.Station, item)) QueueChannelRead(ctx, item, hit.Station);
    Resume(rec);
}

void GetInput(DriverRecord& rec, std::uint16_t channel, ZkHostValue& value) {
    if (!rec.Context) return;
    DriverContext& ctx = *rec.Context;
    std::lock_guard lock(ctx.Lock);
    ParamChannel param;
    if (FindChannel(ctx, channel, param)) {
        GetParameterChannel(*param.Item, value);
        return;
    }
    if (GetSystemChannel(rec, channel, value) == SystemRead::Handled) return;
    StationChannel implicit;
    if (ResolveStationChannel(ctx, channel, implicit)) {
        GetStationChannel(ctx, implicit, value);
        return;
    }
    GetDriverChannel(ctx, channel, value);
}

void OutputRequest(DriverRecord& rec, std::uint16_t channel, std::uint32_t type, std::uint64_t value) {
    if (!rec.Context) return;
    DriverContext& ctx = *rec.Context;
    const HostBits bits{value};
    PortActions port;
    int dial = 0;
    {
        std::lock_guard lock(ctx.Lock);
        ParamChannel param;
        StationChannel implicit;
        if (FindChannel(ctx, channel, param)) OutputParameterChannel(rec, param, type, bits);
        else if (OutputSystemChannel(rec, channel, type, bits, port)) {
        } else if (ResolveStationChannel(ctx, channel, implicit)) {
            dial = OutputStationChannel(rec, implicit, type, bits, port);
        }
    }
    // The port is touched only without the lock, and only while the worker runs: after Done
    // (or a failed Init) nothing reopens the port or queues work for a line nobody serves.
    if (!LineServed(rec)) return;
    RunPortActions(rec, port);
    if (dial > 0) {
        // A port that did not open has shown its error; the dial would only wait for it.
        if (!SetupSerialPort(rec)) return;
        std::lock_guard lock(ctx.Lock);
        if (StationRecord* s = DefinedStation(ctx, dial)) {
            QueueDial(ctx.Modem, s->PhoneNumber.view());
            s->DialRequested = true;
            Resume(rec);
        }
    }
}

}  // namespace zk
