// The Trace command, its display selection, the trace run and the trace display.
#pragma once

// The Trace command: A)ddress (trace points), G)o (trace run), D)evice
// (display selection).
void trace_command();

// The D)evice sub-menu: S)et, R)eset, D)isplay of the trace display selection.
void device_selection_menu();

// Reads device names until an end token and stores value (1 select, 0
// deselect) into the selection flags that each name stands for.
void select_trace_devices(int value);

// Runs like the Run command, showing the selected columns after every step,
// or only after the steps that arrive at a trace point.
void trace_run();

// The column names of the present selection, then a line end.
void print_trace_header();

// The present values of the selected columns, then a line end.
void print_trace_line();
