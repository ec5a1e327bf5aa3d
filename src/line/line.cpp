#include "line/line.h"

#include "line/serial.h"

namespace zk {

void PumpLine(LinePort& line) {
    if (!line.Serial) {
        line.Active = false;
        line.TxWaiting = 0;
        line.Carrier = CarrierLine::Unknown;
        return;
    }
    TSerial& port = *line.Serial;
    const std::uint64_t generation = port.Generation();
    if (generation != line.Generation) {
        line.Rx.clear();
        line.Generation = generation;
    }
    line.Active = port.Active();
    if (!line.Active) {
        line.TxWaiting = 0;
        line.Carrier = CarrierLine::Unknown;
        return;
    }
    line.Carrier = port.Carrier();
    for (std::int32_t waiting = port.RxWaiting(); waiting > 0; waiting = port.RxWaiting()) {
        for (std::int32_t i = 0; i < waiting; ++i) {
            std::uint8_t b = 0;
            if (port.ReadByte(b) != 1) break;
            line.Rx.push_back(b);
        }
        if (line.Rx.size() > (1u << 20)) break;  // a flood: leave the rest for the next pass
    }
    line.TxWaiting = port.TxWaiting();
}

void FlushLine(LinePort& line) {
    if (line.Serial) {
        for (std::size_t i = 0; i <= line.Outbox.size(); ++i) {
            if (line.PurgeRequested && i == line.PurgeAfter) PurgePort(*line.Serial);
            if (i < line.Outbox.size()) line.Serial->WriteString(line.Outbox[i]);
        }
    }
    line.Outbox.clear();
    line.PurgeRequested = false;
    line.PurgeAfter = 0;
}

std::int32_t RxCount(const LinePort& line) { return static_cast<std::int32_t>(line.Rx.size()); }

std::int32_t TxCount(const LinePort& line) {
    std::int64_t n = line.TxWaiting;
    for (const std::string& text : line.Outbox) n += static_cast<std::int64_t>(text.size());
    return static_cast<std::int32_t>(n);
}

int ReadByte(LinePort& line, std::uint8_t& out) {
    if (line.Rx.empty()) return 0;
    out = line.Rx.front();
    line.Rx.pop_front();
    return 1;
}

void ReadChars(LinePort& line, Str255& text, std::uint8_t count) {
    text.clear();
    for (unsigned i = 0; i < count && text.size() < 255; ++i) {
        std::uint8_t b = 0;
        if (ReadByte(line, b) == 1) text.append(static_cast<char>(b));
    }
}

void SendText(LinePort& line, std::string_view text) { line.Outbox.emplace_back(text.substr(0, 255)); }

void SendText(LinePort& line, std::atomic<TxState>& txState, std::string_view text, TxState next) {
    txState.store(next);
    SendText(line, text);
}

bool TransmitDone(const LinePort& line, TxState txState) { return txState != TxState::Sending || TxCount(line) <= 0; }

void PurgeLine(LinePort& line) {
    line.PurgeRequested = true;
    line.PurgeAfter = line.Outbox.size();
}

void PurgePort(TSerial& port) {
    port.AbortRead();
    port.AbortWrite();
}

}  // namespace zk
