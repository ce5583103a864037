#include "support/LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int ReadLineSpeed(int fd)
{
    struct termios2 line
    {
    };
    if (::ioctl(fd, TCGETS2, &line) != 0 || line.c_ispeed != line.c_ospeed)
        return -1;
    return static_cast<int>(line.c_ospeed);
}
