#include "console/change.hpp"

#include "console/command_loop.hpp"

// Not built yet: answers like a letter that names no command.
void change_command() { print_command_hint(); }
