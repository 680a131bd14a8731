#include "console/points.hpp"

#include "console/command_loop.hpp"

// Not built yet: answers like a letter that names no command.
void break_point_menu() { print_command_hint(); }

void trace_point_menu() {}
