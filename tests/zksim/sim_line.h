// The driver's side of a simulated line for the tests: a running simulator and its slave
// terminal opened in raw mode, with byte-exact reads that wait (generously) for what is due.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "zksim/zksim.h"

namespace zktest {

using zksim::Bytes;

// Builds bytes from a list of values: B({0x05, 0x07, 'Y'}).
inline Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out += static_cast<char>(static_cast<uint8_t>(v));
    return out;
}

// A request frame as the driver builds it: [retr, L, "Y", drv, st, drv, body, presuffix, X].
inline Bytes RequestFrame(uint8_t retr, uint8_t drv, uint8_t st, const Bytes& body, const Bytes& presuffix = {}) {
    Bytes f;
    f += static_cast<char>(retr);
    f += '\0';
    f += 'Y';
    f += static_cast<char>(drv);
    f += static_cast<char>(st);
    f += static_cast<char>(drv);
    f += body + presuffix;
    f[1] = static_cast<char>(f.size() - 1);
    f += static_cast<char>(zksim::XorOf(f));
    return f;
}

// A routed answer from station `st` to driver `drv` as the decoder reads it:
// [drv, L, routing, st, drv, st, items, X].
inline Bytes RoutedAnswer(uint8_t st, const Bytes& items, char routing = 'y', uint8_t drv = 1) {
    Bytes f;
    f += static_cast<char>(drv);
    f += '\0';
    f += routing;
    f += static_cast<char>(st);
    f += static_cast<char>(drv);
    f += static_cast<char>(st);
    f += items;
    f[1] = static_cast<char>(f.size() - 1);
    f += static_cast<char>(zksim::XorOf(f));
    return f;
}

// Fast timings: the tests wait for events, never for the clock.
inline zksim::SimOptions FastOptions() {
    zksim::SimOptions o;
    o.dialDelayMs = 30;
    o.answerDelayMs = 30;
    o.guardMs = 150;
    o.replyDelayMs = 0;
    o.ringIntervalMs = 100;
    o.ringingIntervalMs = 20;
    o.reportDelayMs = 10;
    return o;
}

class SimLine {
public:
    explicit SimLine(zksim::SimOptions options = FastOptions()) : sim(std::move(options)) {
        std::string error;
        if (!sim.Start(error)) {
            ADD_FAILURE() << error;
            return;
        }
        ReopenTerminal();
    }
    // The driver's side closes its terminal (as a port closing drops DTR) and opens it again.
    void CloseTerminal() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    void ReopenTerminal() {
        fd_ = open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) {
            ADD_FAILURE() << "cannot open " << sim.SlavePath();
            return;
        }
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~SimLine() {
        sim.Stop();
        if (fd_ >= 0) close(fd_);
    }

    void Write(const Bytes& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Exactly n bytes, or fewer when they do not come within the (generous) limit.
    Bytes Read(size_t n, int limitMs = 5000) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (out.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char c[512];
            const ssize_t got = read(fd_, c, std::min(sizeof c, n - out.size()));
            if (got > 0) out.append(c, static_cast<size_t>(got));
        }
        return out;
    }

    // Reads until `text` has arrived; returns everything read.
    Bytes ReadUntil(const Bytes& text, int limitMs = 5000) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (out.find(text) == Bytes::npos && std::chrono::steady_clock::now() < end) out += Read(1, 100);
        return out;
    }

    // Dials the number and waits for the connect text.
    void Dial(const std::string& number = "123") {
        Write("ATDP" + number + "\r");
        const Bytes reply = ReadUntil("CONNECT 9600\r\n");
        ASSERT_EQ(reply, "\r\nCONNECT 9600\r\n");
    }

    // Sends a request and reads an answer of the expected length.
    Bytes Ask(const Bytes& request, size_t answerLength) {
        Write(request);
        return Read(answerLength);
    }

    zksim::Simulator sim;

private:
    int fd_ = -1;
};

}  // namespace zktest
