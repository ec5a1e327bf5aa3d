// Letting time pass in a host tool. On Windows the waiting thread keeps handling its window
// messages meanwhile (the driver's status window lives on the thread that started it).
#pragma once

namespace zktool {

void Pause(double seconds);

// Off: Pause only sleeps and no window message is handled (a host that never pumps them).
void SetMessagePump(bool on);

}  // namespace zktool
