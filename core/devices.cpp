#include "core/devices.hpp"

#include "core/machine_state.hpp"

// The transfer state io_cycle carries a start into the next micro-cycle.
// A stream that is still null when its transfer completes (the open failed,
// or ERROR 9 started the transfer) is never touched: the input then ends as
// at the end of the cards, the output writes nothing.

void start_io()
{
    const unsigned device = M.IR & 0xFF;
    switch (M.IR >> 8) {
    case 0xEC:                                                   // input
        if (device != 0)
            report_error(ERR_IO_DEVICE);
        else if (!M.reader_file)
            M.reader_file = fopen("KALV.CRD", "r");
        M.io_cycle = 1;
        break;
    case 0xED:                                                   // output
        if (device != 1)
            report_error(ERR_IO_DEVICE);
        else if (!M.printer_file)
            M.printer_file = fopen("KALV.LPT", "w");
        M.io_cycle = 2;
        break;
    default:                                                     // no I/O instruction
        report_error(ERR_IO_INSTRUCTION);
        break;
    }
}

void complete_input()
{
    switch (M.io_cycle) {
    case 0:  [[likely]] break;                                   // idle
    case 1: {                                                    // input started
        const int byte = M.reader_file ? getc(M.reader_file) : EOF;
        if (byte == EOF) {
            report_error(ERR_NO_DATA);
            M.IOBUS = 0xFFFF;
        } else {
            M.IOBUS = static_cast<uint16_t>(byte);
        }
        M.io_cycle = 0;
        break;
    }
    case 2:  break;                                              // output started: later
    default: [[unlikely]] console_print(" ILLEGAL IO CYCLE STATE\n"); break;
    }
}

void complete_output()
{
    if (M.io_cycle != 2) return;
    if (M.printer_file) {
        const int byte = M.IOBUS & 0xFF;
        putc(byte, M.printer_file);
        if (byte == '\n') fflush(M.printer_file);   // whole lines survive a killed run
    }
    M.io_cycle = 0;
}

void flush_printer()
{
    if (M.printer_file) fflush(M.printer_file);
}

void close_devices()
{
    if (M.reader_file) fclose(M.reader_file);
    if (M.printer_file) fclose(M.printer_file);
    M.reader_file = nullptr;
    M.printer_file = nullptr;
}
