// The KALVO-3 simulator: one console process, no arguments, exit status 0.
#include <fcntl.h>

#include <csignal>

#include "console/command_loop.hpp"

int main()
{
    // A standard descriptor closed by the caller would be handed to the next
    // file opened (KALV.LPT, say), and console output would land in it; such
    // a descriptor is opened on /dev/null instead (the lowest free one first).
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDWR);
    // A console reader that went away, or a printer file past the file-size
    // limit, fails the write instead of ending the program: the console then
    // goes on silently, the printer reports its fault.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    command_loop();
    return 0;
}
