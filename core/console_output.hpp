// The console's output: formatted text gathered in a fixed buffer and handed
// on to standard output or to the sink of a program other than the console.
// Every part of the machine and every console command prints through here.
#pragma once

#include <cstddef>

// Formatted console output (printf conventions). The text is handed on, in
// order, to the console sink as it is printed, or by default gathered in a
// fixed buffer and written to standard output (descriptor 1): when the
// buffer is full, on console_flush, and after each line while standard output
// is a terminal.
// Writing to descriptor 1 waits while a non-blocking descriptor is full and
// carries on after partial writes; any other failure (a reader that went
// away, a full device, a closed descriptor) drops the text silently, so the
// session goes on without a console. One text is at most CONSOLE_BUFFER_SIZE
// - 1 bytes (the console's longest, the menu, is under a kilobyte); a longer
// one is cut there. The result is the length of the text.
constexpr int CONSOLE_BUFFER_SIZE = 1 << 16;
int console_print(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Hands on everything console_print has buffered. The console line reader
// calls it before every read, the Run command and the trace run before their
// first step, and the program at its end.
void console_flush();

// Where console text goes instead of standard output: programs other than the
// console (the workbench, the check runner) collect it. Text buffered for the old destination is flushed to
// it first; nullptr returns to standard output.
using console_sink = void (*)(const char *text, size_t length);
void set_console_sink(console_sink sink);
