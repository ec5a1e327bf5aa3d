#include "line/modem.h"

#include <string>

#include "line/line.h"

namespace zk {

namespace {
// True when an "AT" (in either case) starts at `at`.
bool AtCommandStart(std::string_view text, std::size_t at) {
    return at + 1 < text.size() && (text[at] == 'A' || text[at] == 'a') && (text[at + 1] == 'T' || text[at + 1] == 't');
}

// The character is the modem's echo of the command text: it is dropped. The echo begins with
// the text's first character, or with an "AT" inside it (a modem echoes nothing it took in the
// data mode, such as the "+++" before a hang-up), and ends at the first character that does
// not repeat the text.
bool TakeEcho(ModemRecord& m, char c) {
    if (!m.EchoOpen) return false;
    const std::string_view written = m.EchoText.view();
    if (m.EchoAt == 0) {
        for (std::size_t i = 0; i < written.size(); ++i)
            if ((i == 0 || AtCommandStart(written, i)) && written[i] == c) {
                m.EchoAt = i + 1;
                m.EchoOpen = m.EchoAt < written.size();
                return true;
            }
    } else if (m.EchoAt < written.size() && written[m.EchoAt] == c) {
        ++m.EchoAt;
        m.EchoOpen = m.EchoAt < written.size();
        return true;
    }
    m.EchoOpen = false;  // the reply itself has begun
    return false;
}

void SetBlock(CommandBlock& b, std::string_view command, std::string_view reply, double limit) {
    b.Command.assign(command);
    b.ExpectedReply.assign(reply);
    b.Elapsed = 0.0;
    b.Limit = limit;
}
}  // namespace

void ModemReset(ModemRecord& m) {
    m.ModemInitRequest = false;
    m.ModemState = ModemState::TakeCommand;
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
    ForgetEcho(m);
    m.CarrierAtConnect = false;
}

void QueueModemCommand(ModemRecord& m, std::uint8_t kind, const CommandBlock& block, std::string_view number,
                       std::string_view suffix) {
    ModemCommand c;
    c.Kind = kind;
    c.Block = block;
    c.Number.assign(number);
    c.Suffix.assign(suffix);
    m.CommandQueue.push_back(std::move(c));
}

void QueueDial(ModemRecord& m, std::string_view number) {
    const Str255 suffix = m.DialSuffix;
    QueueModemCommand(m, ModemDial, m.DialBlock, number, suffix.view());
}

void DropModemCommand(ModemRecord& m) {
    if (!m.CommandQueue.empty()) m.CommandQueue.pop_front();
    ForgetEcho(m);
}

void ClearModemCommands(ModemRecord& m) {
    m.CommandQueue.clear();
    ForgetEcho(m);
}

void ForgetEcho(ModemRecord& m) {
    m.EchoText.clear();
    m.EchoAt = 0;
    m.EchoOpen = false;
}

Str255 ModemCommandText(const ModemCommand& c) {
    Str255 text = c.Block.Command;
    text += c.Number;
    text += c.Suffix;
    return text;
}

void SendPending(ModemRecord& m, LinePort& line) {
    if (!m.PendingText.empty()) {
        const std::string_view text = m.PendingText.view();
        const std::size_t tilde = text.find('~');
        if (tilde != 0) {
            const std::string piece(text.substr(0, tilde));  // everything before the pause
            m.PendingText.eraseFront(piece.size());
            SendText(line, piece);
            m.EchoText += piece;
        } else if (!m.Pausing) {
            m.ModemMsTimers[1] = 0.0;
            m.Pausing = true;
        } else if (m.ModemMsTimers[1] >= 1000.0) {
            m.Pausing = false;
            m.PendingText.eraseFront(1);
        }
    }
    if (m.PendingText.empty()) {
        m.Pausing = false;
        m.ReplyText.clear();
        m.TerminatorTaken = false;
        m.EchoAt = 0;  // what the modem sends from here may begin with the echo of the text
        m.EchoOpen = !m.EchoText.empty();
    }
}

bool CollectReply(ModemRecord& m, LinePort& line, std::string_view terminator) {
    if (RxCount(line) > 0) {
        std::uint8_t b = 0;
        if (ReadByte(line, b) != 1) return false;
        const char c = static_cast<char>(b);
        if (TakeEcho(m, c)) return false;
        if (!terminator.empty() && c == terminator.front()) {
            if (m.ReplyText.empty()) return false;  // a terminator before any reply is dropped
            m.TerminatorTaken = true;
            m.ModemMsTimers[2] = 3001.0;
            return true;
        }
        m.ReplyText.append(c);
        m.ModemMsTimers[2] = 0.0;
        return false;
    }
    if (m.ModemMsTimers[2] > 3000.0 && !m.ReplyText.empty()) {
        if (ContainsText(m.ReplyText.view(), "RINGING", false)) {  // progress text, not a reply
            m.ReplyText.clear();
            m.ModemMsTimers[2] = 0.0;
            return false;
        }
        return true;
    }
    return false;
}

bool ContainsText(std::string_view text, std::string_view part, bool atStart) {
    const auto at = text.find(part);
    return at != std::string_view::npos && (!atStart || at == 0);
}

void ModemTick(ModemRecord& m, std::int64_t now) {
    std::int64_t elapsed = now - m.ModemLastTick;
    if (elapsed < 0) elapsed = 0;  // a clock that ran back counts nothing
    for (double& t : m.ModemMsTimers) t += static_cast<double>(elapsed) * 10.0;
    if (m.ModemMsTimers[0] > 100.0) m.ModemMsTimers[0] = 0.0;
    if (m.ModemMsTimers[4] > 1000.0) m.ModemMsTimers[4] = 0.0;
    const double seconds = static_cast<double>(elapsed) / 100.0;
    if (!m.CommandQueue.empty()) m.CommandQueue.front().Block.Elapsed += seconds;
    if (m.LineConnected.load()) {
        m.TotalConnectedTime += seconds;
        m.ConnectedTime += seconds;
    }
    if (m.RingCount > 0) {
        m.SinceRing += seconds;
        if (m.SinceRing > m.RingTimeout) m.RingCount = 0;
    }
    m.ModemLastTick = now;
}

}  // namespace zk
