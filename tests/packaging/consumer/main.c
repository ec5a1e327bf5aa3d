/* Calls the library's instance-free exports and starts and stops one instance. */
#include <stdio.h>

#include "zkdrv.h"

int main(void) {
    char info[64] = {0};
    const int32_t length = GetDriverInfo(0, info);
    void* driver = MakeDriver();
    printf("Version 0x%X Check %u info %d characters\n", (unsigned)Version(), (unsigned)Check(), (int)length);
    DisposeDriver(driver);
    return Version() == 0x30000 && Check() == 1 && length > 0 && driver ? 0 : 1;
}
