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

// Placeholders until the modem dialogue exists.
void QueueModemCommand(ModemRecord& m, std::uint8_t kind, const CommandBlock& block, std::string_view number,
                       std::string_view suffix) {
    ModemCommand c;
    c.Kind = kind;
    c.Block = block;
    c.Number.assign(number);
    c.Suffix.assign(suffix);
    m.CommandQueue.push_back(c);
}
void QueueDial(ModemRecord& m, std::string_view number) { QueueModemCommand(m, ModemDial, m.DialBlock, number, m.DialSuffix.view()); }
void DropModemCommand(ModemRecord& m) {
    if (!m.CommandQueue.empty()) m.CommandQueue.pop_front();
}
void ClearModemCommands(ModemRecord& m) { m.CommandQueue.clear(); }
void SendPending(DriverContext&) {}
bool CollectReply(DriverContext&, std::string_view) { return false; }
bool ContainsText(std::string_view text, std::string_view part, bool atStart) {
    auto at = text.find(part);
    return at != std::string_view::npos && (!atStart || at == 0);
}
void ModemTick(DriverContext&) {}

}  // namespace zk
