// The command loop: banner, power-on state, the ">> " prompt and dispatch on
// the first letter of each command line, and the program's end.
#pragma once

// Runs the simulator until "E", "Q", "." or end of input.
void command_loop();

// The hint printed for a line that names no command.
void print_command_hint();
