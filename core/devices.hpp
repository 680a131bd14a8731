// The card reader (device 0, KALV.CRD) and the line printer (device 1,
// KALV.LPT). Each file is opened at the first valid start of its device, in
// the current directory, and stays open until the program ends.
#pragma once

// EXF 7: starts the transfer that the I/O instruction in IR names
// (0xEC00 input from the reader, 0xED01 output to the printer).
void start_io();

// Input completion, early in the cycle after the start: the next card byte,
// or 0xFFFF and ERROR 12 at the end of the cards, onto IOBUS.
void complete_input();

// Output completion, in the middle of the cycle after the start: the low
// byte of IOBUS to the printer.
void complete_output();

// Pushes buffered printer bytes to KALV.LPT; called when a run ends.
void flush_printer();

// Flushes and closes the device streams; called once when the program ends.
void close_devices();
