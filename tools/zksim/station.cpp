#include "zksim/station.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zksim {
namespace {

void PutWordHighFirst(Bytes& out, uint16_t w) {
    out += Char(w >> 8);
    out += Char(w & 0xFF);
}

int SampleTableOf(uint8_t kind) {
    switch (kind) {
        case 0x48: case 0x88: return 1;
        case 0x4C: case 0x8C: return 2;
        case 0x50: case 0x90: return 3;
        default: return 0;
    }
}

uint8_t PointsByte(const std::array<bool, 96>& points, int group) {
    uint8_t v = 0;
    for (int s = 0; s < 8; ++s)
        if (points[static_cast<size_t>(group * 8 + s)]) v = static_cast<uint8_t>(v | 1 << s);
    return v;
}

void SetPointsByte(std::array<bool, 96>& points, int group, uint8_t v) {
    for (int s = 0; s < 8; ++s) points[static_cast<size_t>(group * 8 + s)] = (v >> s) & 1;
}

size_t ElementSize(uint8_t type) {
    switch (type) {
        case 1: return 1;
        case 2: case 3: return 2;
        case 4: case 5: return 4;
        case 6: return 3;
        default: return 0;
    }
}

int64_t Clamp(double v, int64_t lo, int64_t hi) {
    if (!(v == v)) return 0;
    if (v <= static_cast<double>(lo)) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<int64_t>(std::trunc(v));
}

}  // namespace

StationImage::StationImage(StationDef d) : def(std::move(d)) {
    if (def.memoryIn.size() < 100) def.memoryIn.resize(100);
    if (def.memoryOut.size() < 100) def.memoryOut.resize(100);
    for (const QqItemDef& item : def.qqItems) {
        const int chunks = item.type == 7 ? 8 : 1;
        for (int k = 0; k < chunks; ++k)
            qq[QqKey(item.d, item.b, static_cast<uint8_t>(item.a + k))] = {0, 0, 0, 0};
    }
    // The history ring's items: 50 000 records, empty (Top and every UserPos at record 0).
    qq[QqKey(0, 0, 1)] = EncodeLong(1);
    qq[QqKey(kHistoryGroup, 1, kHistoryItem13)] = {0, 0, 0, 0};
    qq[QqKey(kHistoryGroup, 1, kHistoryTopItem)] = {0, 0, 0, 0};
    for (int user = 1; user <= kHistoryUsers; ++user) qq[QqKey(kHistoryGroup, 1, HistoryUserItem(user))] = {0, 0, 0, 0};
    for (auto& table : samples) table.assign(kSampleRows * kSampleRowBytes, 0);
}

void StationImage::SetAnalogValue(int n, double value) {
    if (n < 1 || n > 64) return;
    const auto r = EncodeStationReal(value);
    for (int i = 0; i < 3; ++i) memory[(def.analogAddress + 3 * (n - 1) + i) & 0xFFFF] = r[static_cast<size_t>(i)];
}

void StationImage::SetMemoryEntry(const MemoryEntry& e, double value) {
    switch (e.type) {
        case 1: memory[e.address] = static_cast<uint8_t>(Clamp(value, 0, 255)); break;
        case 2: {
            const auto w = static_cast<uint16_t>(Clamp(value, 0, 65535));
            memory[e.address] = static_cast<uint8_t>(w & 0xFF);
            memory[(e.address + 1) & 0xFFFF] = static_cast<uint8_t>(w >> 8);
            break;
        }
        default: {
            const auto r = EncodeStationReal(value);
            for (int i = 0; i < 3; ++i) memory[(e.address + i) & 0xFFFF] = r[static_cast<size_t>(i)];
        }
    }
}

double StationImage::MemoryEntryValue(const MemoryEntry& e) const {
    const uint8_t b0 = memory[e.address], b1 = memory[(e.address + 1) & 0xFFFF], b2 = memory[(e.address + 2) & 0xFFFF];
    switch (e.type) {
        case 1: return b0;
        case 2: return b0 | b1 << 8;
        default: return DecodeStationReal(b0, b1, b2);
    }
}

bool StationImage::SetBlockItem(size_t block, size_t item, double value) {
    if (block < 1 || block > def.blocks.size()) return false;
    const BlockDef& b = def.blocks[block - 1];
    if (item < 1 || item > b.types.size()) return false;
    uint32_t address = b.address;
    for (size_t i = 0; i + 1 < item; ++i) address += static_cast<uint32_t>(ElementSize(b.types[i]));
    Bytes bytes;
    switch (b.types[item - 1]) {
        case 1: bytes += Char(static_cast<unsigned>(Clamp(value, 0, 255))); break;
        case 2: case 3: {
            const auto w = static_cast<uint16_t>(Clamp(value, b.types[item - 1] == 3 ? -32768 : 0,
                                                       b.types[item - 1] == 3 ? 32767 : 65535));
            bytes += Char(w & 0xFF);
            bytes += Char(w >> 8);
            break;
        }
        case 4: case 5: {
            const auto l = static_cast<uint32_t>(Clamp(value, b.types[item - 1] == 5 ? INT32_MIN : 0,
                                                       b.types[item - 1] == 5 ? INT32_MAX : UINT32_MAX));
            for (uint8_t x : EncodeLong(l)) bytes += Char(x);
            break;
        }
        default:
            for (uint8_t x : EncodeStationReal(value)) bytes += Char(x);
    }
    for (size_t i = 0; i < bytes.size(); ++i) memory[(address + i) & 0xFFFF] = Byte(bytes[i]);
    return true;
}

