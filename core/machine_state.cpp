#include "core/machine_state.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

MachineState M;

void reset_registers()
{
    memset(M.R, 0, sizeof M.R);
    M.PC = 0;
    M.IR = 0;
    M.MAR = 0;
    M.CMAR = 0;
    M.C = 0;
    M.FSR = 0;
    M.LBUS = M.RBUS = M.ABUS = M.SBUS = M.IOBUS = 0;
    M.ZER = M.NEG = M.CRY = M.OVR = M.CZ = M.T = 0;
    M.current.MIR = 0;
    M.cmar_sp = 0;
    M.mem_cycle = 0;
    M.io_cycle = 0;
    for (point_slot &slot : M.break_points) slot.in_use = 0;
    for (point_slot &slot : M.trace_points) slot.in_use = 0;
    M.break_active = 0;
    M.trace_active = 0;
    memset(M.trace_select, 0, sizeof M.trace_select);
    M.trace_select[DEV_CMAR] = 1;   // CMAR alone is shown
    memset(M.reg_trace_select, 0, sizeof M.reg_trace_select);
}

void clear_control_memory() { memset(M.CM, 0, sizeof M.CM); }

void clear_main_memory() { memset(M.MM, 0, sizeof M.MM); }

namespace {

char console_buffer[CONSOLE_BUFFER_SIZE];
size_t console_used;            // bytes of console_buffer waiting
console_sink console_output;    // nullptr: descriptor 1
int line_buffered = -1;         // standard output is a terminal; -1 not yet asked

// Writes all of text to descriptor 1, or as much as it takes before failing.
void write_standard_output(const char *text, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(1, text, length);
        if (written > 0) {
            text += written;
            length -= static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out{1, POLLOUT, 0};
            if (poll(&out, 1, -1) < 0 && errno != EINTR) return;
        } else {
            return;   // the console is gone: the session goes on without it
        }
    }
}

}  // namespace

void console_flush()
{
    if (console_used == 0) return;
    if (console_output)
        console_output(console_buffer, console_used);
    else
        write_standard_output(console_buffer, console_used);
    console_used = 0;
}

void set_console_sink(console_sink sink)
{
    console_flush();
    console_output = sink;
}

int console_print(const char *format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    size_t room = sizeof console_buffer - console_used;
    int length = vsnprintf(console_buffer + console_used, room, format, args);
    if (length >= 0 && static_cast<size_t>(length) >= room) {   // it did not fit: empty the buffer first
        console_flush();
        room = sizeof console_buffer;
        length = vsnprintf(console_buffer, room, format, again);
        if (static_cast<size_t>(length) >= room) length = static_cast<int>(room - 1);
    }
    va_end(again);
    va_end(args);
    if (length < 0) return length;
    const char *text = console_buffer + console_used;
    console_used += static_cast<size_t>(length);
    if (console_output) {   // a sink takes each text as it comes
        console_flush();
        return length;
    }
    if (line_buffered < 0) line_buffered = isatty(1);
    if (line_buffered && memchr(text, '\n', static_cast<size_t>(length))) console_flush();
    return length;
}

void start_run()
{
    M.stop_flag = 0;
    M.stop_reason = STOP_NONE;
    M.first_error = 0;
}

void start_action() { M.first_error = 0; }

bool error_message(int number, char (&text)[ERROR_TEXT_SIZE])
{
    struct entry {
        error_number number;
        const char *message;   // a format with at most one %X, filled by argument
        unsigned argument;
    };
    static const entry table[] = {
        {ERR_UNDEFINED_CODE, " UNDEFINED MICRO INSTRUCTION CODE !", 0},
        {ERR_EMPTY_STACK,    " CAN'T POPUP FROM EMPTY CMAR-STACK !", 0},
        {ERR_MM_LIMIT,       " OUT OF MM ADDRESS LIMIT (0-%X) ! ", MM_LIMIT},
        {ERR_CM_LIMIT,       " OUT OF CM ADDRESS LIMIT (0-%X) ! ", CM_LIMIT},
        {ERR_LOAD_FORMAT,    " INVALID LOAD FILE FOMAT !", 0},
        {ERR_ILLEGAL_INPUT,  " ILLEGAL INPUT COMMAND OR DATA !", 0},
        {ERR_IO_INSTRUCTION, " UNDEFINED I/O INSTRUCTION ON IR !", 0},
        {ERR_IO_DEVICE,      " UNDEFINED I/O DEVICE NO. ON IR !", 0},
        {ERR_NO_DATA,        " NO DATA ON I/O DEVICE !", 0},
        {ERR_STACK_OVERFLOW, " CMAR STACK OVERFLOW (STACK DEPTH IS 8 LEVEL)", 0},
        {ERR_BREAK_OVERFLOW, " THE NUMBER OF BREAK POINT IS OVERFLOW", 0},
        {ERR_TRACE_OVERFLOW, " THE NUMBER OF TRACE POINT IS OVERFLOW", 0},
        {ERR_IO_ERROR,       " I/O ERROR !", 0},
        {ERR_NOT_READY,      " MEMORY CYCLE IS NOT READY TO READ", 0},
    };
    for (const entry &e : table)
        if (e.number == number) {
            snprintf(text, sizeof text, e.message, e.argument);
            return true;
        }
    text[0] = '\0';
    return false;
}

void report_error(error_number number)
{
    char message[ERROR_TEXT_SIZE];
    if (!error_message(number, message)) return;
    console_print("\nERROR %d\n", number);
    record_stop(STOP_ERROR);
    if (!M.first_error) M.first_error = number;
    console_print("%s", message);
    console_print("\n");
}
