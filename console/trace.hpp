// The Trace command, its display selection, the trace run and the trace display.
#pragma once

void trace_command();
void trace_run();
void print_trace_header();
void print_trace_line();
