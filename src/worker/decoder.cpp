// The response decoder's apply step. ParseAnswer (protocol/answer.h) reads the frame's items;
// this file finds the station the frame comes from and writes the items into the instance.
#include "worker/decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <variant>

#include "base/format.h"
#include "base/texts.h"
#include "diag/log.h"
#include "history/history.h"
#include "protocol/answer.h"
#include "protocol/encodings.h"

namespace zk {

namespace {

std::uint32_t Le32(const std::uint8_t* v) {
    return v[0] | (static_cast<std::uint32_t>(v[1]) << 8) | (static_cast<std::uint32_t>(v[2]) << 16) |
           (static_cast<std::uint32_t>(v[3]) << 24);
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The counter rule: the raw count times the factor replaces the value (kind 1) or is added to
// it, and then the raw count starts again.
void ApplyCounter(CounterEntry& c) {
    const double increment = c.Factor * c.RawCount;
    if (c.Mode == 1) {
        c.Value = increment;
    } else {
        c.Value += increment;
        c.RawCount = 0;
    }
}

// The request's body (command letters and items) from a stored request frame, found through
// the frame's own length byte behind the configured PREFIX; empty when the text is no frame.
std::string_view RequestBody(const DriverContext& ctx, std::string_view request) {
    const std::size_t p = ctx.Global.PREFIX.size();
    if (request.size() < p + 2) return {};
    const std::size_t length = static_cast<std::uint8_t>(request[p + 1]);
    const std::size_t fixed = 5 + ctx.Global.PRESUFFIX.size();  // routing item, PRESUFFIX, check byte
    if (length < fixed || request.size() < p + 2 + length) return {};
    return request.substr(p + 6, length - fixed);
}

// What a walk over the answer's items does. A frame that answers the request it is stored with
// is applied whole. A frame from another station than the one asked (a report sent on its own,
// or an answer whose address was spoilt on the line) brings only its reports: data items are
// walked over and dropped. The scan only finds out whether the frame holds a report at all.
enum class Walk { Apply, ReportsOnly, Scan };

// The apply step: the parsed items, in the frame's order, into the station's image, the table
// rows, the history read-out, the host buffer, the event text and the log.
struct Decoder {
    DriverContext& ctx;
    std::string_view request;
    int stationIndex;
    StationRecord& st;
    Walk walk = Walk::Apply;
    bool reported = false;  // a report item was met
    bool dropped = false;   // a data item was walked over without being stored

    void label(std::string_view text) {
        if (walk != Walk::Scan) ctx.PendingEventText += text;
    }
    // True when the data item is to be dropped instead of stored.
    bool skipData() {
        if (walk == Walk::Apply) return false;
        dropped = true;
        return true;
    }
    // True when a report item is only to be noted (the scan).
    bool scanReport() {
        reported = true;
        return walk == Walk::Scan;
    }

    void operator()(const AnalogItem& a);
    void operator()(const BinaryItem& b);
    void operator()(const CounterItem& c);
    void operator()(const ErrorReportItem& e);
    void operator()(const ActiveReportItem&);
    void operator()(const ControlErrorItem&);
    void operator()(const ConstantsItem& k);
    void operator()(const MemoryReadItem& m);
    void operator()(const MemoryWrittenItem& m);
    void operator()(const PasswordItem&) { label(text::kLabelPassword); }
    void operator()(const BlockDataItem& b);
    void operator()(const QqWrittenItem&);
    void operator()(const QqValuesItem& q);

    void sampleBlock(const BlockDataItem& b);
    void storeQqValue(ChannelItem& item, int chunk, const std::uint8_t v[4], bool invalid);
};

void Decoder::operator()(const AnalogItem& a) {
    if (skipData()) return;
    label(text::kLabelAiMorvel);
    for (const AnalogWord& w : a.words) {
        const std::size_t n = w.input;
        unsigned raw = w.raw;
        const bool logging = Logging(ctx.Log);
        if (logging) WriteLog(ctx.Log, "AI Word", Fmt("%5u", raw));
        double range = 255.0;
        if (raw & 0x8000u) {
            range = 4095.0;
            raw &= 0x7FFFu;
        }
        AnalogLimit& lim = st.AnalogLimits[n];
        double r = raw + lim.Offset;
        if (!(r > 0.0)) r = 0.0;
        if (r > range) r = range;
        lim.LastRaw = TruncLow16(r);
        const double value = lim.Lower + (lim.Upper - lim.Lower) * lim.LastRaw / range;
        st.Analog[n] = value;
        if (logging) {
            WriteLog(ctx.Log, "ADSM " + FormatReal(10, 2, lim.Lower), "ADHM " + FormatReal(10, 2, lim.Upper));
            WriteLog(ctx.Log, Fmt("AI %2u", static_cast<unsigned>(n)), FormatReal(10, 2, value));
        }
    }
    st.AiFresh = true;
}

void Decoder::operator()(const BinaryItem& b) {
    if (skipData()) return;
    label(b.inputs ? text::kLabelDecodeBi : text::kLabelDecodeBo);
    if (!b.inputs) return;  // the outputs are the host's: walked, not stored
    for (const BitGroup& g : b.groups)
        for (unsigned s = 0; s < 8; ++s) st.BinaryIn[8u * g.group + s + 1] = BitOfByte(g.bits, s);
    st.BiFresh = true;
}

void Decoder::operator()(const CounterItem& c) {
    if (skipData()) return;
    if (c.reset) {  // the last raw counts are taken over
        label(text::kLabelCtcReset);
        for (const std::uint8_t g : c.groups)
            for (unsigned n = 8u * g + 1; n <= 8u * g + 8; ++n) ApplyCounter(st.Counters[n]);
    } else {
        label(text::kLabelCtc);
        for (const CounterWord& w : c.counts) {
            CounterEntry& e = st.Counters[w.counter];
            e.RawCount = w.raw;
            if (!st.PhoneNumber.empty()) ApplyCounter(e);
        }
    }
    st.CtcFresh = true;
}

void Decoder::operator()(const ErrorReportItem& e) {
    if (scanReport()) return;
    const unsigned code = e.code;
    st.ErrorReportCount += 1;
    st.Unreachable = true;
    st.RetryCount = static_cast<std::uint8_t>(st.RetryCount + 1);
    const std::string_view reason = code < std::size(text::kStationErrors) ? text::kStationErrors[code] : "";
    label(text::kLabelError);
    label(std::to_string(code));
    label(" (");
    label(reason);
    label(") ");
}

void Decoder::operator()(const ActiveReportItem&) {
    if (scanReport()) return;
    st.ActiveReport = true;
    st.OnLine = true;
    ctx.Scheduler.HoldPolling = false;
    label(text::kLabelActiveReport);
}

void Decoder::operator()(const ControlErrorItem&) {
    if (scanReport()) return;
    st.ControlError = true;
    ctx.Scheduler.HoldPolling = false;
    label(text::kLabelControlError);
}

void Decoder::operator()(const ConstantsItem& k) {
    if (skipData()) return;
    label(k.read ? text::kLabelDecodeKi : text::kLabelDecodeKo);
    if (!k.read) return;
    for (const ConstantValue& v : k.values) st.MemoryOut[v.output].Value = v.value;
    st.MemFresh = true;
}

void Decoder::operator()(const MemoryReadItem& m) {
    if (skipData()) return;
    const unsigned address = m.address;
    const std::string_view data = m.data;
    const auto count = static_cast<unsigned>(data.size());
    const unsigned reals = count / 3;
    auto real = [&](unsigned n) { return StationRealToFloat(data.substr(3 * (n - 1), 3)); };

    // The analog-input area.
    if (address == st.DefAnalogInAddr) {
        label(text::kLabelDecodeAi);
        for (unsigned n = 1; n <= std::min(reals, 64u); ++n) st.Analog[n] = real(n);
        st.AiFresh = true;
    }
    const unsigned inputs = std::min<unsigned>(st.NumMemoryIn, 100);
    // All memory inputs as one block.
    if (count == 3u * st.NumMemoryIn && st.WholeBlockRead && address == st.MemoryIn[1].Address) {
        label(text::kLabelMiBlock);
        for (unsigned n = 1; n <= std::min(reals, inputs); ++n) st.MemoryIn[n].Value = real(n);
        st.MemFresh = true;
    }
    // One memory input.
    if (count >= 1 && count <= 3 && inputs > 0) {
        for (unsigned j = 1; j <= inputs; ++j) {
            MemoryEntry& e = st.MemoryIn[j];
            if (e.Address != address) continue;
            label(text::kLabelMi);
            label(std::to_string(j));
            // Bytes the answer does not carry count as zero.
            std::uint8_t b[3] = {0, 0, 0};
            for (unsigned i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>(data[i]);
            double value = 0.0;
            switch (e.Type) {
                case 1: value = b[0]; break;
                case 2: value = b[0] | (b[1] << 8); break;
                case 3: value = StationRealToFloat(std::string_view(reinterpret_cast<const char*>(b), 3)); break;
                default: break;
            }
            e.Value = value;
            st.MemFresh = true;
            WriteLog(ctx.Log, "decodeMess MI",
                     Fmt("index %3u adr ", j) + WordToHex(static_cast<std::uint16_t>(address)) + " value " +
                         FormatReal(6, 1, value));
            break;
        }
    }
    // Memory blocks starting here: the bytes are handed out to the elements in order.
    for (const auto& block : st.MemoryBlocks) {
        if (block->Addr != address) continue;
        label(text::kLabelMb);
        label(WordToHex(static_cast<std::uint16_t>(address)));
        label(") ");
        std::size_t at = 0;
        for (std::size_t i = 0; i < block->Types.size() && i < block->Cells.size(); ++i) {
            const std::uint8_t size = ElementSize(block->Types.byte(i));
            if (size == 0 || at + size > data.size()) break;
            block->Cells[i].assign(data.substr(at, size));
            at += size;
        }
    }
}

void Decoder::operator()(const MemoryWrittenItem& m) {
    if (skipData()) return;
    label(text::kLabelMemoryWrite);
    label(WordToHex(m.address));
    label(" ");
}

void Decoder::sampleBlock(const BlockDataItem& b) {
    const int first = b.samples->front().row;
    label(text::kLabelSamples);
    label(std::to_string(first));
    label(text::kLabelSamplesTo);
    label(std::to_string(first + 5));
    label(") ");
    int lastWritten = 0;
    for (const SampleRow& sample : *b.samples) {
        const int row = sample.row;
        // Rows outside the table are not written.
        if (row < 1 || row > kTableRows || !ctx.Table.TextTable) continue;
        TextRow& r = ctx.Table.TextTable[static_cast<std::size_t>(row - 1)];
        for (std::size_t i = 0; i < 7; ++i) r.State[i] = sample.state[i];
        for (std::size_t c = 0; c < 8; ++c) r.Cells[c].assign(sample.cells[c]);
        lastWritten = row;
    }
    if (lastWritten == 0) return;
    if (lastWritten == kTableRows) ctx.Table.MbActive = false;
    if (ctx.HostBuffer) {  // header fields only, far inside the buffer the host granted
        PutLe32(ctx.HostBuffer + 8, static_cast<std::uint32_t>(lastWritten));
        if (lastWritten == kTableRows) PutLe32(ctx.HostBuffer + 24, 2);
    }
}

void Decoder::operator()(const BlockDataItem& b) {
    if (skipData()) return;
    const unsigned kind = b.kind;
    const bool sampleKind = (ctx.Table.MbKindIndex == 1 && (kind == ReqSamples1 || kind == ReqSamplesAlt1)) ||
                            (ctx.Table.MbKindIndex == 2 && (kind == ReqSamples2 || kind == ReqSamplesAlt2)) ||
                            (ctx.Table.MbKindIndex == 3 && (kind == ReqSamples3 || kind == ReqSamplesAlt3));
    if (sampleKind && b.samples) {
        sampleBlock(b);
    } else if (ctx.History.HdbReadState == HdbReadState::Reading && kind >= ReqHistoryFirst && kind <= ReqHistoryLast) {
        HistoryDataAnswer(HistoryOf(ctx), stationIndex, b.kind, b.address,
                          reinterpret_cast<const std::uint8_t*>(b.data.data()), b.data.size());
    }
}

void Decoder::operator()(const QqWrittenItem&) {
    if (skipData()) return;
    const std::string_view body = RequestBody(ctx, request);
    if (body.size() >= 2 && body[1] == 'Q') {
        const std::string_view items = body.substr(2);
        for (std::size_t i = 0; i + 3 <= items.size(); i += 3)
            HistoryWriteBackItem(HistoryOf(ctx), static_cast<std::uint8_t>(items[i]), static_cast<std::uint8_t>(items[i + 1]),
                                 static_cast<std::uint8_t>(items[i + 2]), ctx.PendingEventText);
    }
    label(text::kLabelQqWritten);
}

void Decoder::storeQqValue(ChannelItem& item, int chunk, const std::uint8_t v[4], bool invalid) {
    const std::uint32_t bits = Le32(v);
    switch (item.Type) {
        case QqByte:
        case QqWord:
        case QqInteger:
            item.Value = invalid ? -12345.0f : static_cast<float>(static_cast<std::int32_t>(bits));
            break;
        case QqCardinal: item.Value = invalid ? 65536.0f : static_cast<float>(bits); break;
        case QqLongint:
            item.RawValue = invalid ? -12345 : static_cast<std::int32_t>(bits);
            item.Value = static_cast<float>(item.RawValue);
            break;
        case QqReal: {
            const std::uint32_t pattern = invalid ? 0x00010000u : bits;
            item.Value = invalid ? std::bit_cast<float>(pattern) : ToFloat32(IeeeSingleToFloat(pattern, -1e37));
            WriteLog(ctx.Log, "QQ Real = ", IeeeSingleToText(pattern));
            break;
        }
        case QqString: {
            if (invalid) break;  // the chunk keeps its text
            const std::string chunkText = LcdToText(std::string_view(reinterpret_cast<const char*>(v), 4));
            std::string textNow = item.Text.str();
            const std::size_t at = 4 * static_cast<std::size_t>(chunk);
            if (textNow.size() < at + 4) textNow.resize(at + 4, ' ');
            textNow.replace(at, 4, chunkText);
            item.Text.assign(textNow);
            break;
        }
        default: break;
    }
}

void Decoder::operator()(const QqValuesItem& q) {
    // An active report of a TL2 station: a frame that answers no request, after an answered
    // call. A frame from another station than the one asked came in place of an answer: it
    // is no call report, whatever its request text.
    if (walk == Walk::Apply && request.empty() && ctx.AnsweredCall) {
        if (scanReport()) return;
        st.ActiveReport = true;
        st.OnLine = true;
        if (!q.values.empty()) st.CallCode = q.values[0].invalid ? 65536u : Le32(q.values[0].bytes.data());
        label(text::kLabelTl2Report);
        ctx.Scheduler.HoldPolling = false;
        return;
    }
    if (skipData()) return;
    const std::string_view body = RequestBody(ctx, request);
    if (body.size() < 2 || body[1] != 'q') return;
    const std::string_view items = body.substr(2);
    if (q.values.size() != items.size() / 3) {
        WriteLog(ctx.Log, "QQ Data", "Sync error!");
        return;
    }
    label(text::kLabelQqRead);
    label(std::to_string(q.values.size()));
    label("x) ");
    WriteLog(ctx.Log, "QQ Data Decode", "Start");
    int counted = 0;
    for (std::size_t i = 0; i < items.size() / 3; ++i) {
        const auto d = static_cast<std::uint8_t>(items[3 * i]);
        const auto b = static_cast<std::uint8_t>(items[3 * i + 1]);
        const auto a = static_cast<std::uint8_t>(items[3 * i + 2]);
        const std::uint8_t* v = q.values[i].bytes.data();
        const std::string_view raw(reinterpret_cast<const char*>(v), 4);
        if (Logging(ctx.Log)) WriteLog(ctx.Log, "QQ item", Fmt("%d %d %d = %s", d, b, a, BytesToHex(raw).c_str()));
        if (ctx.History.HdbReadState == HdbReadState::PositionQuery) HistoryPositionItem(HistoryOf(ctx), d, b, a, v, counted, ctx.PendingEventText);
        int chunk = 0;
        ChannelItem* item = FindQqChannel(st, d, b, a, chunk);
        if (item && (item->Direction == DirRead || item->Direction == DirBidir)) storeQqValue(*item, chunk, v, q.values[i].invalid);
    }
    WriteLog(ctx.Log, "QQ Data Decode", "End");
}

// The acknowledgement as it is sent: PREFIX, the frame, SUFFIX; empty when it would not fit.
Str255 Acknowledgement(const DriverContext& ctx, std::string_view ack) {
    if (ctx.Global.PREFIX.size() + ack.size() + ctx.Global.SUFFIX.size() > Str255::Capacity) return {};
    Str255 out(ctx.Global.PREFIX.view());
    out += ack;
    out += ctx.Global.SUFFIX.view();
    return out;
}

// The answer's items in order, each applied as the walk says.
void WalkItems(Decoder& d, const Answer& answer) {
    for (const AnswerItem& item : answer.items) std::visit(d, item);
}

// A frame that came in place of the answer of station `asked` with data of another station,
// or from an address no station has: logged and counted as a line error, nothing stored.
void DropForeignFrame(DriverContext& ctx, std::string_view frame, int asked) {
    WriteLog(ctx.Log, "DecodeMess", Fmt("not from the station asked (%d): data dropped", asked));
    HexDumpLog(ctx.Log, "Dropped Message", frame);
    ctx.ErrorTotal = ctx.ErrorTotal.load() + 1.0;
}

}  // namespace

ChannelItem* FindQqChannel(StationRecord& s, std::uint8_t d, std::uint8_t b, std::uint8_t a, int& chunk) {
    chunk = 0;
    for (const auto& item : s.Channels) {
        const std::uint8_t* addr = item->Address;
        if (item->Type == QqString && addr[0] == d && addr[1] == b && addr[2] <= a && a <= addr[2] + 7) {
            chunk = a - addr[2];
            return item.get();
        }
        if (addr[0] == d && addr[1] == b && addr[2] == a) return item.get();
    }
    return nullptr;
}

bool DecodeMess(DriverContext& ctx, std::string_view frame, std::string_view request, int askedStation) {
    const FrameAddresses who = AddressesOf(frame, ctx.Global.ADDRESS);
    if (!who.valid || who.target != ctx.Global.ADDRESS) return false;
    const StationRecord* asked =
        askedStation >= 1 && askedStation <= kMaxStations ? ctx.Stations[static_cast<std::size_t>(askedStation)].get()
                                                          : nullptr;
    // The station asked takes its own answer, even where another station has the same address.
    int index = asked && asked->Address == who.sender ? askedStation : 0;
    for (int n = 1; index == 0 && n <= ctx.StationCount && n <= kMaxStations; ++n) {
        const StationRecord* s = ctx.Stations[static_cast<std::size_t>(n)].get();
        if (s && s->Address == who.sender) index = n;
    }
    // A frame from another station than the one asked answers nothing: it may bring reports,
    // never data, and the request it came in place of still waits for its own answer.
    const bool foreign = asked && asked->Address != who.sender;
    if (index == 0) {
        if (foreign) DropForeignFrame(ctx, frame, askedStation);
        return false;
    }
    StationRecord& st = *ctx.Stations[static_cast<std::size_t>(index)];
    const Answer answer = ParseAnswer(frame);
    Decoder d{ctx, foreign ? std::string_view() : request, index, st};
    if (foreign) {
        d.walk = Walk::Scan;
        WalkItems(d, answer);
        if (d.dropped) DropForeignFrame(ctx, frame, askedStation);
        if (!d.reported) return true;
        d.walk = Walk::ReportsOnly;
    }

    HexDumpLog(ctx.Log, "Decode Received Message", frame);

    // Any answer wakes the station.
    st.ElapsedTime = 0.0;
    st.SleepLeft = 0.0;
    st.ErrorCount = 0;
    st.Unreachable = false;
    ctx.Timers.Answer = 0.0;

    Str255 line(std::string(60, ' '));
    line += text::kDecodeArrow;
    line += st.Name.view();
    line.truncate(146);
    line += text::kDecodeNameSeparator;
    line.truncate(149);
    ctx.PendingEventText = line;

    WalkItems(d, answer);

    if (!answer.acknowledgement.empty()) {
        WriteLog(ctx.Log, "Answer", "AH");
        const Str255 ack = Acknowledgement(ctx, answer.acknowledgement);
        WriteLog(ctx.Log, "SEND", BytesToHex(ack.view()));
        ctx.Scheduler.AckText = ack;
        ctx.Scheduler.AckPending = !ack.empty();
    } else {
        ctx.Scheduler.AckPending = false;
    }
    return true;
}

void ExtractDATA(DriverContext& ctx) {
    ReceiveEntry entry;
    if (!TakeReceived(ctx.ReceiveQueue, entry)) return;
    const bool known = DecodeMess(ctx, entry.Frame.view(), entry.Request.view(), entry.Station);
    WriteLog(ctx.Log, "ExtractDATA", known ? "DecodeMess = 1" : "DecodeMess = 0");
}

}  // namespace zk
