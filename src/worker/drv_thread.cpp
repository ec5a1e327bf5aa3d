#include "worker/drv_thread.h"

#include "host/records.h"
#include "line/serial.h"
#include "worker/pass.h"

namespace zk {

DrvThread::DrvThread(DriverRecord& rec) : rec_(rec) { thread_ = std::thread([this] { Execute(); }); }

DrvThread::~DrvThread() {
    Wake();
    Join();
}

void DrvThread::Wake() { rec_.Wake.Raise(); }

void DrvThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void DrvThread::Execute() {
    do {
        const int pause = WorkerPass(rec_);
        if (!rec_.Running.load()) break;
        if (pause > 0) rec_.Wake.Wait(pause);
        else std::this_thread::yield();
    } while (rec_.Running.load());
    // A stop closes the port before it ends the loop; a port set-up that this thread ran while
    // the stop was under way may have opened it again, so the thread leaves it closed.
    if (rec_.SerialPort) rec_.SerialPort->SetActive(false);
}

}  // namespace zk
