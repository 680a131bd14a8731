#include "console/load.hpp"

#include "console/command_loop.hpp"

// Not built yet: answers like a letter that names no command.
void load_command() { print_command_hint(); }
