// The worker thread with real threads: Done stops it while the host keeps calling, while it
// pauses between passes, and while it writes to a port that does not take the bytes.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config/defaults.h"
#include "diag/status_window.h"
#include "host/instance.h"
#include "line/modem.h"
#include "line/serial.h"
#include "support/par_files.h"
#include "support/temp_dir.h"
#include "worker/drv_thread.h"

using namespace zk;

namespace {

// An instance whose worker runs without a port: every pass runs the timer tick and the
// decoding step.
struct RunningInstance {
    DriverRecord* rec = MakeDriver();
    DriverContext& ctx = *rec->Context;

    explicit RunningInstance(int idleTime) {
        std::lock_guard lock(ctx.Lock);
        ResetContext(ctx);
        ctx.Global.IDLE_TIME = idleTime;
        ctx.StationCount = 2;
        ctx.Stations[2]->SleepLeft = 0.05;
        ctx.LastTick = TickHundredths(ctx);
        rec->Window = std::make_unique<StatusWindow>();
        InitStatusWindow(*rec->Window);
    }
    void Start() {
        rec->Running = true;
        rec->Thread = std::make_unique<DrvThread>(*rec);
    }
    void WaitForPasses(double passes) const {
        while (ctx.Timing.PassCount.load() < passes) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~RunningInstance() { DisposeDriver(rec); }
};

TEST(WorkerThread, DoneStopsTheWorkerWhileTheHostKeepsCalling) {
    RunningInstance inst(1);
    inst.Start();
    std::uint8_t buffer[kHostBufferSize];
    // The host calls on until the worker has made its passes and woken station 2.
    bool woken = false;
    for (int i = 0; inst.ctx.Timing.PassCount.load() < 30 || !woken; ++i) {
        {
            std::lock_guard lock(inst.ctx.Lock);
            woken = inst.ctx.Stations[2]->SleepLeft == 0.0;
            const char item[3] = {1, 2, static_cast<char>(i)};
            AppendRequest(inst.ctx.ReadQueue, 1, 16, 0, std::string_view(item, 3), nullptr);
            if (CountRequests(inst.ctx.ReadQueue) > 50) EmptyQueue(inst.ctx.ReadQueue);
            inst.ctx.PendingEventText.clear();
        }
        DriverProc(*inst.rec, static_cast<std::uint32_t>(i % 2), 0, 0, 0, 0);
        SetBufferAddr(*inst.rec, kHostBufferId, buffer);
        std::this_thread::yield();
    }
    Done(*inst.rec);
    EXPECT_FALSE(inst.rec->Running.load());
    EXPECT_TRUE(inst.ctx.StopRequest.load());
    EXPECT_EQ(inst.rec->Thread, nullptr);
    EXPECT_EQ(inst.rec->Window, nullptr);
}

TEST(WorkerThread, DoneEndsALongPauseBetweenPasses) {
    RunningInstance inst(600000);  // ten minutes
    inst.Start();
    inst.WaitForPasses(1);
    Done(*inst.rec);  // would wait for the pause to end if the pause were not interrupted
    EXPECT_EQ(inst.rec->Thread, nullptr);
    EXPECT_EQ(inst.ctx.Timing.PassCount.load(), 1.0);
}

TEST(WorkerThread, WithoutAnIdleTimeThePassesFollowEachOtherAndStillStop) {
    RunningInstance inst(0);
    inst.Start();
    inst.WaitForPasses(1000);
    Done(*inst.rec);
    EXPECT_EQ(inst.rec->Thread, nullptr);
}

// A pseudo-terminal that stands for the serial line; the other end is never read, so the
// worker's writes stall once its buffer is full.
struct StalledLine {
    int master = -1, slave = -1, filler = -1;
    std::string name;
    StalledLine() {
        char path[256] = {};
        if (openpty(&master, &slave, path, nullptr, nullptr) != 0) return;
        name = path;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        filler = ::open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY);
        const std::string block(4096, 'x');
        while (filler >= 0 && ::write(filler, block.data(), block.size()) > 0) {
        }
    }
    ~StalledLine() {
        for (int fd : {filler, slave, master})
            if (fd >= 0) ::close(fd);
    }
};

TEST(WorkerThread, DoneStopsAWorkerThatWritesToAStalledLineAndReopensItsPort) {
    StalledLine line;
    ASSERT_FALSE(line.name.empty());
    zktest::TempDir dir;
    zktest::ParFileOptions options;
    options.device = line.name;
    options.modem = "[MODEM] INIT_TIME 0 END";  // every init fails at once and reopens the port
    const std::string file = dir.file("stalled.par");
    zktest::WriteFile(file, zktest::MakeParFile(options));

    DriverRecord* rec = MakeDriver();
    char text[256] = "T1";
    if (!Init(*rec, static_cast<std::int32_t>(file.size()), file.c_str(), text, 0, 0, 0)) {
        Done(*rec);
        DisposeDriver(rec);
        GTEST_SKIP() << "the serial port does not open on a pseudo-terminal yet: " << text;
    }
    DriverContext& ctx = *rec->Context;
    for (int i = 0; i < 20; ++i) {
        {
            std::lock_guard lock(ctx.Lock);
            QueueModemCommand(ctx.Modem, ModemInit, ctx.Modem.InitBlock, {}, {});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Done(*rec);
    EXPECT_EQ(rec->Thread, nullptr);
    EXPECT_FALSE(rec->SerialPort->Active());  // a reopen during the stop is undone
    DisposeDriver(rec);
}

}  // namespace
