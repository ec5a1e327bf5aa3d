// The response decoder. A frame (first address byte through the check byte) is a sequence of
// items, each starting with a letter; the walk runs over the bytes between the length byte
// and the check byte, and no item is read past them: an item that does not fit ends the walk.
// Positions below are 1-based, as the stations' documentation counts them.
#include "worker/decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "diag/log.h"
#include "history/history.h"
#include "protocol/encodings.h"

namespace zk {

namespace {

constexpr std::uint8_t kInvalid[4] = {0xBE, 0xBE, 0xBE, 0xBE};

// Read-only view of a frame with 1-based positions.
struct Frame {
    std::string_view bytes;
    std::size_t size() const { return bytes.size(); }
    std::uint8_t at(std::size_t pos) const { return static_cast<std::uint8_t>(bytes[pos - 1]); }
    // The last position an item may use: the byte before the check byte.
    std::size_t lastItemByte() const { return bytes.size() - 1; }
    bool fits(std::size_t last) const { return last <= lastItemByte(); }
    // 16-bit numbers: addresses low byte first, raw values high byte first.
    unsigned wordLow(std::size_t pos) const { return at(pos) | (static_cast<unsigned>(at(pos + 1)) << 8); }
    unsigned wordHigh(std::size_t pos) const { return (static_cast<unsigned>(at(pos)) << 8) | at(pos + 1); }
    std::string_view sub(std::size_t pos, std::size_t n) const { return bytes.substr(pos - 1, n); }
};

unsigned SetBits(unsigned mask) { return static_cast<unsigned>(std::popcount(mask & 0xFFu)); }

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

// What a walk over the items does. A frame that answers the request it is stored with is
// applied whole. A frame from another station than the one asked (a report sent on its own,
// or an answer whose address was spoilt on the line) brings only its reports: data items are
// walked over and dropped. The scan only finds out whether the frame holds a report at all.
enum class Walk { Apply, ReportsOnly, Scan };

struct Decoder {
    DriverContext& ctx;
    Frame f;
    std::string_view request;
    int stationIndex;
    StationRecord& st;
    Walk walk = Walk::Apply;
    bool ackDue = false;
    bool reported = false;  // a report item was met
    bool dropped = false;   // a data item was walked over without being stored

    void label(std::string_view text) {
        if (walk != Walk::Scan) ctx.PendingEventText += text;
    }
    // True when the data item just measured is to be dropped instead of stored.
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

