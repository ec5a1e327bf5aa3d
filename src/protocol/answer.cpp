// The parse of a station's frame into a typed answer. Positions below are 1-based, as the
// stations' documentation counts them.
#include "protocol/answer.h"

#include <bit>
#include <cstring>

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

// What one item's parse found: the item's last position, or 0 when the walk ends here (with
// the reason).
struct Step {
    std::size_t last;
    ParseStop stop = ParseStop::Truncated;
};

struct Parser {
    Frame f;
    Answer& out;
    bool ackDue = false;

    Step truncated() const { return {0, ParseStop::Truncated}; }
    Step unknown() const { return {0, ParseStop::UnknownLetter}; }
    // An item of fixed length ending at `last`, walked over.
    Step skip(std::size_t last) const { return f.fits(last) ? Step{last} : truncated(); }

    Step analog(std::size_t o) {
        if (!f.fits(o + 1)) return truncated();
        const unsigned mask = f.at(o + 1);
        const std::size_t last = o + 1 + 16 * SetBits(mask);
        if (!f.fits(last)) return truncated();
        AnalogItem item;
        unsigned k = 0;
        for (unsigned g = 0; g < 8; ++g) {
            if (!BitOfByte(mask, g)) continue;
            for (unsigned i = 1; i <= 8; ++i)
                item.words.push_back({static_cast<std::uint8_t>(8 * g + i),
                                      static_cast<std::uint16_t>(f.wordHigh(o + 2 + 16 * k + 2 * (i - 1)))});
            ++k;
        }
        out.items.emplace_back(std::move(item));
        return {last};
    }

    Step binary(std::size_t o, bool inputs) {
        if (!f.fits(o + 1)) return truncated();
        const unsigned mask = f.at(o + 1);
        const std::size_t last = mask != 0 ? o + 1 + SetBits(mask) : o + 13;
        if (!f.fits(last)) return truncated();
        BinaryItem item{inputs, {}};
        if (mask != 0) {
            unsigned k = 1;
            for (unsigned g = 0; g < 8; ++g)
                if (BitOfByte(mask, g)) item.groups.push_back({static_cast<std::uint8_t>(g), f.at(o + 1 + k++)});
        } else {
            for (unsigned g = 0; g < 12; ++g) item.groups.push_back({static_cast<std::uint8_t>(g), f.at(o + 2 + g)});
        }
        out.items.emplace_back(std::move(item));
        return {last};
    }

    Step counters(std::size_t o) {
        if (!f.fits(o + 1)) return truncated();
        const unsigned mask = f.at(o + 1);
        CounterItem item{(mask & 0x80u) != 0, {}, {}};
        for (unsigned g = 0; g < 6; ++g)
            if (BitOfByte(mask, g)) item.groups.push_back(static_cast<std::uint8_t>(g));
        if (item.reset) {  // read and reset: no data
            out.items.emplace_back(std::move(item));
            return {o + 1};
        }
        const std::size_t last = o + 1 + 16 * SetBits(mask & 0x3Fu);
        if (!f.fits(last)) return truncated();
        unsigned k = 0;
        for (const std::uint8_t g : item.groups) {
            for (unsigned i = 0; i < 8; ++i)
                item.counts.push_back({static_cast<std::uint8_t>(8 * g + i + 1),
                                       static_cast<std::uint16_t>(f.wordHigh(o + 2 + 16 * k + 2 * i))});
            ++k;
        }
        out.items.emplace_back(std::move(item));
        return {last};
    }

    Step error(std::size_t o) {
        if (!f.fits(o + 1)) return truncated();
        out.items.emplace_back(ErrorReportItem{f.at(o + 1)});
        return {o + 1};
    }

    Step constants(std::size_t o, bool read) {
        if (!f.fits(o + 1)) return truncated();
        const unsigned mask = f.at(o + 1);
        const std::size_t last = o + 1 + 3 * SetBits(mask);
        if (!f.fits(last)) return truncated();
        ConstantsItem item{read, {}};
        unsigned k = 0;
        for (unsigned g = 0; g < 8; ++g)
            if (BitOfByte(mask, g))
                item.values.push_back({static_cast<std::uint8_t>(g + 1), StationRealToFloat(f.sub(o + 2 + 3 * k++, 3))});
        out.items.emplace_back(std::move(item));
        return {last};
    }

    Step memoryRead(std::size_t o) {
        if (!f.fits(o + 3)) return truncated();
        const auto address = static_cast<std::uint16_t>(f.wordLow(o + 1));
        const unsigned count = f.at(o + 3);
        const std::size_t last = o + 3 + count;
        if (!f.fits(last)) return truncated();
        out.items.emplace_back(MemoryReadItem{address, f.sub(o + 4, count)});
        return {last};
    }

