#include "worker/drv_thread.h"

#include <chrono>

#include "host/records.h"
#include "line/serial.h"
#include "worker/pass.h"

namespace zk {

DrvThread::DrvThread(DriverRecord& rec) : rec_(rec) { thread_ = std::thread([this] { Execute(); }); }

DrvThread::~DrvThread() {
    Wake();
    Join();
}

void DrvThread::Wake() {
    {
        std::lock_guard lock(pauseLock_);
        wake_ = true;
    }
    pauseWake_.notify_all();
}

void DrvThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void DrvThread::Pause(int milliseconds) {
    std::unique_lock lock(pauseLock_);
    pauseWake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return wake_; });
    wake_ = false;
}

void DrvThread::Execute() {
    do {
        const int pause = WorkerPass(rec_);
        if (!rec_.Running.load()) break;
        if (pause > 0) Pause(pause);
        else std::this_thread::yield();
    } while (rec_.Running.load());
    // A stop closes the port before it ends the loop; a port set-up that this thread ran while
    // the stop was under way may have opened it again, so the thread leaves it closed.
    if (rec_.SerialPort) rec_.SerialPort->SetActive(false);
}

}  // namespace zk
