#include "console/initialize.hpp"

#include "console/command_loop.hpp"

// Not built yet: answers like a letter that names no command.
void initialize_command() { print_command_hint(); }
