// The line: the pseudo-terminal, the simulator's thread that reads and paces it, and the
// timed actions.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "zksim/sim_impl.h"

namespace zksim {

using std::chrono::milliseconds;

void Simulator::Impl::Wake() {
    if (wake[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = write(wake[1], &c, 1);
    }
}

void Simulator::Impl::After(int ms, std::function<void()> run) {
    actions.push_back({Clock::now() + milliseconds(std::max(ms, 0)), actionOrder++, std::move(run), false});
    Wake();
}

void Simulator::Impl::AfterUnlocked(Clock::time_point due, std::function<void()> run) {
    actions.push_back({due, actionOrder++, std::move(run), true});
    Wake();
}

void Simulator::Impl::Send(std::string_view bytes) {
    if (!echoPending.empty()) {
        const std::string e = std::move(echoPending);
        echoPending.clear();
        Send(e);
    }
    if (bytes.empty()) return;
    trace.Write(TraceDirection::ToDriver, bytes);
    // An idle paced line: the first byte arrives one byte time from now.
    if (options.paceBaud > 0 && outBuffer.empty()) paceNext = std::max(paceNext, Clock::now() + ByteTime());
    outBuffer.append(bytes);
    Wake();
}

void Simulator::Impl::Reply(const char* text) {
    Send(std::string("\r\n") + text + "\r\n");
    trace.Note(std::string("modem: ") + text);
}

void Simulator::Impl::Received(std::string_view bytes) {
    const auto now = Clock::now();
    trace.Write(TraceDirection::FromDriver, bytes);
    for (char c : bytes) {
        switch (mode) {
            case ModemMode::Command:
            case ModemMode::OnlineCommand: CommandByte(c); break;
            case ModemMode::Dialling:
            case ModemMode::Answering:
                // any character abandons the call attempt
                ++callGeneration;
                mode = ModemMode::Command;
                Reply("NO CARRIER");
                break;
            case ModemMode::Data: DataByte(c, now); break;
        }
    }
    Send({});  // the echo of this chunk
}

void Simulator::Impl::RunDueActions() {
    for (;;) {
        const auto now = Clock::now();
        auto next = actions.end();
        for (auto it = actions.begin(); it != actions.end(); ++it)
            if (it->due <= now && (next == actions.end() || it->due < next->due ||
                                   (it->due == next->due && it->order < next->order)))
                next = it;
        if (next == actions.end()) return;
        auto run = std::move(next->run);
        const bool unlocked = next->unlocked;
        actions.erase(next);
        if (unlocked) unlockedDue.push_back(std::move(run));
        else run();
    }
}

Clock::duration Simulator::Impl::ByteTime() const {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / options.paceBaud));
}

int Simulator::Impl::PollTimeoutMs() const {
    int timeout = 50;
    const auto now = Clock::now();
    if (Paced() && !outBuffer.empty() && paceNext > now) {
        const auto wait = std::chrono::ceil<milliseconds>(paceNext - now).count();
        timeout = static_cast<int>(std::min<long long>(wait, timeout));
    }
    for (const Action& a : actions) {
        const auto ms = std::chrono::duration_cast<milliseconds>(a.due - now).count() + 1;
        timeout = static_cast<int>(std::clamp<long long>(ms, 0, timeout));
    }
    return timeout;
}

void Simulator::Impl::TerminalClosed() {
    std::lock_guard<std::mutex> guard(lock);
    if (Connected()) EndCall("the terminal was closed (DTR dropped)");
}

void Simulator::Impl::Loop() {
    char buffer[4096];
    const int closes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closes >= 0 && inotify_add_watch(closes, slavePath.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        trace.Note("cannot watch " + slavePath + " for the terminal's closing");
    while (!stop.load()) {
        pollfd fds[3] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}, {closes, POLLIN, 0}};
        int timeout;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!outBuffer.empty() && (!Paced() || paceNext <= Clock::now())) fds[0].events |= POLLOUT;
            timeout = PollTimeoutMs();
        }
        if (poll(fds, closes >= 0 ? 3 : 2, timeout) < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) {
            while (read(wake[0], buffer, sizeof buffer) > 0) {
            }
        }
        if (closes >= 0 && (fds[2].revents & POLLIN)) {
            bool closed = false;
            while (read(closes, buffer, sizeof buffer) > 0) closed = true;
            if (closed && !stop.load()) TerminalClosed();
        }
        std::string in;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) in.assign(buffer, static_cast<size_t>(n));
            if (n > 0 && options.wireTap) options.wireTap(false, in);
        }
        std::vector<std::function<void()>> toRun;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!in.empty()) Received(in);
            RunDueActions();
            toRun.swap(unlockedDue);
        }
        for (auto& run : toRun) run();
        std::lock_guard<std::mutex> guard(lock);
        while (!outBuffer.empty()) {
            size_t count = outBuffer.size();
            if (Paced()) {
                // Only the bytes whose time has come; late ones go together.
                const auto now = Clock::now();
                if (now < paceNext) break;
                count = std::min<size_t>(count, 1 + static_cast<size_t>((now - paceNext) / ByteTime()));
            }
            const ssize_t n = write(master, outBuffer.data(), count);
            if (n <= 0) break;
            if (options.wireTap) options.wireTap(true, std::string_view(outBuffer.data(), static_cast<size_t>(n)));
            if (Paced()) paceNext += n * ByteTime();
            outBuffer.erase(0, static_cast<size_t>(n));
        }
    }
    if (closes >= 0) close(closes);
}

bool Simulator::Start(std::string& error) {
    Impl& m = *impl_;
    if (m.started) return true;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    if (openpty(&m.master, &m.slave, name, &raw, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    m.slavePath = name;
    fcntl(m.master, F_SETFL, fcntl(m.master, F_GETFL) | O_NONBLOCK);
    fcntl(m.master, F_SETFD, FD_CLOEXEC);
    fcntl(m.slave, F_SETFD, FD_CLOEXEC);
    if (pipe2(m.wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        Stop();
        return false;
    }
    if (!m.options.linkPath.empty()) {
        // An old link (of an earlier run) is replaced; anything else at that path is kept.
        struct stat old {};
        if (lstat(m.options.linkPath.c_str(), &old) == 0) {
            if (!S_ISLNK(old.st_mode)) {
                error = "cannot make the link " + m.options.linkPath + ": it exists and is not a symbolic link";
                Stop();
                return false;
            }
            unlink(m.options.linkPath.c_str());
        }
        if (symlink(m.slavePath.c_str(), m.options.linkPath.c_str()) != 0) {
            error = "cannot make the link " + m.options.linkPath + ": " + std::strerror(errno);
            Stop();
            return false;
        }
    }
    if (!m.options.tracePath.empty() && !m.trace.Open(m.options.tracePath, error)) {
        Stop();
        return false;
    }
    m.startTime = Clock::now();
    m.trace.Note("zksim started on " + m.slavePath);
    m.stop = false;
    m.started = true;
    m.thread = std::thread([&m] { m.Loop(); });
    return true;
}

void Simulator::Stop() {
    Impl& m = *impl_;
    m.stop = true;
    m.Wake();
    if (m.thread.joinable()) m.thread.join();
    if (m.started && !m.options.linkPath.empty()) unlink(m.options.linkPath.c_str());
    m.started = false;
    for (int* fd : {&m.master, &m.slave, &m.wake[0], &m.wake[1]})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    m.trace.Close();
}

std::string Simulator::SlavePath() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slavePath;
}

}  // namespace zksim
