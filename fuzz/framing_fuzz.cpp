// Arbitrary line bytes through the receive framing, arriving in pieces between the calls, and
// every stored frame through the decoder. Checks the framing's own promises on the way.
//
// Input: byte 0 chooses the PREFIX (length 0..3 from bits 0-1, bytes FF or the input's next
// bytes by bit 2) and the driver's address (bit 3: 1, else the next byte); then pieces, each a
// length byte (low 5 bits: bytes to arrive; bits 5-6: calls to make) and its bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/records.h"
#include "worker/steps.h"
#include "worker/decoder.h"
#include "protocol/framing.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    std::uint8_t next() { return at < size ? data[at++] : 0; }
};

void AddStation(zk::DriverContext& ctx, int index, std::uint8_t address) {
    auto s = std::make_unique<zk::StationRecord>();
    s->Address = address;
    s->Name.assign("FUZZ");
    s->NumMemoryIn = 2;
    s->MemoryIn[1].Address = 0x0100;
    s->MemoryIn[2].Address = 0x0102;
    ctx.Stations[static_cast<std::size_t>(index)] = std::move(s);
    ctx.StationCount = static_cast<std::uint8_t>(index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    zk::DriverContext ctx;
    ctx.Table.TextTable = std::make_unique<zk::TextRow[]>(zk::kTableRows);
    AddStation(ctx, 1, 1);
    AddStation(ctx, 2, 5);

    const std::uint8_t setup = in.next();
    const unsigned prefixLength = setup & 3u;
    for (unsigned i = 0; i < prefixLength; ++i) ctx.Global.PREFIX.append(static_cast<char>(setup & 4u ? in.next() : 0xFF));
    ctx.Global.ADDRESS = setup & 8u ? 1 : in.next();
    ctx.Framing.LastTxMessage.assign("request");

    std::size_t stored = 0;
    auto step = [&] {
        const std::size_t before = ctx.ReceiveQueue.Entries.size();
        const bool result = zk::ReceiveFrame(ctx);
        Check(ctx.Framing.PrefixWindow.size() <= ctx.Global.PREFIX.size());
        Check(ctx.Framing.RxFrame.empty() || ctx.Framing.RxFrame.size() == 2);
        Check(ctx.ReceiveQueue.Entries.size() == before + (result ? 1 : 0));
        if (result) {
            ++stored;
            const zk::ReceiveEntry& e = ctx.ReceiveQueue.Entries.back();
            Check(zk::XorCheck(e.Frame.view()));
            Check(e.Frame.size() == 2u + e.Frame.byte(1));
            Check(ctx.Framing.LastTxMessage.empty());
        }
    };

    while (in.more()) {
        const std::uint8_t piece = in.next();
        const unsigned count = piece & 31u;
        for (unsigned i = 0; i < count && in.more(); ++i) ctx.Line.Rx.push_back(in.next());
        for (unsigned call = 0; call <= ((piece >> 5) & 3u); ++call) step();
    }
    // Whatever is left on the line: call until nothing moves any more.
    for (std::size_t guard = 0; guard < 4 * size + 8; ++guard) {
        const std::size_t before = ctx.Line.Rx.size();
        const bool stage = ctx.Framing.RxFrame.empty();
        step();
        if (ctx.Line.Rx.size() == before && ctx.Framing.RxFrame.empty() == stage) break;
    }
    Check(ctx.Framing.AcceptedCount.load() == static_cast<double>(stored));

    while (!ctx.ReceiveQueue.Entries.empty()) zk::ExtractDATA(ctx);
    return 0;
}
