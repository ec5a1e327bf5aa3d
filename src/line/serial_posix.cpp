// The serial port on POSIX systems: a termios device in raw mode, opened exclusively, with
// non-blocking I/O. Waits are poll()s that also watch a cancel pipe, so that closing the port
// ends every wait at once.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "line/serial_backend.h"
#include "line/serial_posix.h"
#include "line/serial_speed.h"

namespace zk {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The speed constant of a rate, or B0 when the system has none for it.
speed_t SpeedConstant(std::int32_t rate) {
    switch (rate) {
        case 110: return B110;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

class PosixPort final : public SerialBackend {
public:
    PosixPort(int fd, int cancelRead, int cancelWrite) : fd_(fd), cancelRead_(cancelRead), cancelWrite_(cancelWrite) {}

    ~PosixPort() override {
        // Give queued output a moment to leave, then drop the rest: a tty close would otherwise
        // wait for it (up to 30 s on a serial port held by flow control).
        for (int i = 0; i < 20; ++i) {
            int out = 0;
            if (::ioctl(fd_, TIOCOUTQ, &out) != 0 || out <= 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::tcflush(fd_, TCOFLUSH);
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        ::close(cancelRead_);
        ::close(cancelWrite_);
    }

    int Write(std::string_view data, std::uint32_t timeoutMs) override {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        const std::uint64_t abortMark = txAborts_.load();
        std::size_t done = 0;
        while (done < data.size()) {
            if (cancelled_.load() || txAborts_.load() != abortMark) return 0;  // abandoned
            const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return ETIMEDOUT;
            // Short slices, so that an abort from another thread is seen promptly.
            WaitFor(POLLOUT, static_cast<int>(std::min<std::int64_t>(left.count(), 10)));
        }
        return 0;
    }

    int Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        got = 0;
        if (cancelled_.load()) return 0;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, size);
            if (n > 0) {
                got = static_cast<std::size_t>(n);
                return 0;
            }
            if (n == 0) return 0;
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            return errno;
        }
    }

    int Waiting(std::int32_t& rx, std::int32_t& tx) override {
        int in = 0, out = 0;
        if (::ioctl(fd_, FIONREAD, &in) != 0) return errno;
        if (::ioctl(fd_, TIOCOUTQ, &out) != 0) return errno;
        rx = in;
        tx = out;
        return 0;
    }

    // A pending read never exists here (reads do not wait); a write in progress on another
    // thread sees the abort count change and returns. Nothing buffered is discarded.
    int Purge(bool, bool tx) override {
        if (tx) ++txAborts_;
        return 0;
    }

    int SetControlLine(int line, bool on) override {
        int bit = line == 0 ? TIOCM_RTS : TIOCM_DTR;
        return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : errno;
    }

    int ReadModemLines(ModemLines& lines) override {
        int bits = 0;
        if (::ioctl(fd_, TIOCMGET, &bits) != 0) return errno;
        lines.Cts = (bits & TIOCM_CTS) != 0;
        lines.Dsr = (bits & TIOCM_DSR) != 0;
        lines.Rlsd = (bits & TIOCM_CD) != 0;
        return 0;
    }

    // The system has no event wait for a serial line: the thread watches for input with poll
    // and looks at the counts and the modem lines every 50 ms. While received bytes wait to be
    // read, input cannot be watched (poll would report them again and again), so the counts
    // are looked at every 2 ms instead: new bytes then still raise their event within 2 ms,
    // and the watch resumes as soon as the reader has taken them. A hang-up of the terminal (a
    // USB adapter unplugged, the far end of a pseudo-terminal closed) ends the wait with EIO:
    // the device is gone.
    int WaitEvents(std::uint32_t& mask) override {
        mask = 0;
        for (;;) {
            if (cancelled_.load()) return 0;
            const bool watchInput = lastRx_ == 0;
            pollfd fds[2] = {{cancelRead_, POLLIN, 0}, {fd_, POLLIN, 0}};
            const int r = ::poll(fds, watchInput ? 2 : 1, watchInput ? 50 : 2);
            if (cancelled_.load()) return 0;
            if (r < 0 && errno != EINTR) return errno;
            if (watchInput && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) return EIO;

            int in = 0, out = 0;
            if (::ioctl(fd_, FIONREAD, &in) == 0) {
                if (in > 0 && in != lastRx_) mask |= EvRxChar;
                lastRx_ = in;
            }
            if (::ioctl(fd_, TIOCOUTQ, &out) == 0) {
                if (out == 0 && lastTx_ > 0) mask |= EvTxEmpty;
                lastTx_ = out;
            }
            if (modemLinesWork_) {
                int bits = 0;
                if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
                    modemLinesWork_ = false;  // a pty has none
                } else {
                    if (haveBits_) {
                        const int changed = bits ^ lastBits_;
                        if (changed & TIOCM_CTS) mask |= EvCts;
                        if (changed & TIOCM_DSR) mask |= EvDsr;
                        if (changed & TIOCM_CD) mask |= EvRlsd;
                        if ((bits & TIOCM_RI) && !(lastBits_ & TIOCM_RI)) mask |= EvRing;
                    }
                    lastBits_ = bits;
                    haveBits_ = true;
                }
            }
            if (mask) return 0;
        }
    }

    void Cancel() override {
        if (cancelled_.exchange(true)) return;
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(cancelWrite_, &b, 1);  // never drained: every poll wakes
    }

    bool Cancelled() const override { return cancelled_.load(); }

private:
    void WaitFor(short events, int ms) {
        pollfd fds[2] = {{fd_, events, 0}, {cancelRead_, POLLIN, 0}};
        ::poll(fds, 2, ms);
    }

    int fd_;
    int cancelRead_, cancelWrite_;
    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint64_t> txAborts_{0};
    // The event thread's own state.
    int lastRx_ = 0, lastTx_ = 0, lastBits_ = 0;
    bool haveBits_ = false, modemLinesWork_ = true;
};

int Fail(int fd, int error, bool exclusive) {
    if (exclusive) {
        ::ioctl(fd, TIOCNXCL);
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return error;
}

// The parts of the line that must hold as asked: no processing of any kind, reads that return
// at once, and the speed. Data bits, parity, stop bits and flow control a device may keep as it
// has them (a pseudo-terminal has no framing at all).
bool RawModeHolds(const termios& now, const termios& asked) {
    return now.c_iflag == asked.c_iflag && (now.c_oflag & OPOST) == 0 && now.c_lflag == asked.c_lflag &&
           now.c_cc[VMIN] == asked.c_cc[VMIN] && now.c_cc[VTIME] == asked.c_cc[VTIME] &&
           ::cfgetospeed(&now) == ::cfgetospeed(&asked) && ::cfgetispeed(&now) == ::cfgetispeed(&asked);
}

bool FramingHolds(const termios& now, const termios& asked) {
    tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB | CLOCAL | CREAD;
#ifdef CMSPAR
    framing |= CMSPAR;
#endif
#ifdef CRTSCTS
    framing |= CRTSCTS;
#endif
    return (now.c_cflag & framing) == (asked.c_cflag & framing);
}

}  // namespace

void BuildTermios(termios& t, const SerialSettings& s) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR);
#ifdef IUCLC
    t.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
