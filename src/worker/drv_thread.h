// TDrvThread: the worker thread of an instance, the only thread that talks to the line.
#pragma once

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

    // Ends the pause between passes early (the record's wake signal).
    void Wake();
    // Waits until the thread has ended.
    void Join();

private:
    void Execute();

    DriverRecord& rec_;
    std::thread thread_;
};

}  // namespace zk
