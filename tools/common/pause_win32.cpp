#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/pause.h"

namespace zktool {

namespace {
std::atomic<bool> g_pump{true};  // the tool's one switch, set from its command line
}  // namespace

void SetMessagePump(bool on) { g_pump = on; }

// Waits for the time or a message, whichever comes first, and dispatches every message that
// came, until the time is up.
void Pause(double seconds) {
    if (!g_pump.load()) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return;
    }
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const auto now = Clock::now();
        if (now >= end) return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left > 0 ? left : 1), QS_ALLINPUT);
    }
}

}  // namespace zktool
