// Arbitrary bytes from the modem's side of the line, arriving between the worker's passes,
// while the host asks for the modem's initialisation, dials, hangs up, reads and writes: the
// reply collector, the modem machine, the scheduler, the receive framing and the decoder take
// whatever comes. Nothing crashes, and the machine's state stays one it knows.
//
// Input: a series of operations, each an operation byte followed by its arguments:
//   0 bytes arrive        count (1 byte, low 6 bits), the bytes
//   1 the clock moves on  hundredths (2 bytes)
//   2 worker passes       count (1 byte, low 3 bits + 1)
//   3 reply collector     terminator (1 byte; 0 = none): one step of gathering a reply by itself
//   4 host call           which (1 byte): modem init, hang-up, dial or hang up a station, a read,
//                         a write, the queues cleared
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>

#include "fuzz_instance.h"
#include "host/requests.h"
#include "line/modem.h"
#include "worker/pass.h"

namespace {

void Pass(zkfuzz::Instance& instance) {
    zk::DriverContext& ctx = instance.ctx;
    std::lock_guard lock(ctx.Lock);
    ctx.Line.Active = true;
    zk::RunPassSteps(*instance.rec);
    zkfuzz::Check(static_cast<int>(ctx.Modem.ModemState) <= 3);
    // What the pass queued for the port is gone once written.
    ctx.Line.Outbox.clear();
    ctx.Line.PurgeRequested = false;
    ctx.Line.PurgeAfter = 0;
    ctx.ReopenPortRequested = false;
}

void HostCall(zk::DriverRecord& rec, std::uint8_t which) {
    switch (which % 10) {
        case 0: zk::OutputRequest(rec, 60293, zk::HostBoolean, 1); break;  // the modem's initialisation
        case 1: zk::OutputRequest(rec, 60295, zk::HostBoolean, 1); break;  // hang up
        case 2: zk::OutputRequest(rec, 476, zk::HostBoolean, 1); break;    // dial station 1
        case 3: zk::OutputRequest(rec, 976, zk::HostBoolean, 1); break;    // dial station 2
        case 4: zk::OutputRequest(rec, 476, zk::HostBoolean, 0); break;    // station 1 hangs up
        case 5: zk::InputRequest(rec, 2001); break;
        case 6: zk::OutputRequest(rec, 2002, zk::HostU16, which); break;
        case 7: zk::OutputRequest(rec, 472, zk::HostBoolean, 1); break;    // read the binary inputs
        case 8: zk::OutputRequest(rec, 65531, zk::HostBoolean, 1); break;  // clear the queues
        default: zk::InputRequest(rec, 2004); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zkfuzz::Instance instance;
    zkfuzz::Check(instance.loaded);
    zk::DriverContext& ctx = instance.ctx;
    zkfuzz::Input in{data, size};
    while (in.more()) {
        switch (in.u8() % 5) {
            case 0: {
                const unsigned count = in.u8() & 63u;
                std::lock_guard lock(ctx.Lock);
                for (unsigned i = 0; i < count && in.more(); ++i) ctx.Line.Rx.push_back(in.u8());
                break;
            }
            case 1: instance.Advance(in.u16()); break;
            case 2: {
                const unsigned count = (in.u8() & 7u) + 1;
                for (unsigned i = 0; i < count; ++i) Pass(instance);
                break;
            }
            case 3: {
                const char terminator = static_cast<char>(in.u8());
                std::lock_guard lock(ctx.Lock);
                zk::CollectReply(ctx.Modem, ctx.Line, terminator ? std::string_view(&terminator, 1) : std::string_view());
                zkfuzz::Check(ctx.Modem.ReplyText.size() <= 255);
                break;
            }
            default: HostCall(*instance.rec, in.u8()); break;
        }
    }
    // The line falls silent: the passes run out whatever is left, with time moving on.
    for (int i = 0; i < 8; ++i) {
        instance.Advance(400);
        Pass(instance);
    }
    return 0;
}
