// The stations' implicit channels. See docs/channels.md.
#include "host/station_channels.h"

#include <cmath>
#include <cstring>
#include <string>

#include "zkdrv.h"

#include "base/format.h"
#include "base/texts.h"
#include "config/station.h"
#include "diag/log.h"
#include "host/channels.h"
#include "host/host_value.h"
#include "protocol/encodings.h"
#include "protocol/queues.h"
#include "worker/line_commands.h"
#include "worker/pass.h"

namespace zk {

namespace {

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


// The station commands that queue one request, show a label and wake the worker: a true
// written to the channel of `kind` queues `request` (word 1) on the read or write queue and
// shows the station's name with `label`, cut to `cut` characters.
struct StationCommand {
    ChannelKind kind;
    bool write;           // the write queue, else the read queue
    bool needsOnLine;     // only while the station is connected
    bool needsBlock;      // the memory block of the channel is the request's key
    RequestKind request;
    std::string_view label;
    std::size_t cut;
};

constexpr StationCommand kStationCommands[] = {
    {KindOutReadBi, false, false, false, ReqBinaryInputs, text::kLabelBi, 85},
    {KindOutWriteKo, true, true, false, ReqConstantsWrite, text::kLabelKo, 85},
    {KindOutReadAiMorvel, false, true, false, ReqAnalogMorvel, text::kLabelAiKolmet, 92},
    {KindOutReadAi, false, true, false, ReqAnalogArea, text::kLabelAiTervak, 92},
    {KindOutReadCt, false, true, false, ReqCounters, text::kLabelCt, 85},
    {KindOutWriteBo, true, true, false, ReqBinaryOutputs, text::kLabelBo, 85},
    {KindMemoryBlockRead, false, false, true, ReqBlockRead, text::kLabelMemoryBlock, 106},
};

const StationCommand* FindStationCommand(int kind) {
    for (const StationCommand& c : kStationCommands)
        if (c.kind == kind) return &c;
    return nullptr;
}

}  // namespace

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

    if (const StationCommand* c = FindStationCommand(hit.Kind)) {
        if (!flagType || (c->needsOnLine && !s.OnLine) || (c->needsBlock && !hit.Block)) return 0;
        AppendRequest(c->write ? ctx.WriteQueue : ctx.ReadQueue, station, c->request, 1, {},
                      c->needsBlock ? hit.Block : nullptr);
        show(c->label, c->cut);
        Resume(rec);
        return 0;
    }

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

}  // namespace zk
