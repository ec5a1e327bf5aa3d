// The host's channel reads (InputRequest, GetInput) and writes (OutputRequest), resolved in
// four tiers: parameter-file items (served here), the fixed system channels and the
// driver-wide channels (reads only; system_channels.cpp), the stations' implicit channels
// (station_channels.cpp). See docs/channels.md for the channel reference.
#include "host/requests.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "zkdrv.h"

#include "base/format.h"
#include "base/texts.h"
#include "host/channels.h"
#include "host/host_value.h"
#include "host/instance.h"
#include "host/station_channels.h"
#include "host/system_channels.h"
#include "line/modem.h"
#include "protocol/encodings.h"
#include "worker/line_commands.h"
#include "worker/pass.h"

namespace zk {

namespace {

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
