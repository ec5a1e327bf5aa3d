// A pseudo-terminal pair for the line tests: the driver opens the slave side by name, the test
// plays the far end on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace zktest {

class Pty {
public:
    Pty() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        char* name = ::ttyname(slave_);
        if (!name) throw std::runtime_error("ttyname");
        name_ = name;
        // Raw from the start, so that nothing echoes before the driver sets the line up.
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        CloseMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& name() const { return name_; }
    int master() const { return master_; }
    // The line settings as the terminal holds them (the master reads the slave's).
    termios Attributes() const {
        termios t{};
        ::tcgetattr(master_, &t);
        return t;
    }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    // Sends bytes from the far end.
    void Send(std::string_view bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
            else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }
    // What has arrived at the far end so far.
    std::string Drain() const {
        std::string out;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    // Reads at the far end until `count` bytes have come (or a generous safety limit passed).
    std::string Receive(std::size_t count) const {
        std::string out;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (out.size() < count && std::chrono::steady_clock::now() < limit) {
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 50);
            out += Drain();
        }
        return out;
    }

private:
    int master_ = -1, slave_ = -1;
    std::string name_;
};

// Polls `done` until it holds, for at most a generous safety limit; true when it held.
inline bool Eventually(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Every byte value once, the line-discipline specials first.
inline std::string AllByteValues() {
    std::string s = {'\x0D', '\x11', '\x13', '\x00', '\xFF', '\x0A', '\x03', '\x1A', '\x7F'};
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
}

}  // namespace zktest
