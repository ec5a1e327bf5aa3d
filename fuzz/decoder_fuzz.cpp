// Arbitrary frames through the parse of an answer, which must keep every view inside the frame
// and end where an item ended; then the frames and stored request texts through the decoder's
// apply step, against two stations with
// channel items of every type and direction, memory inputs, memory blocks, a host buffer of
// exactly the granted size and the sample table. The frame's check byte is made right, as the
// framing only hands over checked frames.
//
// Input: byte 0 flags (bit 0 whole-block memory inputs, bit 1 answered call, bits 2-3 the
// memory-block kind table, bits 4-5 the history read-out state, bit 6 the station has a phone,
// bit 7 the request is encoded from the input instead of taken as it is); byte 1 the PREFIX
// and PRESUFFIX lengths (bits 0-1, 2-3) and SUFFIX (bit 4); byte 2 the request's length; then the
// request's bytes and the frame.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/records.h"
#include "support/builders.h"
#include "worker/steps.h"
#include "worker/decoder.h"
#include "protocol/answer.h"
#include "protocol/encoder.h"

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::uint8_t next() { return at < size ? data[at++] : 0; }
    std::string take(std::size_t n) {
        n = std::min(n, size - at);
        std::string s(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return s;
    }
};

void AddChannel(zk::StationRecord& s, std::uint8_t type, std::uint8_t direction, std::uint8_t d, std::uint8_t b,
                std::uint8_t a) {
    zktest::AddChannelItem(s, 0, type, direction, d, b, a);
}

void AddBlock(zk::StationRecord& s, std::uint16_t addr, std::initializer_list<int> types) {
    zktest::AddMemoryBlock(s, addr, types);
}

std::unique_ptr<zk::StationRecord> MakeStation(std::uint8_t address, bool wholeBlock, bool phone) {
    auto s = std::make_unique<zk::StationRecord>();
    s->Address = address;
    s->Retranslation = address;
    s->Name.assign(std::string(80, 'S'));
    s->NumBinarIn = 96;
    s->NumAnalogIn = 64;
    s->NumCounterIn = 48;
    s->DefAnalogInAddr = 0x0200;
    s->NumMemoryIn = 45;
    s->WholeBlockRead = wholeBlock;
    for (int n = 1; n <= 45; ++n) {
        s->MemoryIn[static_cast<std::size_t>(n)].Address = static_cast<std::uint16_t>(0x0100 + n);
        s->MemoryIn[static_cast<std::size_t>(n)].Type = static_cast<std::uint8_t>(n % 5);
    }
    for (int n = 1; n <= 48; ++n) s->Counters[static_cast<std::size_t>(n)].Mode = static_cast<std::uint8_t>(n % 3);
    if (phone) s->PhoneNumber.assign("5551234");
    for (std::uint8_t type = 1; type <= 8; ++type)
        for (std::uint8_t dir = 1; dir <= 3; ++dir) AddChannel(*s, type, dir, 0, type, static_cast<std::uint8_t>(dir * 8));
    AddChannel(*s, zk::QqString, zk::DirRead, 0, 40, 250);
    AddChannel(*s, zk::QqLongint, zk::DirBidir, 186, 1, 13);
    AddBlock(*s, 0x0300, {1, 2, 3, 4, 5, 6});
    AddBlock(*s, 0x0300, {6, 6, 0, 1});
    AddBlock(*s, 0x0101, {2});
    std::initializer_list<int> many = {6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                                                6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                                                6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                                                6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6};
    AddBlock(*s, 0x0400, many);
    return s;
}

bool Inside(std::string_view view, std::string_view frame) {
    return view.empty() || (view.data() >= frame.data() && view.data() + view.size() <= frame.data() + frame.size() - 1);
}

