// The stations' side of the line: frames from the driver, the answers and reports of the
// stations, and the faults that spoil answers.
#include <algorithm>
#include <cstring>

#include "zksim/sim_impl.h"

namespace zksim {

using std::chrono::milliseconds;

void Simulator::Impl::ResetReceiver() {
    prefixWindow.clear();
    rxFrame.clear();
}

void Simulator::Impl::StationByte(char c, Clock::time_point now) {
    if ((!rxFrame.empty() || !prefixWindow.empty()) && now - lastFrameByte > milliseconds(options.frameGapMs))
        ResetReceiver();
    lastFrameByte = now;
    const Bytes& prefix = options.line.prefix;
    if (prefixWindow != prefix) {
        prefixWindow += c;
        if (prefixWindow.size() > prefix.size()) prefixWindow.erase(0, 1);
        return;
    }
    rxFrame += c;
    if (rxFrame.size() >= 2 && rxFrame.size() == 2u + Byte(rxFrame[1])) {
        const Bytes frame = rxFrame;
        ResetReceiver();
        TakeFrame(frame);
    }
}

void Simulator::Impl::TakeFrame(const Bytes& frame) {
    if (XorOf(frame) != 0) {
        ++status.badFrames;
        trace.Note("frame with a wrong check byte: " + HexText(frame));
        return;
    }
    Request req;
    if (!ParseRequest(frame, options.line.presuffix, req)) {
        TakeAcknowledgement(frame);
        return;
    }
    StationImage* st = Find(req.station);
    if (!st) {
        trace.Note("request for an unknown station " + std::to_string(req.station));
        return;
    }
    if (req.retranslation != st->def.retranslation && req.retranslation != st->def.address &&
        !Find(req.retranslation)) {
        trace.Note("request sent through an unknown station " + std::to_string(req.retranslation));
        return;
    }
    if (!Reachable(*st)) {
        trace.Note("station " + std::to_string(req.station) + " is not on this call");
        return;
    }
    ++status.requests;
    requests.push_back(frame);
    const Bytes items = AnswerItems(*st, req.body);
    Bytes answer = FrameAnswer(options.layout, req.driver, st->def.address, items);
    if (answer.size() > 257) answer = FrameAnswer(options.layout, req.driver, st->def.address, Bytes("E\x06", 2));
    Deliver(st->def.address, std::move(answer), req.driver);
}

void Simulator::Impl::TakeAcknowledgement(const Bytes& frame) {
    // A routed acknowledgement [st, L, "y", 00, st, 00, items, X] or the echo of a report.
    for (auto it = reportsAwaitingAck.begin(); it != reportsAwaitingAck.end(); ++it) {
        const Bytes& report = *it;
        const bool same = frame == report;
        const bool routed = frame.size() >= 7 && report.size() >= 7 && frame[2] == 'y' &&
                            frame[4] == report[5] && frame.substr(6, frame.size() - 7) == report.substr(6, report.size() - 7);
        if (same || routed) {
            ++status.acknowledgements;
            trace.Note("report acknowledged");
            reportsAwaitingAck.erase(it);
            return;
        }
    }
    trace.Note("frame taken and ignored: " + HexText(frame));
}

bool Simulator::Impl::Reachable(const StationImage& st) const {
    if (mode != ModemMode::Data) return false;
    if (st.def.phone.empty()) return true;
    if (answeredCall) {
        const StationImage* c = caller ? Find(caller) : nullptr;
        return !c || c->def.phone.empty() || DialDigits(c->def.phone) == DialDigits(st.def.phone);
    }
    return DialDigits(st.def.phone) == number;
}

void Simulator::Impl::SpoilBytes(const Fault& fault, Bytes& answer) const {
    const size_t n = answer.size();
    if (n == 0) return;
    if (fault.flipBit >= 0) {
        const size_t at = static_cast<size_t>(fault.flipBit / 8) % n;
        answer[at] = Char(Byte(answer[at]) ^ (1u << (fault.flipBit % 8)));
    }
    // Whether the driver, taking the frame's declared length from these bytes and what
    // follows them on the line, would find the check byte right.
    auto passes = [&](const Bytes& sent) {
        const Bytes line = sent + options.line.suffix;
        if (line.size() < n) return false;  // the frame never completes
        uint8_t x = 0;
        for (size_t i = 0; i < n; ++i) x ^= Byte(line[i]);
        return x == 0;
    };
    auto spoil = [&](int position, size_t first, bool twice) {
        if (position < 0 || n <= first) return;
        for (size_t k = 0; k < n - first; ++k) {
            const size_t at = first + (static_cast<size_t>(position) + k) % (n - first);
            Bytes spoilt = answer;
            if (twice) spoilt.insert(at, 1, answer[at]);
            else spoilt.erase(at, 1);
            if (!passes(spoilt)) {
                answer = spoilt;
                return;
            }
        }
    };
    spoil(fault.dropByte, 2, false);
    spoil(fault.doubleByte, 0, true);
}

void Simulator::Impl::Deliver(uint8_t station, Bytes answer, uint8_t driver) {
    Fault fault;
    bool faulty = false;
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->station != 0 && it->station != station) continue;
        fault = *it;
        faulty = true;
        if (it->count > 0 && --it->count == 0) faults.erase(it);
        break;
    }
    if (faulty) {
        if (fault.dropCarrier) {
            trace.Note("fault: carrier lost instead of the answer");
            const uint64_t gen = callGeneration;
            After(options.replyDelayMs + fault.delayMs, [this, gen] {
                if (gen == callGeneration && Connected()) {
                    EndCall("carrier lost");
                    Reply("NO CARRIER");
                }
            });
            return;
        }
        if (fault.silence) {
            trace.Note("fault: no answer");
            ++status.silenced;
            return;
        }
        if (fault.wrongAddress >= 0) {
            const std::string items = options.layout == Layout::Routed ? answer.substr(6, answer.size() - 7)
                                                                        : answer.substr(2, answer.size() - 3);
            answer = FrameAnswer(options.layout, driver, static_cast<uint8_t>(fault.wrongAddress), items);
        }
        if (fault.badCheck) answer.back() = Char(Byte(answer.back()) ^ 0x5A);
        SpoilBytes(fault, answer);
    }
    Bytes wire = options.line.prefix + answer + options.line.suffix;
    if (faulty) {
        if (fault.truncate >= 0 && static_cast<size_t>(fault.truncate) < wire.size()) wire.resize(static_cast<size_t>(fault.truncate));
        wire = fault.garbageBefore + wire + fault.garbageAfter;
        trace.Note("fault applied to the answer");
    }
    const uint64_t gen = callGeneration;
    After(options.replyDelayMs + (faulty ? fault.delayMs : 0), [this, gen, wire] {
        if (gen != callGeneration || mode != ModemMode::Data) return;
        ++status.answers;
        Send(wire);
    });
}

bool Simulator::Impl::SendReportLocked(uint8_t station, const Report& report) {
    StationImage* st = Find(station);
    if (!st || mode != ModemMode::Data) return false;
    Bytes items;
    bool ack = false;
    switch (report.kind) {
        case ReportKind::Active: items = "H"; ack = true; break;
        case ReportKind::ControlError: items = "X"; ack = true; break;
        case ReportKind::Error: items = "E"; items += Char(report.code & 0xFF); break;
        case ReportKind::CallCode:
            items = "Qq";
            for (uint8_t x : EncodeLong(report.code)) items += Char(x);
            break;
    }
    const Bytes frame = FrameAnswer(options.layout, options.line.driverAddress, st->def.address, items, ack);
    if (ack) reportsAwaitingAck.push_back(frame);
    trace.Note("report from station " + std::to_string(station));
    Send(options.line.prefix + frame + options.line.suffix);
    return true;
}

}  // namespace zksim