    // Each handler gets the letter's position and returns the item's last position, or 0 when
    // the walk ends here.
    std::size_t analog(std::size_t o);
    std::size_t binary(std::size_t o, bool inputs);
    std::size_t counters(std::size_t o);
    std::size_t error(std::size_t o);
    std::size_t constants(std::size_t o, bool store);
    std::size_t memoryRead(std::size_t o);
    std::size_t memoryWritten(std::size_t o);
    std::size_t qqFamily(std::size_t o);
    void sampleBlock(unsigned address, std::string_view data);
    void qqWritten();
    void qqValues(std::size_t o);
    void storeQqValue(ChannelItem& item, int chunk, const std::uint8_t v[4], bool invalid);
    std::size_t item(std::size_t o);
    Str255 acknowledgement() const;
};

std::size_t Decoder::analog(std::size_t o) {
    if (!f.fits(o + 1)) return 0;
    const unsigned mask = f.at(o + 1);
    const std::size_t last = o + 1 + 16 * SetBits(mask);
    if (!f.fits(last)) return 0;
    if (skipData()) return last;
    label(text::kLabelAiMorvel);
    unsigned k = 0;
    for (unsigned g = 0; g < 8; ++g) {
        if (!BitOfByte(mask, g)) continue;
        for (unsigned i = 1; i <= 8; ++i) {
            const std::size_t n = 8 * g + i;
            unsigned raw = f.wordHigh(o + 2 + 16 * k + 2 * (i - 1));
            WriteLog(ctx.Log, "AI Word", Fmt("%5u", raw));
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
            WriteLog(ctx.Log, "ADSM " + FormatReal(10, 2, lim.Lower), "ADHM " + FormatReal(10, 2, lim.Upper));
            WriteLog(ctx.Log, Fmt("AI %2u", static_cast<unsigned>(n)), FormatReal(10, 2, value));
        }
        ++k;
    }
    st.AiFresh = true;
    return last;
}

std::size_t Decoder::binary(std::size_t o, bool inputs) {
    if (!f.fits(o + 1)) return 0;
    const unsigned mask = f.at(o + 1);
    const std::size_t last = mask != 0 ? o + 1 + SetBits(mask) : o + 13;
    if (!f.fits(last)) return 0;
    if (skipData()) return last;
    label(inputs ? text::kLabelDecodeBi : text::kLabelDecodeBo);
    if (!inputs) return last;  // the outputs are the host's: walked, not stored
    auto setGroup = [&](unsigned g, std::uint8_t bits) {
        for (unsigned s = 0; s < 8; ++s) st.BinaryIn[8 * g + s + 1] = BitOfByte(bits, s);
    };
    if (mask != 0) {
        unsigned k = 1;
        for (unsigned g = 0; g < 8; ++g)
            if (BitOfByte(mask, g)) setGroup(g, f.at(o + 1 + k++));
    } else {
        for (unsigned g = 0; g < 12; ++g) setGroup(g, f.at(o + 2 + g));
    }
    st.BiFresh = true;
    return last;
}

std::size_t Decoder::counters(std::size_t o) {
    if (!f.fits(o + 1)) return 0;
    const unsigned mask = f.at(o + 1);
    if (mask & 0x80u) {  // read and reset: no data, the last raw counts are taken over
        if (skipData()) return o + 1;
        label(text::kLabelCtcReset);
        for (unsigned g = 0; g < 6; ++g)
            if (BitOfByte(mask, g))
                for (unsigned n = 8 * g + 1; n <= 8 * g + 8; ++n) ApplyCounter(st.Counters[n]);
        st.CtcFresh = true;
        return o + 1;
    }
    const std::size_t last = o + 1 + 16 * SetBits(mask & 0x3Fu);
    if (!f.fits(last)) return 0;
    if (skipData()) return last;
    label(text::kLabelCtc);
    unsigned k = 0;
    for (unsigned g = 0; g < 6; ++g) {
        if (!BitOfByte(mask, g)) continue;
        for (unsigned i = 0; i < 8; ++i) {
            CounterEntry& c = st.Counters[8 * g + i + 1];
            c.RawCount = static_cast<std::uint16_t>(f.wordHigh(o + 2 + 16 * k + 2 * i));
            if (!st.PhoneNumber.empty()) ApplyCounter(c);
        }
        ++k;
    }
    st.CtcFresh = true;
    return last;
}

std::size_t Decoder::error(std::size_t o) {
    if (!f.fits(o + 1)) return 0;
    if (scanReport()) return o + 1;
    const unsigned code = f.at(o + 1);
    st.ErrorReportCount += 1;
    st.Unreachable = true;
    st.RetryCount = static_cast<std::uint8_t>(st.RetryCount + 1);
    const std::string_view reason = code < std::size(text::kStationErrors) ? text::kStationErrors[code] : "";
    label(text::kLabelError);
    label(std::to_string(code));
    label(" (");
    label(reason);
    label(") ");
    return o + 1;
}

std::size_t Decoder::constants(std::size_t o, bool store) {
    if (!f.fits(o + 1)) return 0;
    const unsigned mask = f.at(o + 1);
    const std::size_t last = o + 1 + 3 * SetBits(mask);
    if (!f.fits(last)) return 0;
    if (skipData()) return last;
    label(store ? text::kLabelDecodeKi : text::kLabelDecodeKo);
    if (!store) return last;
    unsigned k = 0;
    for (unsigned g = 0; g < 8; ++g)
        if (BitOfByte(mask, g)) st.MemoryOut[g + 1].Value = StationRealToFloat(f.sub(o + 2 + 3 * k++, 3));
    st.MemFresh = true;
    return last;
}

std::size_t Decoder::memoryRead(std::size_t o) {
    if (!f.fits(o + 3)) return 0;
    const unsigned address = f.wordLow(o + 1);
    const unsigned count = f.at(o + 3);
    const std::size_t last = o + 3 + count;
    if (!f.fits(last)) return 0;
    if (skipData()) return last;
    const std::string_view data = f.sub(o + 4, count);
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
    return last;
}

std::size_t Decoder::memoryWritten(std::size_t o) {
    if (!f.fits(o + 3)) return 0;
    const unsigned address = f.wordLow(o + 1);
    const std::size_t last = o + 3 + f.at(o + 3);
    if (!f.fits(last)) return 0;
    if (skipData()) return last;
    label(text::kLabelMemoryWrite);
    label(WordToHex(static_cast<std::uint16_t>(address)));
    label(" ");
    return last;
}

void Decoder::sampleBlock(unsigned address, std::string_view data) {
    const int first = (static_cast<int>(address) - 32768) / 186 * 6 + 1;
    label(text::kLabelSamples);
    label(std::to_string(first));
    label(text::kLabelSamplesTo);
    label(std::to_string(first + 5));
    label(") ");
    int lastWritten = 0;
    for (int j = 0; j < 6; ++j) {
        const int row = first + j;
        // Rows outside the table are not written.
        if (row < 1 || row > kTableRows || !ctx.Table.TextTable) continue;
        const std::string_view sample = data.substr(31 * static_cast<std::size_t>(j), 31);
        TextRow& r = ctx.Table.TextTable[static_cast<std::size_t>(row - 1)];
        for (int i = 0; i < 6; ++i) r.State[i] = static_cast<std::uint8_t>(BcdToInt(static_cast<std::uint8_t>(sample[i])));
        r.State[6] = static_cast<std::uint8_t>(sample[6]);
        for (std::size_t c = 0; c < 8; ++c) r.Cells[c].assign(sample.substr(7 + 3 * c, 3));
        lastWritten = row;
    }
    if (lastWritten == 0) return;
    if (lastWritten == kTableRows) ctx.Table.MbActive = false;
    if (ctx.HostBuffer) {  // header fields only, far inside the buffer the host granted
        PutLe32(ctx.HostBuffer + 8, static_cast<std::uint32_t>(lastWritten));
        if (lastWritten == kTableRows) PutLe32(ctx.HostBuffer + 24, 2);
    }
}

void Decoder::qqWritten() {
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

void Decoder::qqValues(std::size_t o) {
    // The values: 4-byte groups from the byte after the sub-letter up to the check byte.
    const std::size_t first = o + 2;
    const std::string_view values =
        first <= f.lastItemByte() ? f.sub(first, f.lastItemByte() - first + 1) : std::string_view();
    if (request.empty() && ctx.AnsweredCall) {  // an active report of a TL2 station
        if (scanReport()) return;
        st.ActiveReport = true;
        st.OnLine = true;
        if (values.size() >= 4) {
            const auto* v = reinterpret_cast<const std::uint8_t*>(values.data());
            st.CallCode = std::memcmp(v, kInvalid, 4) == 0 ? 65536u : Le32(v);
        }
        label(text::kLabelTl2Report);
        ctx.Scheduler.HoldPolling = false;
        return;
    }
    if (skipData()) return;
    const std::string_view body = RequestBody(ctx, request);
    if (body.size() < 2 || body[1] != 'q') return;
    const std::string_view items = body.substr(2);
    if (values.size() / 4 != items.size() / 3) {
        WriteLog(ctx.Log, "QQ Data", "Sync error!");
        return;
    }
    label(text::kLabelQqRead);
    label(std::to_string(values.size() / 4));
    label("x) ");
    WriteLog(ctx.Log, "QQ Data Decode", "Start");
    int counted = 0;
    for (std::size_t i = 0; i < items.size() / 3; ++i) {
        const auto d = static_cast<std::uint8_t>(items[3 * i]);
        const auto b = static_cast<std::uint8_t>(items[3 * i + 1]);
        const auto a = static_cast<std::uint8_t>(items[3 * i + 2]);
        const std::string_view raw = values.substr(4 * i, 4);
        const auto* v = reinterpret_cast<const std::uint8_t*>(raw.data());
        WriteLog(ctx.Log, "QQ item", Fmt("%d %d %d = %s", d, b, a, BytesToHex(raw).c_str()));
        const bool invalid = std::memcmp(v, kInvalid, 4) == 0;
        if (ctx.History.HdbReadState == HdbReadState::PositionQuery) HistoryPositionItem(HistoryOf(ctx), d, b, a, v, counted, ctx.PendingEventText);
        int chunk = 0;
        ChannelItem* item = FindQqChannel(st, d, b, a, chunk);
        if (item && (item->Direction == DirRead || item->Direction == DirBidir)) storeQqValue(*item, chunk, v, invalid);
    }
    WriteLog(ctx.Log, "QQ Data Decode", "End");
}

std::size_t Decoder::qqFamily(std::size_t o) {
    if (!f.fits(o + 1)) return 0;
    switch (f.at(o + 1)) {
        case '!': return f.fits(o + 2) ? o + 2 : 0;
        case 'H':
            if (!f.fits(o + 2)) return 0;
            if (f.at(o + 2) != '1') return o + 2;
            if (!f.fits(o + 7)) return 0;
            label(text::kLabelPassword);
            return o + 7;
        case 'N': {
            if (!f.fits(o + 5)) return 0;
            const unsigned kind = f.at(o + 2);
            const unsigned address = f.wordLow(o + 3);
            const unsigned count = f.at(o + 5);
            if (!f.fits(o + 5 + count)) return 0;
            if (skipData()) return o + 6 + count;
            const std::string_view data = f.sub(o + 6, count);
            const bool sampleKind = (ctx.Table.MbKindIndex == 1 && (kind == ReqSamples1 || kind == ReqSamplesAlt1)) ||
                                    (ctx.Table.MbKindIndex == 2 && (kind == ReqSamples2 || kind == ReqSamplesAlt2)) ||
                                    (ctx.Table.MbKindIndex == 3 && (kind == ReqSamples3 || kind == ReqSamplesAlt3));
            if (sampleKind && count == 186 && (static_cast<int>(address) - 32768) % 186 == 0) {
                sampleBlock(address, data);
            } else if (ctx.History.HdbReadState == HdbReadState::Reading && kind >= ReqHistoryFirst && kind <= ReqHistoryLast) {
                HistoryDataAnswer(HistoryOf(ctx), stationIndex, static_cast<std::uint8_t>(kind),
                                  static_cast<std::uint16_t>(address),
                                  reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
            }
            return o + 6 + count;  // one byte after the data is skipped
        }
        case 'Q':
        case 'X':
            if (!skipData()) qqWritten();
            return 0;
        case 'q':
        case 'x': qqValues(o); return 0;
        default: return 0;
    }
}

std::size_t Decoder::item(std::size_t o) {
    switch (f.at(o)) {
        case 'Y':
        case 'y': return f.fits(o + 3) ? o + 3 : 0;
        case 'A': return analog(o);
        case 'B': return binary(o, true);
        case 'b': return binary(o, false);
        case 'C': return counters(o);
        case 'E': return error(o);
        case 'H':
            if (scanReport()) return o;
            ackDue = true;
            st.ActiveReport = true;
            st.OnLine = true;
            ctx.Scheduler.HoldPolling = false;
            label(text::kLabelActiveReport);
            return o;
        case 'K': return constants(o, true);
        case 'k': return constants(o, false);
        case 'L':
        case 'R': return f.fits(o + 1) ? o + 1 : 0;
        case 'N': return memoryRead(o);
        case 'n': return memoryWritten(o);
        case 'X':
            if (scanReport()) return o;
            ackDue = true;
            st.ControlError = true;
            ctx.Scheduler.HoldPolling = false;
            label(text::kLabelControlError);
            return o;
        case 'Q': return qqFamily(o);
        default: return 0;
    }
}

Str255 Decoder::acknowledgement() const {
    std::string ack;
    if (f.at(3) == 'Y') {
        // Back to the sender: its routing item turned round, then its items echoed.
        ack.push_back(static_cast<char>(f.at(4)));
        ack.push_back('\0');  // L, set below
        ack.push_back('y');
        ack.push_back('\0');
        ack.push_back(static_cast<char>(f.at(6)));
        ack.push_back('\0');
        if (f.lastItemByte() >= 7) ack += f.sub(7, f.lastItemByte() - 6);
        ack[1] = static_cast<char>(ack.size() - 1);
        std::uint8_t x = 0;
        for (const char c : ack) x ^= static_cast<std::uint8_t>(c);
        ack.push_back(static_cast<char>(x));
    } else {
        ack.assign(f.bytes);
    }
    if (ctx.Global.PREFIX.size() + ack.size() + ctx.Global.SUFFIX.size() > Str255::Capacity) return {};
    Str255 out(ctx.Global.PREFIX.view());
    out += ack;
    out += ctx.Global.SUFFIX.view();
    return out;
}

// The items of the frame from its third byte: each handled by its letter until one ends the walk.
void WalkItems(Decoder& d) {
    for (std::size_t p = 3; p < d.f.size(); ++p) {
        const std::size_t last = d.item(p);
        if (last == 0) break;
        p = last;
    }
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
    const Frame f{frame};
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
    Decoder d{ctx, f, foreign ? std::string_view() : request, index, st};
    if (foreign) {
        d.walk = Walk::Scan;
        WalkItems(d);
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

    WalkItems(d);

    if (d.ackDue) {
        WriteLog(ctx.Log, "Answer", "AH");
        const Str255 ack = d.acknowledgement();
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
