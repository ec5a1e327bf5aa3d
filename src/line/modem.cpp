#include "line/modem.h"

namespace zk {

namespace {
void SetBlock(CommandBlock& b, std::string_view command, std::string_view reply, double limit) {
    b.Command.assign(command);
    b.ExpectedReply.assign(reply);
    b.Elapsed = 0.0;
    b.Limit = limit;
}
}  // namespace

void ModemReset(ModemRecord& m) {
    m.ModemInitRequest = false;
    m.ModemState = 0;
    SetBlock(m.InitBlock, "ATX3\r", "\r\nOK\r\n", 2.0);
    SetBlock(m.DialBlock, "ATDP", "CONNECT", 60.0);
    SetBlock(m.AnswerBlock, "ATA\r", "\r\nRING\r\n", 20.0);
    SetBlock(m.HangupBlock, "~~~+++~~~ATH0\r~~", "\r\nOK\r\n", 10.0);
    m.DialSuffix.assign("\r");
    m.RingCount = 0;
    m.RingsToAnswer = 6;
    m.SinceRing = 0.0;
    m.RingTimeout = 10.0;
    m.LineConnected = false;
    m.TotalConnectedTime = 0.0;
    m.ConnectedTime = 0.0;
    m.ConnectionCount = 0;
    m.ModemReady = false;
    m.PendingText.clear();
    m.ReplyText.clear();
    m.Pausing = false;
    m.CommandQueue.clear();
    m.TerminatorTaken = false;
}

}  // namespace zk
