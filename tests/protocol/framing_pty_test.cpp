// Receive framing over a real pseudo-terminal: the serial component receives the bytes the far
// end sends in pieces, with garbage and a bad frame in between, and the framing stores exactly
// the good frames.
#include <chrono>
#include <thread>

#include "../line/pty.h"
#include "line/line.h"
#include "line/serial.h"
#include "protocol/framing.h"
#include "protocol_fixture.h"

using namespace zk;
using namespace zktest;

TEST_F(ProtocolTest, FramingThroughARealPseudoTerminal) {
    Pty pty;
    TSerial port;
    port.SetDeviceName(pty.name());
    port.SetBaudrate(115200);
    port.SetActive(true);
    ASSERT_TRUE(port.Active());
    ctx.Line.Serial = &port;
    ctx.Global.PREFIX.assign(B({0xFF, 0xFE}));

    const std::string good1 = WithCheck(B({0x01, 0x04, 0x42, 0x01, 0x0F}));
    std::string bad = WithCheck(B({0x01, 0x03, 0x79, 0xAA}));
    bad.back() = static_cast<char>(bad.back() ^ 0x55);
    const std::string good2 = WithCheck(B({0x01, 0x05, 0x48, 0x11, 0x0D, 0x13}));
    const std::string wire = B({0x33, 0x00}) + B({0xFF, 0xFE}) + good1 + B({0x0D, 0x0A, 0x11}) + B({0xFF, 0xFE}) +
                             bad + B({0xFF, 0xFE}) + good2;

    // The far end sends in three pieces; the worker pumps and frames between them.
    const std::size_t cuts[] = {0, 5, 13, wire.size()};
    for (int piece = 0; piece < 3; ++piece) {
        pty.Send(std::string_view(wire).substr(cuts[piece], cuts[piece + 1] - cuts[piece]));
        for (int pass = 0; pass < 200; ++pass) {
            PumpLine(ctx.Line);
            ReceiveFrame(ctx);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_EQ(ctx.ReceiveQueue.Entries.size(), 2u);
    EXPECT_EQ(Hex(ctx.ReceiveQueue.Entries[0].Frame.view()), Hex(good1));
    EXPECT_EQ(Hex(ctx.ReceiveQueue.Entries[1].Frame.view()), Hex(good2));
    ctx.Line.Serial = nullptr;
    port.SetActive(false);
}