    Step memoryWritten(std::size_t o) {
        if (!f.fits(o + 3)) return truncated();
        const auto address = static_cast<std::uint16_t>(f.wordLow(o + 1));
        const std::size_t last = o + 3 + f.at(o + 3);
        if (!f.fits(last)) return truncated();
        out.items.emplace_back(MemoryWrittenItem{address});
        return {last};
    }

    static std::array<SampleRow, 6> sampleRows(unsigned address, std::string_view data) {
        const int first = (static_cast<int>(address) - 32768) / 186 * 6 + 1;
        std::array<SampleRow, 6> rows{};
        for (int j = 0; j < 6; ++j) {
            SampleRow& r = rows[static_cast<std::size_t>(j)];
            const std::string_view sample = data.substr(31 * static_cast<std::size_t>(j), 31);
            r.row = first + j;
            for (std::size_t i = 0; i < 6; ++i)
                r.state[i] = static_cast<std::uint8_t>(BcdToInt(static_cast<std::uint8_t>(sample[i])));
            r.state[6] = static_cast<std::uint8_t>(sample[6]);
            for (std::size_t c = 0; c < 8; ++c) r.cells[c] = sample.substr(7 + 3 * c, 3);
        }
        return rows;
    }

    Step blockData(std::size_t o) {
        if (!f.fits(o + 5)) return truncated();
        const auto kind = f.at(o + 2);
        const unsigned address = f.wordLow(o + 3);
        const unsigned count = f.at(o + 5);
        if (!f.fits(o + 5 + count)) return truncated();
        BlockDataItem item{kind, static_cast<std::uint16_t>(address), f.sub(o + 6, count), std::nullopt};
        if (count == 186 && (static_cast<int>(address) - 32768) % 186 == 0) item.samples = sampleRows(address, item.data);
        out.items.emplace_back(std::move(item));
        return {o + 6 + count};  // one byte after the data is skipped
    }

    void qqValues(std::size_t o) {
        // The values: 4-byte groups from the byte after the sub-letter up to the check byte.
        const std::size_t first = o + 2;
        const std::string_view values =
            first <= f.lastItemByte() ? f.sub(first, f.lastItemByte() - first + 1) : std::string_view();
        QqValuesItem item;
        for (std::size_t i = 0; i + 4 <= values.size(); i += 4) {
            QqValue v{};
            std::memcpy(v.bytes.data(), values.data() + i, 4);
            v.invalid = std::memcmp(v.bytes.data(), kInvalid, 4) == 0;
            item.values.push_back(v);
        }
        out.items.emplace_back(std::move(item));
    }

    Step qqFamily(std::size_t o) {
        if (!f.fits(o + 1)) return truncated();
        switch (f.at(o + 1)) {
            case '!': return skip(o + 2);
            case 'H':
                if (!f.fits(o + 2)) return truncated();
                if (f.at(o + 2) != '1') return {o + 2};
                if (!f.fits(o + 7)) return truncated();
                out.items.emplace_back(PasswordItem{});
                return {o + 7};
            case 'N': return blockData(o);
            case 'Q':
            case 'X': out.items.emplace_back(QqWrittenItem{}); return {0, ParseStop::LastItem};
            case 'q':
            case 'x': qqValues(o); return {0, ParseStop::LastItem};
            default: return unknown();
        }
    }

    Step item(std::size_t o) {
        switch (f.at(o)) {
            case 'Y':
            case 'y': return skip(o + 3);
            case 'A': return analog(o);
            case 'B': return binary(o, true);
            case 'b': return binary(o, false);
            case 'C': return counters(o);
            case 'E': return error(o);
            case 'H':
                ackDue = true;
                out.items.emplace_back(ActiveReportItem{});
                return {o};
            case 'K': return constants(o, true);
            case 'k': return constants(o, false);
            case 'L':
            case 'R': return skip(o + 1);
            case 'N': return memoryRead(o);
            case 'n': return memoryWritten(o);
            case 'X':
                ackDue = true;
                out.items.emplace_back(ControlErrorItem{});
                return {o};
            case 'Q': return qqFamily(o);
            default: return unknown();
        }
    }

    std::string acknowledgement() const {
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
        return ack;
    }
};

}  // namespace

Answer ParseAnswer(std::string_view frame) {
    Answer answer;
    Parser p{Frame{frame}, answer};
    for (std::size_t pos = 3; pos < p.f.size(); ++pos) {
        const Step step = p.item(pos);
        if (step.last == 0) {
            answer.stop = step.stop;
            answer.stopAt = pos;
            break;
        }
        pos = step.last;
    }
    // An H or X item was met, so the walk reached the third byte and the frame holds it.
    if (p.ackDue) answer.acknowledgement = p.acknowledgement();
    return answer;
}

}  // namespace zk
