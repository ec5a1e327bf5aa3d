// The status window on the screen: a native window that shows the model of status_window.h.
// On Windows it is a fixed dialog on the thread that creates it; elsewhere the model has no
// view (zkhost draws it in the terminal) and Create gives nothing.
//
// The view reads the model only on its own thread, on a timer of its own, under the instance's
// lock and only when the model's revision changed; it never holds the lock across a window
// call. The worker thread never touches the view.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "diag/status_window.h"

namespace zk {

class StatusView {
public:
    // Creates the window, hidden, on the calling thread, which must pump its messages for the
    // window to repaint (a thread that never does still works; the window just stays as it
    // was). The model and the lock must outlive the view; the caller must not hold the lock.
    // Where a window could be made but was not (no desktop for the process, the desktop heap
    // used up), it gives nothing and puts the system's reason in `failure`; the instance then
    // works on without a window.
    static std::unique_ptr<StatusView> Create(StatusWindow& model, std::mutex& lock, std::string* failure = nullptr);

    // Destroys the window. On the creating thread at once; from any other thread the window
    // lets go of the model at once and is destroyed by its own thread.
    virtual ~StatusView() = default;

    // Carries out a host request on the window (hide 0, show 1, minimise 2, restore 3, focus
    // 4, bounds 5, enable 6); the model already holds the requested state. The caller must not
    // hold the lock.
    virtual void Apply(std::uint32_t code) = 0;

    // The native window handle (HWND on Windows).
    virtual void* Handle() const = 0;
};

}  // namespace zk
