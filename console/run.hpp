// The Run command, with the start dialogue and closing messages that the
// trace run shares. The step loops are in core/stepping.hpp.
#pragma once

#include "core/stepping.hpp"

// Asks " CMAR=?" and " MAX STEP=?". Returns false when the operator abandons;
// otherwise true, with no_step_limit telling whether the limit was left empty.
bool read_run_parameters(bool &no_step_limit);

// Ends a run or trace run: pushes printed bytes to KALV.LPT, then prints
// " CPU HALTED !" and either that the step limit was used up or the steps used.
void finish_run();

void run_command();
