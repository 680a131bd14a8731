// Device names: how the operator names a register, bus, memory or flag set,
// for the Change command and the trace display selection.
#pragma once

// Device codes; they also index the trace display selection `trace_select`.
enum device_code : int {
    DEV_REGISTER = 1,   // R0..R7, register index returned beside the code
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
};

// Prints "  DEVICE ?", reads one line and returns its device code;
// register_index is -1 unless the code is DEV_REGISTER.
int parse_device_name(int &register_index);
