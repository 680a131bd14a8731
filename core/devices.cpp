#include "core/devices.hpp"

#include "core/machine_state.hpp"

void start_io() {}
void complete_input() {}
void complete_output() {}
void flush_printer() {}

void close_devices()
{
    if (M.reader_file) fclose(M.reader_file);
    if (M.printer_file) fclose(M.printer_file);
    M.reader_file = nullptr;
    M.printer_file = nullptr;
}
