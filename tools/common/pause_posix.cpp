#include <chrono>
#include <thread>

#include "common/pause.h"

namespace zktool {

void Pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

void SetMessagePump(bool) {}  // no window messages here

}  // namespace zktool
