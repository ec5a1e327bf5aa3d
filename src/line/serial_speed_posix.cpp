// Kept apart from the termios code: the kernel's termios2 header and the C library's termios
// header cannot meet in one file.
#include "line/serial_speed.h"

#include <cerrno>

#if defined(__linux__)
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace zk {

bool CustomLineSpeedSupported() { return true; }

int SetCustomLineSpeed(int fd, std::int32_t rate) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(rate);
    t.c_ospeed = static_cast<speed_t>(rate);
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

std::int32_t LineSpeed(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    return static_cast<std::int32_t>(t.c_ospeed);
}

}  // namespace zk

#else

namespace zk {

bool CustomLineSpeedSupported() { return false; }
int SetCustomLineSpeed(int, std::int32_t) { return EINVAL; }
std::int32_t LineSpeed(int) { return -1; }

}  // namespace zk

#endif
