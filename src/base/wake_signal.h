// A signal that ends a thread's timed wait early: raised by whoever has news for the thread
// (bytes from the line, a request of the host, a stop), taken by the waiting thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zk {

class WakeSignal {
public:
    // Ends the current wait, or the next one at once when nobody waits now.
    void Raise() {
        {
            std::lock_guard lock(lock_);
            raised_ = true;
        }
        wake_.notify_all();
    }
    // Waits until raised or until `milliseconds` have passed; takes the signal either way.
    // True when it was raised.
    bool Wait(int milliseconds) {
        std::unique_lock lock(lock_);
        const bool raised = wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return raised_; });
        raised_ = false;
        return raised;
    }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool raised_ = false;
};

}  // namespace zk
