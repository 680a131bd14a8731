// The one machine state of the KALVO-3, its reset and the shared error report.
//
// Everything the simulated computer holds (registers, buses, flags, both
// memories, the CMAR return stack, the memory and I/O cycle states, the device
// streams) and everything the operator keeps beside it (break points, trace
// points, trace display selections) lives in the single process-wide record
// `M`. Every machine step and every console command reads and writes it
// directly; nothing of it is ever allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/console_output.hpp"   // console_print, for every part that reports
#include "core/micro_word.hpp"   // CM_WORDS, MM_WORDS and their limits

constexpr int REGISTERS = 8;             // R0..R7
constexpr int STACK_DEPTH = 8;           // CMAR return stack
constexpr int POINT_SLOTS = 32;          // break points, trace points

// Device codes: how the operator names a register, bus, memory or flag set;
// they also index the trace display selection trace_select.
enum device_code : int {
    DEV_REGISTER = 1,     // R0..R7 (the register column flag in trace_select)
    DEV_PC = 2,
    DEV_IR = 3,
    DEV_LBUS = 4,
    DEV_SBUS = 5,
    DEV_ABUS = 6,
    DEV_IOBUS = 7,
    DEV_FSR = 8,
    DEV_RBUS = 9,
    DEV_CM = 10,
    DEV_MM = 11,
    DEV_MAR = 12,
    DEV_CMAR = 13,
    DEV_C = 14,
    DEV_FLAG = 15,
    DEV_ALL = 16,         // "*": registers and flags of the trace display
    DEV_ALL_REGS = 17,    // "R*": the eight general registers
    DEV_ALL_BUSES = 18,   // "B*": the five buses
    DEV_END = 19,         // end token or end of input
    DEV_UNKNOWN = 20,     // not recognised; error 7 reported
    DEVICE_CODES          // trace_select entries, by device code 0..20
};

// One break or trace point.
struct point_slot {
    int32_t in_use;   // non-zero while the slot holds a point
    int32_t address;  // CM address as the operator typed it; kept when freed
};

struct MachineState {
    // Memories.
    uint64_t CM[CM_WORDS];   // 40-bit micro-instructions in bits 39..0
    uint16_t MM[MM_WORDS];

    // Registers.
    uint16_t R[REGISTERS];   // general registers R0..R7
    uint32_t PC;             // program counter; only ever receives 16-bit values
    uint16_t IR;             // instruction register
    uint32_t MAR;            // main-memory address; Change may leave it above 0xFFFF
    uint32_t CMAR;           // next micro-instruction; may pass 0xFFF, the fetch checks
    unsigned C;              // 8-bit counter, 0..255
    uint16_t FSR;            // flag save register: ZER 8, NEG 4, CRY 2, OVR 1

    // Buses: each keeps its value until a later step writes it.
    uint16_t LBUS, RBUS, ABUS, SBUS, IOBUS;

    // Flags, each 0 or 1.
    int ZER, NEG, CRY, OVR, CZ, T;

    // The micro-instruction of the current or last micro-cycle: MIR and the
    // ten fields, read only by the steps of that cycle.
    micro_instruction current;

    // Sequencer return stack.
    uint16_t cmar_stack[STACK_DEPTH];
    int cmar_sp;             // entries in use, 0..8

    // Transfers spanning two micro-cycles.
    int mem_cycle;           // 0 idle, 1 read started, 2 write started
    int io_cycle;            // 0 idle, 1 input started, 2 output started

    // Run control.
    int stop_flag;           // set by errors, halts and break points
    int stop_reason;         // why stop_flag is set: the highest-ranking stop_reason recorded
    int first_error;         // the first error reported since start_run or start_action; 0 none
    int32_t step_count;      // micro-cycles of the current or last run
    int32_t max_steps;       // step limit of the current or last run; -1 none

    // Devices: opened at their first valid start, kept open to program end.
    FILE *reader_file;       // KALV.CRD, the card reader
    FILE *printer_file;      // KALV.LPT, the line printer

    // Operator aids.
    point_slot break_points[POINT_SLOTS];
    point_slot trace_points[POINT_SLOTS];
    int break_active;        // non-zero while a break point slot is in use
    int trace_active;        // non-zero while a trace point slot is in use
    int trace_select[DEVICE_CODES];   // by device code; DEV_REGISTER = register column flag
    int reg_trace_select[REGISTERS];
};

// The machine. Zero at program start; start-up then resets and clears it.
extern MachineState M;

// Power-on values of every register, bus, flag, cycle state and operator aid;
// memories, run control, decoded fields, stack entries, point addresses and
// device streams are kept.
void reset_registers();
void clear_control_memory();
void clear_main_memory();

// Why a run ended, ranked: when one step has several reasons, the highest
// is the one recorded (an error before a break point before a halt). A run
// that ends with none of them used up its step limit.
enum stop_reason : int {
    STOP_NONE = 0,    // stop_flag clear: the step limit, or nothing ran
    STOP_HALT = 1,    // a halting extra function
    STOP_BREAK = 2,   // a break point
    STOP_ERROR = 3,   // an error report; first_error names it
};

// Sets stop_flag and records `reason` unless a higher-ranking one is there.
inline void record_stop(stop_reason reason)
{
    M.stop_flag = 1;
    if (reason > M.stop_reason) M.stop_reason = reason;
}

// A run begins: stop_flag, stop_reason and first_error cleared.
void start_run();

// An operator action begins (a load, a change of the break points): the
// first error reported from now on is its own. stop_flag and stop_reason,
// which tell how the last run ended, are kept.
void start_action();

// Error numbers of the system.
enum error_number : int {
    ERR_UNDEFINED_CODE = 1,
    ERR_EMPTY_STACK = 2,
    ERR_MM_LIMIT = 3,
    ERR_CM_LIMIT = 4,
    ERR_LOAD_FORMAT = 5,
    ERR_ILLEGAL_INPUT = 7,
    ERR_IO_INSTRUCTION = 8,
    ERR_IO_DEVICE = 9,
    ERR_NO_DATA = 12,
    ERR_STACK_OVERFLOW = 14,
    ERR_BREAK_OVERFLOW = 15,
    ERR_TRACE_OVERFLOW = 16,
    ERR_IO_ERROR = 17,
    ERR_NOT_READY = 18,
};

// Prints "\nERROR n\n", sets stop_flag, prints the message that the error
// table gives for the number (with FFFF for error 3, FFF for error 4) and a
// line end, and records the stop (STOP_ERROR) and, when it is the first
// since start_run or start_action, the number in first_error. Never undoes
// anything: the caller goes on with its recovery.
__attribute__((cold)) void report_error(error_number number);

// The message that the error table gives for `number`, as report_error
// prints it (a leading space, its argument filled in), in `text`; an empty
// text and false for a number the table does not hold.
constexpr int ERROR_TEXT_SIZE = 64;
bool error_message(int number, char (&text)[ERROR_TEXT_SIZE]);
