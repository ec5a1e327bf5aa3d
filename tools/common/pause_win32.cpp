#include <windows.h>

#include <chrono>

#include "common/pause.h"

namespace zktool {

// Waits for the time or a message, whichever comes first, and dispatches every message that
// came, until the time is up.
void Pause(double seconds) {
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
