// Receive framing. Three stages, kept only in two work texts of the framing state:
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
bool Acceptable(const GlobalSettings& settings, const Str255& frame) {
    if (frame.size() < 3) return true;  // no routing item
    const char letter = frame[2];
    if (letter != 'Y' && letter != 'y') return true;
    return frame.byte(0) == settings.ADDRESS;
}

// True when the frame names another sender than the station asked.
bool FromAnotherStation(const GlobalSettings& settings, std::string_view frame, const AskedStation& asked) {
    if (asked.Index < 1 || !asked.Address) return false;
    const FrameAddresses who = AddressesOf(frame, settings.ADDRESS);
    return who.valid && who.sender != *asked.Address;
}

}  // namespace

void RestartFraming(FramingState& framing) {
    framing.PrefixWindow.clear();
    framing.RxFrame.clear();
}

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

bool ReceiveDATA(FramingState& f, const GlobalSettings& settings, LinePort& line, ReceiveQueue& received,
                 bool& terminatorTaken, LogState& log, const AskedStation& asked, bool* foreign) {
    if (foreign) *foreign = false;
    // A modem reply ended by the first prefix byte took that byte from the line: the message
    // that follows starts with it, so the search goes on from there.
    if (terminatorTaken) {
        terminatorTaken = false;
        if (!settings.PREFIX.empty()) {
            f.PrefixWindow.assign(settings.PREFIX.view().substr(0, 1));
            f.RxFrame.clear();
        }
    }

    // Searching for the prefix.
    if (!(f.PrefixWindow == settings.PREFIX)) {
        std::uint8_t b = 0;
        if (RxCount(line) >= 1 && ReadByte(line, b) == 1) {
            if (f.PrefixWindow.size() == Str255::Capacity) f.PrefixWindow.eraseFront(1);
            f.PrefixWindow.append(static_cast<char>(b));
            if (f.PrefixWindow.size() > settings.PREFIX.size()) f.PrefixWindow.eraseFront(1);
        }
        return false;
    }

    // The header: address and length.
    if (f.RxFrame.empty()) {
        if (RxCount(line) >= 2) {
            ReadChars(line, f.RxFrame, 2);
            f.ReceivedCount.store(f.ReceivedCount.load() + 1.0);
            WriteLog(log, "ReceiveDATA", "Prefix");
        }
        return false;
    }

    // The body: L bytes, the last of them the check byte.
    const std::uint8_t length = f.RxFrame.byte(1);
    if (RxCount(line) < length) return false;
    WriteLog(log, "ReceiveDATA", "Message");
    Str255 body;
    ReadChars(line, body, length);
    bool stored = false;
    // A frame longer than 255 bytes cannot be kept whole: its check byte would be lost, so it
    // is dropped like a frame with a bad check.
    if (2u + length <= Str255::Capacity) {
        f.RxFrame += body;
        if (XorCheck(f.RxFrame)) {
            WriteLog(log, "ReceiveDATA", "XOR OK");
            if (Acceptable(settings, f.RxFrame)) {
                WriteLog(log, "ReceiveDATA", "SaveIt");
                const bool other = FromAnotherStation(settings, f.RxFrame.view(), asked);
                InsertReceived(received, f.RxFrame, f.LastTxMessage, asked.Index);
                WriteLog(log, "insert REC", "");
                if (other) WriteLog(log, "ReceiveDATA", "not from the station asked");
                else f.LastTxMessage.clear();  // a frame from another station leaves it for the real answer
                if (foreign) *foreign = other;
                f.AcceptedCount.store(f.AcceptedCount.load() + 1.0);
                stored = true;
            }
        }
    }
    RestartFraming(f);
    return stored;
}

}  // namespace zk
