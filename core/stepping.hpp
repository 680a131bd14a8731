// Running the machine: the step loops of a run and of a trace run, the step
// limit they keep to, and the break point check they share. Every front end
// (the console's Run and Trace commands, and any other) runs the machine
// through these.
//
// A run starts with start_run() and makes micro-cycles from CMAR until the
// step in which stop_flag became 1 (an error report, a halt, a break point:
// stop_reason says which) or until its step limit is used up. Each loop returns the steps it
// made and leaves them in step_count.
#pragma once

#include <cstdint>

// The steps a run may make: no limit, or max_steps (none when it is
// negative); in fuzz builds never more than the fuzz cap.
uint64_t step_limit(bool no_step_limit);

// Makes at most `limit` steps. While break_active, break points are checked
// before the first step (only that check can hit before a step: every later
// one looks at an address that the check after the previous step passed) and
// after every step; a hit before a step does not prevent that step. With
// `counts` (CM_WORDS + 1 of them), each step adds one to the count of the
// address it ran from, the last for any address beyond the control memory.
uint64_t run_steps(uint64_t limit, uint64_t *counts = nullptr);

// Makes at most `limit` steps, calling `show` after every step and then,
// while break_active, checking the break points. No check before the first
// step.
uint64_t trace_steps(uint64_t limit, void (*show)());

// Prints " BREAK !! AT xxx" and records a break point stop for every in-use
// break point slot that holds CMAR.
void check_break_points();
