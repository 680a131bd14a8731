#include "core/machine_state.hpp"

#include <cstdio>
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
