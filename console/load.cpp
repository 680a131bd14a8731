#include "console/load.hpp"

#include "console/command_loop.hpp"

load_target load_file_header(const char *) { return LOAD_INVALID; }

bool load_file_line(load_target, const char *, uint32_t &, uint64_t &) { return false; }

// Not built yet: answers like a letter that names no command.
void load_command() { print_command_hint(); }
