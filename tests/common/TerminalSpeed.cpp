#include "tests/common/TerminalSpeed.h"

// termios2 lives in <asm/termbits.h>, which cannot meet <termios.h> in one file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

int ReadTerminalSpeed(int fd)
{
    struct termios2 line
    {
    };
    if (::ioctl(fd, TCGETS2, &line) != 0 || line.c_ispeed != line.c_ospeed)
        return -1;
    return static_cast<int>(line.c_ospeed);
}
