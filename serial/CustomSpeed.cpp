#include "serial/CustomSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

int SetCustomLineSpeed(int fd, unsigned speed)
{
    struct termios2 line
    {
    };
    if (::ioctl(fd, TCGETS2, &line) != 0)
        return errno;
    line.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = speed;
    line.c_ospeed = speed;
    if (::ioctl(fd, TCSETS2, &line) != 0)
        return errno;
    return 0;
}
