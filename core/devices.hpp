// The card reader and the line printer.
#pragma once

void start_io();
void complete_input();
void complete_output();

// Flushes and closes the device streams; called once when the program ends.
void close_devices();
