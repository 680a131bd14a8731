// The Run command, with the start dialogue and break point check that the
// trace run shares.
#pragma once

// Asks " CMAR=?" and " MAX STEP=?". Returns false when the operator abandons;
// otherwise true, with no_step_limit telling whether the limit was left empty.
bool read_run_parameters(bool &no_step_limit);

// Prints " BREAK !! AT xxx" and sets stop_flag for every in-use break point
// slot that holds CMAR.
void check_break_points();

// Ends a run or trace run: pushes printed bytes to KALV.LPT, then prints
// " CPU HALTED !" and either that the step limit was used up or the steps used.
void finish_run();

void run_command();
