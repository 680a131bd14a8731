#include "core/devices.hpp"

#include <cstring>

#include "core/machine_state.hpp"

// The transfer state io_cycle carries a start into the next micro-cycle.
// A stream that is still null when its transfer completes (the open failed,
// or ERROR 9 started the transfer) is never touched: the input then ends as
// at the end of the cards, the output writes nothing.
//
// KALV.LPT is written unbuffered, so every byte the printer took is in the
// file however the process ends. A byte the file refuses (a full disk, the
// file-size limit, a pipe without reader) waits with every later byte, in
// order, and they are tried again, oldest first, at each later output: the
// file always holds a prefix of what was printed. Each output that leaves
// bytes waiting reports ERROR 17, so the run ends. Should more bytes wait
// than the backlog holds, the printer writes nothing more (and reports
// ERROR 17 at each output) until the program ends.

namespace {

constexpr int PRINTER_BACKLOG = 256;
uint8_t printer_backlog[PRINTER_BACKLOG];   // bytes waiting, oldest first
int printer_waiting;                        // bytes in printer_backlog
bool printer_lost;                          // a byte did not fit: no more writes

// Writes the waiting bytes in order, as far as the file takes them.
void write_waiting_bytes()
{
    clearerr(M.printer_file);
    int written = 0;
    while (written < printer_waiting && putc(printer_backlog[written], M.printer_file) != EOF)
        written++;
    memmove(printer_backlog, printer_backlog + written, static_cast<size_t>(printer_waiting - written));
    printer_waiting -= written;
}

// The output of `byte` while bytes wait or after its write failed.
[[gnu::cold, gnu::noinline]] void print_behind_failure(uint8_t byte)
{
    if (!printer_lost && printer_waiting == PRINTER_BACKLOG) printer_lost = true;
    if (!printer_lost) {
        printer_backlog[printer_waiting++] = byte;
        write_waiting_bytes();
    }
    if (printer_lost || printer_waiting > 0) report_error(ERR_IO_ERROR);
}

}  // namespace

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
        else if (!M.printer_file && (M.printer_file = fopen("KALV.LPT", "w")))
            setvbuf(M.printer_file, nullptr, _IONBF, 0);
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
    M.io_cycle = 0;
    if (!M.printer_file) return;
    const uint8_t byte = M.IOBUS & 0xFF;
    if (printer_waiting == 0 && putc(byte, M.printer_file) != EOF) [[likely]] return;
    print_behind_failure(byte);
}

void flush_printer()
{
    if (M.printer_file) fflush(M.printer_file);
}

void close_devices()
{
    if (M.reader_file) fclose(M.reader_file);
    if (M.printer_file) {
        if (printer_waiting > 0 && !printer_lost) write_waiting_bytes();   // a last try
        fclose(M.printer_file);
    }
    printer_waiting = 0;
    printer_lost = false;
    M.reader_file = nullptr;
    M.printer_file = nullptr;
}