#ifdef IMAXBEL
    t.c_iflag &= ~static_cast<tcflag_t>(IMAXBEL);
#endif
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
#ifdef CRTSCTS
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    t.c_cflag |= CLOCAL | CREAD | HUPCL;
    t.c_cflag |= s.DataBits == eDataBits::d8bit ? CS8 : CS7;
    switch (s.Parity) {
        case eParity::paNone: break;
        case eParity::PaOdd: t.c_cflag |= PARENB | PARODD; break;
        case eParity::paEven: t.c_cflag |= PARENB; break;
#ifdef CMSPAR
        case eParity::paMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case eParity::paSpace: t.c_cflag |= PARENB | CMSPAR; break;
#else
        case eParity::paMark:
        case eParity::paSpace: break;  // refused by the caller
#endif
    }
    if (s.Parity != eParity::paNone && s.CheckParity) t.c_iflag |= INPCK;
    if (s.StopBits == eStopBits::st2bit) t.c_cflag |= CSTOPB;
    switch (s.FlowMode) {
        case eFlowControl::fcNone: break;
        case eFlowControl::fcRTS_CTS:
#ifdef CRTSCTS
            t.c_cflag |= CRTSCTS;
#endif
            break;
        case eFlowControl::fcDTR_DSR: break;  // no such hardware handshake in termios
        case eFlowControl::fcXON_XOF: t.c_iflag |= IXON | IXOFF; break;
    }
    t.c_cc[VSTART] = 17;
    t.c_cc[VSTOP] = 19;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

std::shared_ptr<SerialBackend> OpenSerialDevice(const SerialSettings& s, WriteTimeouts&, int& error,
                                                const std::function<void(int)>& softError) {
    error = 0;
    const int fd = ::open(s.Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // One user at a time: the lock keeps out every other instance, TIOCEXCL other programs.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = Fail(fd, errno == EWOULDBLOCK ? EBUSY : errno, false);
        return nullptr;
    }
    if (!::isatty(fd)) {
        error = Fail(fd, ENOTTY, false);
        return nullptr;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) softError(errno);

    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        error = Fail(fd, errno, true);
        return nullptr;
    }
    BuildTermios(t, s);
#ifndef CMSPAR
    if (s.Parity == eParity::paMark || s.Parity == eParity::paSpace) {
        error = Fail(fd, EINVAL, true);
        return nullptr;
    }
#endif
    const speed_t speed = SpeedConstant(s.Baudrate);
    const bool custom = speed == B0;
    if (custom && !CustomLineSpeedSupported()) {
        error = Fail(fd, EINVAL, true);  // a rate the system cannot set is refused, not rounded
        return nullptr;
    }
    ::cfsetispeed(&t, custom ? B9600 : speed);
    ::cfsetospeed(&t, custom ? B9600 : speed);
    // Linux answers EINVAL when none of the changes could be made, which on a device without
    // framing (a pseudo-terminal) happens for data bits or parity alone; what the port ended
    // up with decides.
    if (::tcsetattr(fd, TCSANOW, &t) != 0 && errno != EINVAL) {
        error = Fail(fd, errno, true);
        return nullptr;
    }
    termios now{};
    if (::tcgetattr(fd, &now) != 0 || !RawModeHolds(now, t)) {
        error = Fail(fd, EINVAL, true);
        return nullptr;
    }
    if (!FramingHolds(now, t)) softError(EINVAL);
    if (custom) {
        if (const int e = SetCustomLineSpeed(fd, s.Baudrate)) {
            error = Fail(fd, e, true);
            return nullptr;
        }
    }
    // Queue sizes: the tty layer's buffers are fixed; RxQueueSize and TxQueueSize are kept as
    // properties only.

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = Fail(fd, errno, true);
        return nullptr;
    }
    return std::make_shared<PosixPort>(fd, pipeFds[0], pipeFds[1]);
}

bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

void LowerEventThreadPriority() {
#ifdef __linux__
    // Linux keeps a nice value per thread: the lowest one, short of starving the thread.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
#endif
}

}  // namespace zk