bool StationImage::SetSampleRow(int table, int row, const std::array<int, 6>& dateTime, uint8_t state,
                                const std::array<double, 8>& values) {
    if (table < 1 || table > 3 || row < 1 || row > kSampleRows) return false;
    uint8_t* p = samples[static_cast<size_t>(table - 1)].data() + (row - 1) * kSampleRowBytes;
    for (size_t i = 0; i < 6; ++i) p[i] = EncodeBcd(dateTime[i]);
    p[6] = state;
    for (size_t k = 0; k < 8; ++k) {
        const auto r = EncodeStationReal(values[k]);
        std::memcpy(p + 7 + 3 * k, r.data(), 3);
    }
    return true;
}

bool StationImage::SetHistoryRecord(uint32_t record, uint16_t word, uint32_t seconds, float value) {
    if (record >= kHistoryRecords) return false;
    if (history.empty()) history.assign(kHistoryBytes, 0);
    uint8_t* p = history.data() + record * 10;
    p[0] = static_cast<uint8_t>(word & 0xFF);
    p[1] = static_cast<uint8_t>(word >> 8);
    std::memcpy(p + 2, EncodeLong(seconds).data(), 4);
    std::memcpy(p + 6, EncodeSingle(value).data(), 4);
    return true;
}

uint32_t StationImage::HistoryTop() const {
    const auto it = qq.find(QqKey(kHistoryGroup, 1, kHistoryTopItem));
    return it == qq.end() ? 0 : DecodeLong(it->second.data());
}

void StationImage::SetHistoryTop(uint32_t top) { qq[QqKey(kHistoryGroup, 1, kHistoryTopItem)] = EncodeLong(top); }

bool StationImage::HistoryUserPos(int user, uint32_t& pos) const {
    if (user < 1 || user > kHistoryUsers) return false;
    const auto it = qq.find(QqKey(kHistoryGroup, 1, HistoryUserItem(user)));
    pos = it == qq.end() ? 0 : DecodeLong(it->second.data());
    return true;
}

bool StationImage::SetHistoryUserPos(int user, uint32_t pos) {
    if (user < 1 || user > kHistoryUsers) return false;
    qq[QqKey(kHistoryGroup, 1, HistoryUserItem(user))] = EncodeLong(pos);
    return true;
}

void StationImage::AppendHistory(uint16_t word, uint32_t seconds, float value) {
    uint32_t record = HistoryTop();
    if (record >= kHistoryRecords) record = 0;
    SetHistoryRecord(record, word, seconds, value);
    SetHistoryTop((record + 1) % kHistoryRecords);
}

void StationImage::ReadExtended(uint32_t address, uint8_t* out, size_t count) {
    std::memset(out, 0, count);
    const uint8_t bank = static_cast<uint8_t>(address >> 16);
    if (bank >= 0xF0 && bank <= 0xF7) {
        if (historyReader) {
            historyReader(address, out, count);
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            const uint32_t offset = address + static_cast<uint32_t>(i) - kHistoryBase;
            if (offset < history.size()) out[i] = history[offset];
        }
        return;
    }
    if (const int table = SampleTableOf(bank)) {
        const auto& t = samples[static_cast<size_t>(table - 1)];
        for (size_t i = 0; i < count; ++i) {
            const uint32_t a = (address & 0xFFFF) + static_cast<uint32_t>(i);
            if (a >= kSampleBase && a - kSampleBase < t.size()) out[i] = t[a - kSampleBase];
        }
    }
}

bool ParseRequest(std::string_view frame, std::string_view presuffix, Request& out) {
    if (frame.size() < 7 || frame[2] != 'Y') return false;
    out.retranslation = Byte(frame[0]);
    out.driver = Byte(frame[3]);
    out.station = Byte(frame[4]);
    std::string_view body = frame.substr(6, frame.size() - 7);
    if (!presuffix.empty() && body.size() >= presuffix.size() &&
        body.substr(body.size() - presuffix.size()) == presuffix)
        body.remove_suffix(presuffix.size());
    out.body.assign(body);
    return true;
}

