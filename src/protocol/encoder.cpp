// The request encoder. A request frame is
//   PREFIX | RETRANSLATION | L | "Y" own-address station-address own-address | body | PRESUFFIX | X | SUFFIX
// where L counts the bytes after itself up to and including X, and X is the XOR of everything
// from RETRANSLATION to the last PRESUFFIX byte. PREFIX and SUFFIX stay outside L and X.
#include "protocol/encoder.h"

#include <algorithm>
#include <optional>
#include <string>

#include "base/format.h"
#include "diag/log.h"
#include "protocol/encodings.h"

namespace zk {

namespace {

constexpr std::size_t kFrameLimit = 255;

// The mask of the complete groups of eight among `count` inputs, group 1 in bit 0.
std::uint8_t GroupMask(unsigned count) {
    const unsigned groups = std::min(count / 8, 8u);
    return static_cast<std::uint8_t>((1u << groups) - 1u);
}

void PutByte(std::string& s, unsigned b) { s.push_back(static_cast<char>(b & 0xFF)); }

void PutWord(std::string& s, unsigned w) {  // low byte first
    PutByte(s, w);
    PutByte(s, w >> 8);
}

// The output bits of group g (0..11): bit s is output 8g + s + 1.
std::uint8_t OutputByte(const StationRecord& st, unsigned g) {
    std::uint8_t b = 0;
    for (unsigned s = 0; s < 8; ++s)
        if (st.BinaryOut[8 * g + s + 1]) SetBitInByte(b, s);
    return b;
}

// The value limited to 0..limit with its fraction cut (NaN gives 0).
unsigned LimitedWhole(double v, double limit) {
    if (!(v > 0.0)) return 0;
    if (v > limit) v = limit;
    return static_cast<unsigned>(TruncToInt64(v));
}

bool IsMemoryEntry(std::uint16_t n) { return n >= 1 && n <= 100; }

using Body = std::optional<std::string>;  // nullopt: the request cannot be built

Body MemoryWriteBody(const StationRecord& st, std::uint16_t entry) {
    if (st.NumMemoryOut == 0 || !IsMemoryEntry(entry)) return std::nullopt;
    const MemoryEntry& e = st.MemoryOut[entry];
    std::string b;
    if (e.Type < 1 || e.Type > 3) return b;  // no body, the frame still goes out
    b = "n";
    PutWord(b, e.Address);
    PutByte(b, e.Type);
    if (e.Type == 1) PutByte(b, LimitedWhole(e.Value, 255.0));
    else if (e.Type == 2) PutWord(b, LimitedWhole(e.Value, 65535.0));
    else b += FloatToStationReal(e.Value).view();
    return b;
}

Body MemoryReadBody(LogState& log, const StationRecord& st, std::uint16_t entry) {
    if (st.NumMemoryIn == 0) return std::nullopt;
    std::string b = "N";
    std::uint16_t address = 0;
    if (st.WholeBlockRead) {
        address = st.MemoryIn[1].Address;
        PutWord(b, address);
        PutByte(b, 3u * st.NumMemoryIn);
        WriteLog(log, "CodeMess MI whole block, adr", Fmt("%5u", static_cast<unsigned>(address)));
    } else {
        if (!IsMemoryEntry(entry)) return std::nullopt;
        address = st.MemoryIn[entry].Address;
        PutWord(b, address);
        PutByte(b, st.MemoryIn[entry].Type);
        WriteLog(log, "CodeMess MI, adr", Fmt("%5u", static_cast<unsigned>(address)));
    }
    return b;
}

Body BinaryOutputBody(const StationRecord& st) {
    if (st.NumBinarOut == 0) return std::nullopt;
    std::string b = "b";
    if (st.NumBinarOut > 64) {
        PutByte(b, 0);
        for (unsigned g = 0; g < 12; ++g) PutByte(b, OutputByte(st, g));
    } else {
        const std::uint8_t mask = GroupMask(st.NumBinarOut);
        PutByte(b, mask);
        for (unsigned g = 0; g < 8; ++g)
            if (BitOfByte(mask, g)) PutByte(b, OutputByte(st, g));
    }
    return b;
}

Body BlockItemWriteBody(const RequestNode& r) {
    const MemoryBlock* block = r.Key;
    if (!block || r.Word == 0 || r.Word > block->Types.size()) return std::nullopt;
    const std::uint8_t size = ElementSize(block->Types.byte(r.Word - 1u));
    if (size == 0) return std::nullopt;
    unsigned address = block->Addr;
    for (unsigned i = 0; i + 1 < r.Word; ++i) {
        const std::uint8_t s = ElementSize(block->Types.byte(i));
        if (s == 0) return std::nullopt;
        address += s;
    }
    std::string b = "n";
    PutWord(b, address);
    PutByte(b, size);
    std::string data(Cut(r.Data.view(), size));
    data.resize(size, '\0');
    return b + data;
}

Body RequestBody(LogState& log, const StationRecord& st, const RequestNode& r) {
    switch (r.Kind) {
        case ReqBinaryInputs:
            if (st.NumBinarIn == 0) return std::nullopt;
            return std::string("B") + static_cast<char>(st.NumBinarIn > 64 ? 0 : GroupMask(st.NumBinarIn));
        case ReqAnalogArea: {
            if (st.NumAnalogIn == 0) return std::nullopt;
            std::string b = "N";
            PutWord(b, st.DefAnalogInAddr);
            PutByte(b, 3u * st.NumAnalogIn);
            return b;
        }
        case ReqCounters:
        case ReqCountersReset:
            if (st.NumCounterIn == 0 || st.NumCounterIn > 48) return std::nullopt;
            return std::string("C") +
                   static_cast<char>(GroupMask(st.NumCounterIn) | (r.Kind == ReqCountersReset ? 0x80 : 0x00));
        case ReqBinaryOutputs: return BinaryOutputBody(st);
        case ReqMemoryWrite: return MemoryWriteBody(st, r.Word);
        case ReqMemoryRead: return MemoryReadBody(log, st, r.Word);
        case ReqAnalogMorvel:
            if (st.NumAnalogIn == 0 || st.NumAnalogIn > 64) return std::nullopt;
            return std::string("A") + static_cast<char>(GroupMask(st.NumAnalogIn));
        case ReqConstantsRead: return std::string("K\xFF");
        case ReqConstantsWrite: {
            std::string b = "k\xFF";
            for (int n = 1; n <= 8; ++n) b += FloatToStationReal(st.MemoryOut[static_cast<std::size_t>(n)].Value).view();
            return b;
        }
        case ReqChannelWrite: return "QQ" + r.Data.str();
        case ReqChannelRead: return "Qq" + r.Data.str();
        case ReqBlockRead: {
            if (!r.Key) return std::nullopt;
            std::string b = "N";
            PutWord(b, r.Key->Addr);
            PutByte(b, r.Key->TotalSize);
            return b;
        }
        case ReqBlockItemWrite: return BlockItemWriteBody(r);
        case ReqSamples1:
        case ReqSamples2:
        case ReqSamples3:
        case ReqSamplesAlt1:
        case ReqSamplesAlt2:
        case ReqSamplesAlt3: {
            std::string b = "QN";
            PutByte(b, static_cast<unsigned>(r.Kind));
            PutWord(b, r.Word);
            PutByte(b, 0xBA);
            return b;
        }
        case ReqRestart: return std::string("b\x01\xFF", 3);
        default:
            if (r.Kind >= ReqHistoryFirst && r.Kind <= ReqHistoryLast) {
                if (r.Data.empty()) return std::nullopt;  // no count to ask for
                std::string b = "QN";
                PutByte(b, static_cast<unsigned>(r.Kind));
                PutWord(b, r.Word);
                PutByte(b, r.Data.byte(0));
                return b;
            }
            return std::string();  // kinds 10..14 and unknown kinds: a frame with an empty body
    }
}

}  // namespace

Str255 CodeMess(const GlobalSettings& settings, const StationRecord* st, const RequestNode& request,
                LogState& log) {
    Str255 result;
    const unsigned stationAddress = st ? st->Address : 0;
    if (st) {
        if (const Body body = RequestBody(log, *st, request)) {
            std::string frame;
            PutByte(frame, st->Retranslation);
            PutByte(frame, 0);  // L, set below
            frame += 'Y';
            PutByte(frame, settings.ADDRESS);
            PutByte(frame, st->Address);
            PutByte(frame, settings.ADDRESS);
            frame += *body;
            frame += settings.PRESUFFIX.view();
            const std::size_t total = settings.PREFIX.size() + frame.size() + 1 + settings.SUFFIX.size();
            // A frame that does not fit 255 bytes would leave with a cut body or without its
            // check byte: such a request is not sent at all.
            if (total <= kFrameLimit) {
                frame[1] = static_cast<char>(frame.size() - 1);
                std::uint8_t x = 0;
                for (const char c : frame) x ^= static_cast<std::uint8_t>(c);
                PutByte(frame, x);
                result.assign(settings.PREFIX.view());
                result += frame;
                result += settings.SUFFIX.view();
            } else {
                WriteLog(log, "CodeMess", Fmt("frame too long (%u bytes)", static_cast<unsigned>(total)));
            }
        }
    }
    WriteLog(log, "CodeMess",
             Fmt("STadr:%03u typ:%03u", stationAddress, static_cast<unsigned>(request.Kind) & 0xFFu));
    return result;
}

}  // namespace zk
