// The registers, buses, flag group and memories as the console names, shows
// and changes them: one row each, in the order in which the Dump command and
// the trace display show their columns. The device names, the Change command,
// Dump's register and bus displays and the trace selection and display all
// read this table. Each row of a register or bus refers to the machine's
// description (core/machine_description.hpp) for its name, width, store rule
// and place; the row adds only how the console lays it out.
#pragma once

#include <cstdint>

#include "core/machine_description.hpp"
#include "core/machine_state.hpp"

// The group names a row belongs to.
enum register_group : unsigned {
    GROUP_ALL = 1,         // "*": registers and flags, no bus (Dump R)
    GROUP_REGISTERS = 2,   // "R*": the eight general registers
    GROUP_BUSES = 4,       // "B*": the five buses (Dump B)
};

// How the Change command asks for a row's new value.
enum change_kind {
    CHANGE_REGISTER,     // "    R[n]:xxxx->", any hex answer, cut to the mask
    CHANGE_VALUE,        // "    NAME:x..x->" with the value cut to the mask; the answer too
    CHANGE_CM_ADDRESS,   // "    NAME:x..x->", a CM address, kept even beyond the memory
    CHANGE_MM_ADDRESS,   // the same with an MM address
    CHANGE_FLAGS,        // the six flag questions
    CHANGE_CM_WORDS,     // control-memory words from a start address
    CHANGE_MM_WORDS,     // main-memory words from a start address
};

enum column_kind { NO_COLUMN, HEX_COLUMN, FLAG_COLUMN };

struct register_row {
    device_code code;
    int index;             // R0..R7: the register number; otherwise -1
    const machine_register *reg;   // the register described; nullptr for FLAG, CM, MM
    const char *name;      // as typed (R0..R7 by their own rule: nullptr)
    column_kind column;
    const char *header;    // column header, blanks included
    const char *lead;      // printed before the value
    int digits;            // at least this many hex digits (Change shows as many)
    const char *trail;     // printed after the value
    unsigned mask;         // what Change shows of a value: the register's width
    unsigned groups;       // register_group bits
    change_kind change;
};

extern const register_row REGISTER_ROWS[];
extern const int REGISTER_ROW_COUNT;

// The described registers that the console does not name one by one: its
// texts are fixed, so a register added to the description joins a row here
// or this list (the tests hold every register to one of the two). The flags
// are shown and changed together through the FLAG row.
// clang-format off
constexpr machine_register_id NOT_NAMED_AT_CONSOLE[] = {
    REG_ZER, REG_NEG, REG_CRY, REG_OVR, REG_CZ, REG_T,
    REG_LBF, REG_RBF, REG_ALF, REG_SHF, REG_SBF, REG_MMF, REG_SQF, REG_TSF, REG_EXF, REG_ADF,
    REG_MEMCYCLE, REG_IOCYCLE, REG_SP, REG_S0, REG_S1, REG_S2, REG_S3, REG_S4, REG_S5, REG_S6, REG_S7,
    REG_STOP,
};
// clang-format on

// The rows, for range-for.
struct register_rows {
    const register_row *begin() const { return REGISTER_ROWS; }
    const register_row *end() const { return REGISTER_ROWS + REGISTER_ROW_COUNT; }
};

// The row of a device code (for DEV_REGISTER, of register `index`), or nullptr.
const register_row *find_register_row(int code, int index);

// The group that a group's device code (DEV_ALL, DEV_ALL_REGS, DEV_ALL_BUSES)
// names, or 0.
unsigned group_of(int code);

// The device code of a name typed whole (any case) other than R0..R7, or
// DEV_UNKNOWN.
int device_code_of_name(const char *name);

unsigned register_value(const register_row &row);
void store_register_value(const register_row &row, unsigned value);

// What a row keeps of a new value, as the Change command stores it: an
// address whole (even beyond its memory), anything else cut to the mask.
unsigned changed_value(const register_row &row, unsigned value);

// Which rows a line shows, and how.
struct column_style {
    bool (*shown)(const register_row &row);
    bool counter_zero_from_c;   // the fifth flag: C == 0 (trace) or the CZ flag (Dump)
    bool trailing_blank;        // the last column's trailing blank (Dump B drops it)
};

// The rows a style shows, gathered once for the lines that show them.
constexpr int MAX_REGISTER_ROWS = 32;
struct column_set {
    const register_row *rows[MAX_REGISTER_ROWS];
    int count;
    column_style style;
};
column_set columns_of(const column_style &style);

// Room for the longest line: every column, 32-bit values at full width.
constexpr int REGISTER_LINE_BYTES = 256;

// Write the header line or the value line of the columns, line end
// included, and return the end.
char *format_register_header(char *p, const column_set &columns);
char *format_register_values(char *p, const column_set &columns);
