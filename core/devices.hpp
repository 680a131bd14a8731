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
// byte of IOBUS to the printer. A byte the file refuses is kept and written
// before any later one; the output reports ERROR 17 while bytes wait.
void complete_output();

// Pushes buffered printer bytes on (KALV.LPT itself is unbuffered; a front
// end may have put a buffered stream there); called when a run ends.
void flush_printer();

// Tries the waiting printer bytes once more, closes the device streams and
// forgets the printer's failures; called once when the program ends.
void close_devices();
