// The KALVO-3 simulator: one console process, no arguments, exit status 0.
#include <fcntl.h>

#include "console/command_loop.hpp"

int main()
{
    // A standard descriptor closed by the caller would be handed to the next
    // file opened (KALV.LPT, say), and console output would land in it; such
    // a descriptor is opened on /dev/null instead (the lowest free one first).
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDWR);
    command_loop();
    return 0;
}
