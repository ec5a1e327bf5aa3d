// Stopping an instance whose worker is busy with the line: in the middle of a long modem
// pause ("~"), or blocked in a write that the modem does not take. Done and DisposeDriver
// return at once (the pause or the write would last far longer than the limit used here).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "e2e/session.h"

namespace {

using zke2e::Config;
using zke2e::Session;

const std::string kStation = zke2e::BinaryStation(5, "Kotelna", 16, "PHONE 123\r\n");

// Far below the pause and the write time-out below, far above what a stop takes.
constexpr double kStopLimit = 20.0;

struct StopWay {
    const char* name;
    bool done;  // Done before DisposeDriver; otherwise DisposeDriver alone
};
constexpr StopWay kStopWays[] = {{"Done, then DisposeDriver", true}, {"DisposeDriver alone", false}};

void StopDriver(void* driver, bool done) {
    auto& api = zktest::Library();
    if (done) api.Done(driver);
    api.DisposeDriver(driver);
}

TEST(Shutdown, ReturnsAtOnceDuringAModemPause) {
    for (const StopWay& way : kStopWays) {
        SCOPED_TRACE(way.name);
        Config config;
        config.stations = kStation;
        // A minute of pauses before the initialisation text goes out.
        config.modem = "INIT " + std::string(60, '~') + "ATZ# INIT_TIME 6";
        Session s(config);
        std::string error;
        ASSERT_TRUE(s.Init(&error)) << error;
        E2E_WAIT(s, s.Events("MODEM - ~~~~~~~~~~") == 1);
        void* driver = s.driver();
        s.Abandon();
        EXPECT_TRUE(zke2e::ReturnsWithin([driver, &way] { StopDriver(driver, way.done); }, kStopLimit)) << s.Tail();
        EXPECT_EQ(s.sim().Status().commands, 0u) << "the pause was still running";
    }
}

// A pseudo-terminal whose other end nobody reads: a modem that takes no more data. Its buffer
// is filled through a second descriptor of the driver's side, opened before the driver opens
// the terminal for itself.
class StalledLine {
public:
    StalledLine() {
        char path[256] = {};
        if (openpty(&master_, &slave_, path, nullptr, nullptr) != 0) return;
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        filler_ = ::open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        path_ = path;
        Fill();
    }
    ~StalledLine() {
        for (int fd : {filler_, slave_, master_})
            if (fd >= 0) ::close(fd);
    }
    const std::string& path() const { return path_; }
    // Writes until the terminal takes no more, and again after the system has moved what it
    // holds on to the other side's input, until twice in a row nothing more fits.
    bool Fill() {
        if (filler_ < 0) return false;
        const std::string block(4096, 'x');
        for (int quiet = 0; quiet < 2;) {
            std::size_t taken = 0;
            for (;;) {
                const ssize_t n = ::write(filler_, block.data(), block.size());
                if (n > 0) {
                    taken += static_cast<std::size_t>(n);
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
                break;
            }
            quiet = taken == 0 ? quiet + 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return true;
    }

private:
    int master_ = -1, slave_ = -1, filler_ = -1;
    std::string path_;
};

TEST(Shutdown, ReturnsAtOnceDuringAStalledWrite) {
    for (const StopWay& way : kStopWays) {
        SCOPED_TRACE(way.name);
        StalledLine line;
        ASSERT_FALSE(line.path().empty());
        zktest::TempDir dir;
        zke2e::WorkingDirectory cwd(dir.path());
        const std::string log = dir.file("driver.log");
        const std::string par = dir.file("stalled.par");
        Config config;
        config.stations = kStation;
        // At 110 Bd the write of this text may take 45 s before it times out. Pauses come
        // first, while the line is filled up once more (opening the port purges it).
        config.com = "BAUD 110";
        config.modem = "INIT ~~~~AT" + std::string(240, 'Z') + "# INIT_TIME 6";
        zktest::WriteFile(par, zke2e::ParFile(config, line.path(), log));

        auto& api = zktest::Library();
        void* driver = api.MakeDriver();
        char text[256] = "E2E";
        ASSERT_TRUE(api.Init(driver, static_cast<std::int32_t>(par.size()), par.c_str(), 0, text, 3, 0, 0, 0)) << text;
        EXPECT_TRUE(line.Fill());
        ASSERT_TRUE(zke2e::WaitUntil([&] { return zktest::ReadFile(log).find("MODEM - ~~~~AT") != std::string::npos; }));
        // Let the pauses pass: the worker then blocks in the write.
        std::this_thread::sleep_for(std::chrono::milliseconds(4500));
        EXPECT_TRUE(zke2e::ReturnsWithin([driver, &way] { StopDriver(driver, way.done); }, kStopLimit));
        // The text never left: the reply was never awaited.
        EXPECT_EQ(zktest::ReadFile(log).find(" timeout : "), std::string::npos);
    }
}

}  // namespace
