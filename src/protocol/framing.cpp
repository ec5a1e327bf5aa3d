// Receive framing. Three stages, kept only in two work texts of the context:
//   searching  PrefixWindow differs from PREFIX: one byte per call slides through the window;
//   header     the window matches and RxFrame is empty: the address and length bytes;
//   body       RxFrame holds the header: the L bytes that follow, read when all are there.
// Every call reads the port at most once and never waits for bytes that have not arrived.
#include "protocol/framing.h"

#include <cctype>

#include "diag/log.h"
#include "line/line.h"

namespace zk {

bool XorCheck(std::string_view s) {
    if (s.empty()) return false;
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) x ^= static_cast<std::uint8_t>(s[i]);
    return x == static_cast<std::uint8_t>(s.back());
}

namespace {

// Answers addressed to the driver pass, and every frame of the layout without a routing item;
// a request that the line carries back (routing item, first byte not the driver) does not.
bool Acceptable(const DriverContext& ctx, const Str255& frame) {
    if (frame.size() < 3) return true;  // no routing item
    const char letter = frame[2];
    if (letter != 'Y' && letter != 'y') return true;
    return frame.byte(0) == ctx.ADDRESS;
}

void Restart(DriverContext& ctx) {
    ctx.PrefixWindow.clear();
    ctx.RxFrame.clear();
}

// The station index whose request waits for its answer, 0 when none does.
int AskedStation(const DriverContext& ctx) { return ctx.Outstanding ? ctx.OutStation.load() : 0; }

// True when the frame names another sender than the station asked.
bool FromAnotherStation(const DriverContext& ctx, std::string_view frame, int asked) {
    if (asked < 1 || asked > kMaxStations) return false;
    const StationRecord* s = ctx.Stations[static_cast<std::size_t>(asked)].get();
    const FrameAddresses who = AddressesOf(frame, ctx.ADDRESS);
    return s && who.valid && who.sender != s->Address;
}

}  // namespace

FrameAddresses AddressesOf(std::string_view frame, std::uint8_t driverAddress) {
    FrameAddresses a;
    if (frame.size() < 2) return a;
    const auto at = [&](std::size_t pos) { return static_cast<std::uint8_t>(frame[pos - 1]); };
    a.target = driverAddress;
    a.sender = at(1);
    if (frame.size() >= 3 && (at(3) == 'Y' || at(3) == 'y')) {
        if (frame.size() < 6) return a;  // a routing item cut short
        a.target = at(1);
        a.sender = at(6);
    }
    a.valid = true;
    return a;
}

bool ReceiveDATA(DriverContext& ctx, bool* foreign) {
    if (foreign) *foreign = false;
    LinePort& line = ctx.Line;

    // A modem reply ended by the first prefix byte took that byte from the line: the message
    // that follows starts with it, so the search goes on from there.
    if (ctx.Modem.TerminatorTaken) {
        ctx.Modem.TerminatorTaken = false;
        if (!ctx.PREFIX.empty()) {
            ctx.PrefixWindow.assign(ctx.PREFIX.view().substr(0, 1));
            ctx.RxFrame.clear();
        }
    }

    // 1. Searching for the prefix.
    if (!(ctx.PrefixWindow == ctx.PREFIX)) {
        std::uint8_t b = 0;
        if (RxCount(line) >= 1 && ReadByte(line, b) == 1) {
            if (ctx.PrefixWindow.size() == Str255::Capacity) ctx.PrefixWindow.eraseFront(1);
            ctx.PrefixWindow.append(static_cast<char>(b));
            if (ctx.PrefixWindow.size() > ctx.PREFIX.size()) ctx.PrefixWindow.eraseFront(1);
        }
        return false;
    }

    // 2. The header: address and length.
    if (ctx.RxFrame.empty()) {
        if (RxCount(line) >= 2) {
            ReadChars(line, ctx.RxFrame, 2);
            ctx.ReceivedCount.store(ctx.ReceivedCount.load() + 1.0);
            WriteLog(ctx, "ReceiveDATA", "Prefix");
        }
        return false;
    }

    // 3. The body: L bytes, the last of them the check byte.
    const std::uint8_t length = ctx.RxFrame.byte(1);
    if (RxCount(line) < length) return false;
    WriteLog(ctx, "ReceiveDATA", "Message");
    Str255 body;
    ReadChars(line, body, length);
    bool stored = false;
    // A frame longer than 255 bytes cannot be kept whole: its check byte would be lost, so it
    // is dropped like a frame with a bad check.
    if (2u + length <= Str255::Capacity) {
        ctx.RxFrame += body;
        if (XorCheck(ctx.RxFrame)) {
            WriteLog(ctx, "ReceiveDATA", "XOR OK");
            if (Acceptable(ctx, ctx.RxFrame)) {
                WriteLog(ctx, "ReceiveDATA", "SaveIt");
                const int asked = AskedStation(ctx);
                const bool other = FromAnotherStation(ctx, ctx.RxFrame.view(), asked);
                InsertReceived(ctx.ReceiveQueue, ctx.RxFrame, ctx.LastTxMessage, asked);
                WriteLog(ctx, "insert REC", "");
                if (other) WriteLog(ctx, "ReceiveDATA", "not from the station asked");
                else ctx.LastTxMessage.clear();  // a frame from another station leaves it for the real answer
                if (foreign) *foreign = other;
                ctx.AcceptedCount.store(ctx.AcceptedCount.load() + 1.0);
                stored = true;
            }
        }
    }
    Restart(ctx);
    return stored;
}

}  // namespace zk
