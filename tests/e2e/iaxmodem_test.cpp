// The driver against a real AT command interpreter: two iaxmodem soft modems on this machine
// (IAX2 on 127.0.0.1, ports 4569 and 4570, no registration) that call each other. iaxmodem
// echoes its commands, as almost every modem does, and never connects a call (it has no data
// modulation), so every dial and every answer runs out of time: the driver waits out
// CONNECT_TIME and ANSWER_TIME behind the echo instead of taking the echo for a reply. Skipped when iaxmodem is not
// installed (scripts/install-deps.sh test installs it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/cp1250.h"
#include "e2e/session.h"

extern char** environ;

namespace {

using namespace zk::literals;
using zke2e::Ch;
using zke2e::Config;

constexpr const char* kIaxmodem = "/usr/bin/iaxmodem";

// One iaxmodem: its configuration file in the test's directory (iaxmodem reads its files from
// /etc/iaxmodem, so it is named by a path relative to that) and its pseudo-terminal's link.
class SoftModem {
public:
    SoftModem(const zktest::TempDir& dir, const std::string& name, int port) : device_(dir.file(name + ".tty")) {
        zktest::WriteFile(dir.file(name), "device " + device_ + "\nowner root:root\nmode 660\nport " +
                                               std::to_string(port) +
                                               "\nrefresh 0\nserver 127.0.0.1\npeername zk\nsecret zk\n"
                                               "cidname zk\ncidnumber 10" + name + "\ncodec slinear\n");
        const std::string config = "../.." + dir.file(name);
        char* argv[] = {const_cast<char*>(kIaxmodem), const_cast<char*>(config.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, dir.file(name + ".out").c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file(name + ".err").c_str(), O_WRONLY | O_CREAT, 0644);
        if (posix_spawn(&pid_, kIaxmodem, &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SoftModem() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Ready() const {
        struct stat st {};
        return pid_ > 0 && stat(device_.c_str(), &st) == 0;
    }
    const std::string& device() const { return device_; }

private:
    std::string device_;
    pid_t pid_ = -1;
};

// One driver instance on one soft modem.
class Driver {
public:
    Driver(const zktest::TempDir& dir, const std::string& name, const Config& config, const std::string& device)
        : par_(dir.file(name + ".par")), log_(dir.file(name + ".log")) {
        zktest::WriteFile(par_, zke2e::ParFile(config, device, log_));
    }
    ~Driver() {
        auto& api = zktest::Library();
        if (driver_) {
            api.Done(driver_);
            api.DisposeDriver(driver_);
        }
    }
    bool Init() {
        auto& api = zktest::Library();
        driver_ = api.MakeDriver();
        char text[256] = "IAX";
        return api.Init(driver_, static_cast<std::int32_t>(par_.size()), par_.c_str(), 0, text, 3, 0, 0, 0) != 0;
    }
    bool Flag(std::uint32_t channel) {
        ZkHostValue v{};
        v.type = 2;
        zktest::Library().GetInput(driver_, channel, &v);
        return v.value[0] != 0;
    }
    void WriteFlag(std::uint32_t channel) { zktest::Library().OutputRequest(driver_, channel, 2, 1); }
    std::size_t Events(std::string_view text) const {
        const std::string log = zktest::ReadFile(log_);
        std::size_t n = 0;
        for (std::size_t at = log.find(" AddToMemo : "); at != std::string::npos; at = log.find(" AddToMemo : ", at + 1)) {
            const std::size_t end = log.find('\n', at);
            if (log.substr(at, end == std::string::npos ? std::string::npos : end - at).find(text) != std::string::npos) ++n;
        }
        return n;
    }
    std::string Tail() const { return zk::Cp1250ToUtf8(zktest::ReadFile(log_)); }

private:
    std::string par_, log_;
    void* driver_ = nullptr;
};

#define IAX_WAIT(driver, condition) \
    ASSERT_TRUE(::zke2e::WaitUntil([&]() -> bool { return static_cast<bool>(condition); })) \
        << "never came true: " #condition "\n" << (driver).Tail()

TEST(RealModem, TwoIaxmodemsCallEachOtherAndEveryAttemptWaitsOutItsTimeLimit) {
    if (access(kIaxmodem, X_OK) != 0)
        GTEST_SKIP() << kIaxmodem << " is not installed (scripts/install-deps.sh test installs iaxmodem)";
    zktest::TempDir dir;
    SoftModem calling(dir, "a", 4570);   // its calls go to 127.0.0.1:4569
    SoftModem called(dir, "b", 4569);
    ASSERT_TRUE(zke2e::WaitUntil([&] { return calling.Ready() && called.Ready(); }, 30.0))
        << zktest::ReadFile(dir.file("a.err")) << zktest::ReadFile(dir.file("b.err"));

    // Both with the modem's factory echo on (INIT leaves it on).
    Config dialling;
    dialling.modem = "INIT ATX3# INIT_TIME 6\r\nCONNECT_OK CONNECT CONNECT_TIME 6\r\nLINEOFF ~+++~ATH0# LINEOFF_TIME 8";
    dialling.stations = zke2e::BinaryStation(5, "Kotelna", 8, "PHONE 102\r\n");
    Config answering;
    answering.modem =
        "INIT ATX3# INIT_TIME 6\r\nCONNECT_RING #@RING#@ RING_COUNT 2 RING_TIME 30\r\n"
        "CONNECT_ANSWER ATA# CONNECT_OK CONNECT ANSWER_TIME 6\r\nLINEOFF ~+++~ATH0# LINEOFF_TIME 8";
    answering.stations = zke2e::BinaryStation(6, "Vymenik", 8, "");
    Driver a(dir, "a", dialling, calling.device());
    Driver b(dir, "b", answering, called.device());
    ASSERT_TRUE(a.Init());
    ASSERT_TRUE(b.Init());
    IAX_WAIT(a, a.Flag(zke2e::kModemReady));
    IAX_WAIT(b, b.Flag(zke2e::kModemReady));
    a.WriteFlag(Ch(1, zke2e::kConnect));
    // The dial waits out CONNECT_TIME behind the echo; the called modem rings, is answered
    // after RING_COUNT rings and waits out ANSWER_TIME.
    IAX_WAIT(a, a.Events(u8"MODEM - Chyba při připojování"_cp) == 1);
    EXPECT_EQ(a.Events(u8"MODEM - Překročení času na odpověď"_cp), 1u);
    IAX_WAIT(b, b.Events(u8"MODEM - Chyba při připojování"_cp) == 1);
    EXPECT_EQ(b.Events(u8"MODEM - Překročení času na odpověď"_cp), 1u);
    EXPECT_GE(b.Events(u8"MODEM - Někdo volá..."_cp), 2u);
    EXPECT_GE(b.Events("MODEM - ATA"), 1u);
    EXPECT_EQ(a.Events(u8"MODEM - Chyba příjmu - neočekávaná odpověď"_cp), 0u);
    EXPECT_EQ(b.Events(u8"MODEM - Chyba příjmu - neočekávaná odpověď"_cp), 0u);
    // iaxmodem does not give up an attempt at the carriage return that abandons it (a Hayes
    // modem does, and so does zksim): it stays busy past any bound a test could wait, so the
    // modem's command mode after the time-out is not looked at here.
}

}  // namespace
