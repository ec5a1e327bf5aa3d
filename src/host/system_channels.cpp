// The fixed system channels and the driver-wide channels. See docs/channels.md.
#include "host/system_channels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "zkdrv.h"

#include "base/format.h"
#include "base/texts.h"
#include "history/history.h"
#include "host/channel_numbers.h"
#include "host/commands.h"
#include "host/host_value.h"
#include "line/modem.h"
#include "platform/platform.h"
#include "protocol/encodings.h"
#include "protocol/queues.h"
#include "worker/line_commands.h"
#include "worker/pass.h"

namespace zk {

namespace {

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

}  // namespace

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

}  // namespace zk
