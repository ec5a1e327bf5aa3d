// Any sequence of the host's calls on an instance with a loaded parameter file: GetInput,
// InputRequest and OutputRequest with any channel, type and value, and DriverProc with any
// code and arguments. Every call is handled or ignored; none crashes, reads outside its records
// or leaves the queues inconsistent.
//
// Input: a series of operations, each an operation byte followed by its arguments:
//   0 GetInput      channel (2 bytes), type (1 byte: a host type, or 0xFF..: the raw 32-bit type follows)
//   1 InputRequest  channel
//   2 OutputRequest channel, type, value (8 bytes)
//   3 DriverProc    code (1 byte: 0..9, or 10 for the window as text into a buffer of the
//                   size p3 mod 257), p1..p4 (4 bytes each)
//   4 the clock moves on (1 byte of hundredths)
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_instance.h"
#include "protocol/queues.h"
#include "host/requests.h"
#include "zkdrv.h"

namespace {

std::uint32_t Type(zkfuzz::Input& in) {
    const std::uint8_t t = in.u8();
    return t < 0xF0 ? t % 14u : in.u32();
}

// The links run both ways and the count matches them.
void CheckQueue(const zk::RequestQueue& q) {
    std::size_t n = 0;
    const zk::RequestNode* last = nullptr;
    for (const zk::RequestNode* r = q.Head; r; r = r->Next) {
        zkfuzz::Check(r->Prev == last);
        last = r;
        ++n;
    }
    zkfuzz::Check(q.Tail == last);
    zkfuzz::Check(q.Count == n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zkfuzz::Instance instance;
    zkfuzz::Check(instance.loaded);
    zk::DriverRecord& rec = *instance.rec;
    zkfuzz::Input in{data, size};
    char text[512];
    while (in.more()) {
        switch (in.u8() % 5) {
            case 0: {
                const std::uint16_t channel = in.u16();
                ZkHostValue v{};
                v.type = static_cast<std::int32_t>(Type(in));
                std::memset(text, 0x55, sizeof text);
                char* p = text;
                std::memcpy(v.value, &p, sizeof p);
                zk::GetInput(rec, channel, v);
                // A text read stays within the 256 bytes of the host's text buffer.
                for (std::size_t k = 256; k < sizeof text; ++k) zkfuzz::Check(text[k] == 0x55);
                break;
            }
            case 1: zk::InputRequest(rec, in.u16()); break;
            case 2: {
                const std::uint16_t channel = in.u16();
                const std::uint32_t type = Type(in);
                zk::OutputRequest(rec, channel, type, in.u64());
                break;
            }
            case 3: {
                const std::uint32_t code = in.u8() % 11u;
                std::uint32_t p1 = in.u32(), p2 = in.u32(), p3 = in.u32();
                const std::uint32_t p4 = in.u32();
                if (code == 10) {
                    // The window as text: p1 and p2 the host's buffer, p3 its size (at most 256
                    // here); nothing may be written past it.
                    std::memset(text, 0x55, sizeof text);
                    const auto address = reinterpret_cast<std::uintptr_t>(text);
                    p1 = static_cast<std::uint32_t>(address);
                    p2 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(address) >> 32);
                    p3 %= 257u;
                    zk::DriverProc(rec, zk::kStatusTextCode, p1, p2, p3, p4);
                    for (std::size_t k = p3; k < sizeof text; ++k) zkfuzz::Check(text[k] == 0x55);
                    break;
                }
                zk::DriverProc(rec, code, p1, p2, p3, p4);
                break;
            }
            default: instance.Advance(in.u8()); break;
        }
    }
    std::lock_guard lock(instance.ctx.Lock);
    CheckQueue(instance.ctx.ReadQueue);
    CheckQueue(instance.ctx.WriteQueue);
    return 0;
}
