// The KALVO-3 simulator: one console process, no arguments, exit status 0.
#include "console/command_loop.hpp"

int main()
{
    command_loop();
    return 0;
}