// The parse reads nothing past the byte before the check byte and stops where it says.
void CheckParse(std::string_view frame) {
    const zk::Answer a = zk::ParseAnswer(frame);
    if (a.stopAt > frame.size()) __builtin_trap();
    if ((a.stop == zk::ParseStop::FrameEnd) != (a.stopAt == 0)) __builtin_trap();
    bool report = false;
    for (const zk::AnswerItem& item : a.items) {
        if (const auto* m = std::get_if<zk::MemoryReadItem>(&item); m && !Inside(m->data, frame)) __builtin_trap();
        if (const auto* b = std::get_if<zk::BlockDataItem>(&item)) {
            if (!Inside(b->data, frame)) __builtin_trap();
            if (b->samples)
                for (const zk::SampleRow& r : *b->samples)
                    for (const std::string_view c : r.cells)
                        if (c.size() != 3 || !Inside(c, frame)) __builtin_trap();
        }
        if (const auto* q = std::get_if<zk::QqValuesItem>(&item); q && 4 * q->values.size() > frame.size()) __builtin_trap();
        report = report || std::holds_alternative<zk::ActiveReportItem>(item) ||
                 std::holds_alternative<zk::ControlErrorItem>(item);
    }
    if (report == a.acknowledgement.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    const std::uint8_t flags = in.next();
    const std::uint8_t framing = in.next();
    const std::uint8_t requestLength = in.next();

    zk::DriverContext ctx;
    ctx.Table.TextTable = std::make_unique<zk::TextRow[]>(zk::kTableRows);
    std::vector<std::uint8_t> host(zk::kHostBufferSize);  // exactly what the host grants
    ctx.HostBuffer = host.data();
    ctx.Global.ADDRESS = 1;
    ctx.Stations[1] = MakeStation(1, flags & 1u, flags & 64u);
    ctx.Stations[2] = MakeStation(5, !(flags & 1u), !(flags & 64u));
    ctx.StationCount = 2;
    ctx.AnsweredCall = flags & 2u;
    ctx.Table.MbKindIndex = static_cast<std::uint8_t>(((flags >> 2) & 3u) | 1u);
    static constexpr zk::HdbReadState kStates[4] = {zk::HdbReadState::Start, zk::HdbReadState::Reading,
                                                   zk::HdbReadState::PositionQuery, zk::HdbReadState::WriteBack};
    ctx.History.HdbReadState = kStates[(flags >> 4) & 3u];
    ctx.Global.PREFIX.assign(std::string(framing & 3u, '\xFF'));
    ctx.Global.PRESUFFIX.assign(std::string((framing >> 2) & 3u, '\x0D'));
    if (framing & 16u) ctx.Global.SUFFIX.assign("\r\n");

    std::string request = in.take(requestLength);
    if (flags & 128u) {
        // A request as the scheduler sends it: the input's bytes are its kind, word and data.
        zk::RequestNode r;
        r.Station = static_cast<std::uint8_t>(request.empty() ? 2 : 1 + (request[0] & 1));
        r.Kind = request.size() > 1 ? static_cast<std::uint8_t>(request[1]) : zk::ReqChannelRead;
        r.Word = request.size() > 3 ? static_cast<std::uint16_t>(static_cast<std::uint8_t>(request[2]) |
                                                                  static_cast<std::uint8_t>(request[3]) << 8)
                                    : 1;
        if (request.size() > 4) r.Data.assign(std::string_view(request).substr(4));
        zk::StationRecord& st = *ctx.Stations[r.Station];
        if (!st.MemoryBlocks.empty()) r.Key = st.MemoryBlocks[r.Word % st.MemoryBlocks.size()].get();
        request = zk::EncodeRequest(ctx, r).str();
    }

    std::string frame = in.take(255);
    if (!frame.empty()) {
        std::uint8_t x = 0;
        for (std::size_t i = 0; i + 1 < frame.size(); ++i) x ^= static_cast<std::uint8_t>(frame[i]);
        frame.back() = static_cast<char>(x);
    }
    CheckParse(frame);
    zk::DecodeMess(ctx, frame, request);
    if (ctx.Scheduler.AckPending && ctx.Scheduler.AckText.empty()) __builtin_trap();
    return 0;
}
