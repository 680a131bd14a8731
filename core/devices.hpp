// The card reader and the line printer.
#pragma once

void start_io();
void complete_input();
void complete_output();

// Pushes buffered printer bytes to KALV.LPT; called when a run ends.
void flush_printer();

// Flushes and closes the device streams; called once when the program ends.
void close_devices();