Bytes AnswerItems(StationImage& st, std::string_view body) {
    Bytes out;
    if (body.empty()) return out;
    auto at = [&](size_t i) -> uint8_t { return i < body.size() ? Byte(body[i]) : 0; };
    const char letter = body[0];
    const uint8_t mask = at(1);
    switch (letter) {
        case 'B': {
            out += 'B';
            out += Char(mask);
            if (mask == 0)
                for (int g = 0; g < 12; ++g) out += Char(PointsByte(st.binaryIn, g));
            else
                for (int g = 0; g < 8; ++g)
                    if (mask >> g & 1) out += Char(PointsByte(st.binaryIn, g));
            return out;
        }
        case 'b': {
            size_t p = 2;
            if (mask == 0)
                for (int g = 0; g < 12 && p < body.size(); ++g) SetPointsByte(st.binaryOut, g, at(p++));
            else
                for (int g = 0; g < 8 && p < body.size(); ++g)
                    if (mask >> g & 1) SetPointsByte(st.binaryOut, g, at(p++));
            out += 'b';
            out += Char(mask);
            if (mask == 0)
                for (int g = 0; g < 12; ++g) out += Char(PointsByte(st.binaryOut, g));
            else
                for (int g = 0; g < 8; ++g)
                    if (mask >> g & 1) out += Char(PointsByte(st.binaryOut, g));
            return out;
        }
        case 'A': {
            out += 'A';
            out += Char(mask);
            for (int g = 0; g < 8; ++g)
                if (mask >> g & 1)
                    for (int i = 0; i < 8; ++i) PutWordHighFirst(out, st.analogRaw[static_cast<size_t>(8 * g + i)]);
            return out;
        }
        case 'C': {
            out += 'C';
            out += Char(mask);
            for (int g = 0; g < 6; ++g) {
                if (!(mask >> g & 1)) continue;
                for (int i = 0; i < 8; ++i) {
                    uint16_t& count = st.counters[static_cast<size_t>(8 * g + i)];
                    if (mask & 0x80) count = 0;  // read and reset: the answer carries no counts
                    else PutWordHighFirst(out, count);
                }
            }
            return out;
        }
        case 'N': {
            const uint16_t address = static_cast<uint16_t>(at(1) | at(2) << 8);
            const uint8_t count = at(3);
            out += 'N';
            out += Char(address & 0xFF);
            out += Char(address >> 8);
            out += Char(count);
            for (int i = 0; i < count; ++i) out += Char(st.memory[(address + i) & 0xFFFF]);
            return out;
        }
        case 'n': {
            const uint16_t address = static_cast<uint16_t>(at(1) | at(2) << 8);
            const uint8_t count = at(3);
            for (size_t i = 0; i < count && 4 + i < body.size(); ++i)
                st.memory[(address + i) & 0xFFFF] = Byte(body[4 + i]);
            out.assign(body.substr(0, std::min<size_t>(body.size(), 4 + count)));
            return out;
        }
        case 'K': case 'k': {
            size_t p = 2;
            out += letter;
            out += Char(mask);
            for (int g = 0; g < 8; ++g) {
                if (!(mask >> g & 1)) continue;
                if (letter == 'k' && p + 3 <= body.size()) {
                    st.constants[static_cast<size_t>(g)] = DecodeStationReal(at(p), at(p + 1), at(p + 2));
                    p += 3;
                }
                for (uint8_t x : EncodeStationReal(st.constants[static_cast<size_t>(g)])) out += Char(x);
            }
            return out;
        }
        case 'Q': {
            const char sub = body.size() > 1 ? body[1] : '\0';
            if (sub == 'q') {
                out += "Qq";
                for (size_t p = 2; p + 3 <= body.size(); p += 3) {
                    const auto it = st.qq.find(StationImage::QqKey(at(p), at(p + 1), at(p + 2)));
                    const auto& v = it == st.qq.end() ? kQqInvalid : it->second;
                    for (uint8_t x : v) out += Char(x);
                }
                return out;
            }
            if (sub == 'Q') {
                out += "QQ";
                for (size_t p = 2; p + 7 <= body.size(); p += 7) {
                    std::array<uint8_t, 4> v{at(p + 3), at(p + 4), at(p + 5), at(p + 6)};
                    st.qq[StationImage::QqKey(at(p), at(p + 1), at(p + 2))] = v;
                    out.append(body.substr(p, 7));
                }
                return out;
            }
            if (sub == 'N') {
                const uint8_t kind = at(2);
                const uint16_t address = static_cast<uint16_t>(at(3) | at(4) << 8);
                const uint8_t count = at(5);
                std::vector<uint8_t> data(count);
                st.ReadExtended(uint32_t{kind} << 16 | address, data.data(), data.size());
                out += "QN";
                out += Char(kind);
                out += Char(address & 0xFF);
                out += Char(address >> 8);
                out += Char(count);
                for (uint8_t x : data) out += Char(x);
                out += '\0';  // status byte after the data: 00 = read complete
                return out;
            }
            break;
        }
        default: break;
    }
    out = "E";
    out += Char(6);  // a request the station does not know: "wrong request from PC"
    return out;
}

Bytes FrameAnswer(Layout layout, uint8_t driver, uint8_t station, std::string_view items, bool report) {
    Bytes frame;
    if (layout == Layout::Routed) {
        frame += Char(driver);
        frame += '\0';
        frame += report ? 'Y' : 'y';
        frame += Char(station);
        frame += Char(driver);
        frame += Char(station);
    } else {
        frame += Char(station);
        frame += '\0';
    }
    frame.append(items);
    frame[1] = Char(static_cast<unsigned>(frame.size() - 1));  // everything after L, with the check byte
    frame += Char(XorOf(frame));
    return frame;
}

}  // namespace zksim
