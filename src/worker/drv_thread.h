// TDrvThread: the worker thread of an instance, the only thread that talks to the line.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace zk {

struct DriverRecord;

class DrvThread {
public:
    // Starts the thread at once; it runs passes while the record's Running is set.
    explicit DrvThread(DriverRecord& rec);
    // Joins the thread (the owner clears Running first).
    ~DrvThread();
    DrvThread(const DrvThread&) = delete;
    DrvThread& operator=(const DrvThread&) = delete;

    // Ends the pause between passes early (used when stopping).
    void Wake();
    // Waits until the thread has ended.
    void Join();

private:
    void Execute();
    void Pause(int milliseconds);

    DriverRecord& rec_;
    std::mutex pauseLock_;
    std::condition_variable pauseWake_;
    bool wake_ = false;
    std::thread thread_;
};

}  // namespace zk
