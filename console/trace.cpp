#include "console/trace.hpp"

#include <cctype>

#include "console/device_names.hpp"
#include "console/line_input.hpp"
#include "console/points.hpp"
#include "console/run.hpp"
#include "core/machine_state.hpp"
#include "core/micro_cycle.hpp"

namespace {

// The trace display: columns in the order in which both lines show them.
// A hex column shows its value as `lead`, at least `digits` upper-case hex
// digits, then `trail`; the flag and register columns have layouts of their own.
enum column_kind { HEX_COLUMN, FLAG_COLUMN, REGISTER_COLUMNS };

struct trace_column {
    device_code shown_by;   // trace_select entry
    column_kind kind;
    const char *header;
    const char *lead;
    int digits;
    const char *trail;
    unsigned (*value)();
};

const trace_column COLUMNS[] = {
    // shown by    kind              header      lead digits trail  value
    {DEV_CMAR,     HEX_COLUMN,       "CMAR ",    "",  3,    "  ",  [] { return unsigned{M.CMAR}; }},
    {DEV_MAR,      HEX_COLUMN,       "MAR  ",    "",  4,    " ",   [] { return unsigned{M.MAR}; }},
    {DEV_C,        HEX_COLUMN,       "C  ",      "",  2,    " ",   [] { return unsigned{M.C}; }},
    {DEV_PC,       HEX_COLUMN,       " PC  ",    "",  4,    " ",   [] { return unsigned{M.PC}; }},
    {DEV_IR,       HEX_COLUMN,       " IR  ",    "",  4,    " ",   [] { return unsigned{M.IR}; }},
    {DEV_FLAG,     FLAG_COLUMN,      "ZNCOCT ",  "",  0,    " ",   nullptr},
    {DEV_FSR,      HEX_COLUMN,       "FSR ",     " ", 1,    "  ",  [] { return unsigned{M.FSR}; }},
    {DEV_REGISTER, REGISTER_COLUMNS, nullptr,    "",  4,    " ",   nullptr},
    {DEV_LBUS,     HEX_COLUMN,       "LBUS ",    "",  4,    " ",   [] { return unsigned{M.LBUS}; }},
    {DEV_RBUS,     HEX_COLUMN,       "RBUS ",    "",  4,    " ",   [] { return unsigned{M.RBUS}; }},
    {DEV_ABUS,     HEX_COLUMN,       "ABUS ",    "",  4,    " ",   [] { return unsigned{M.ABUS}; }},
    {DEV_SBUS,     HEX_COLUMN,       "SBUS ",    "",  4,    " ",   [] { return unsigned{M.SBUS}; }},
    {DEV_IOBUS,    HEX_COLUMN,       "IOBUS ",   "",  4,    " ",   [] { return unsigned{M.IOBUS}; }},
};

// Room for the longest trace line: every column, 32-bit values at full width.
constexpr int LINE_BYTES = 256;

char *put_text(char *p, const char *text)
{
    while (*text) *p++ = *text++;
    return p;
}

// value in upper-case hex with at least `digits` digits, as "%0*X" would.
char *put_hex(char *p, unsigned value, int digits)
{
    int length = digits;   // 1..4: more only for a value that the console set beyond its width
    while (length < 8 && (value >> (4 * length)) != 0) length++;
    for (int i = length - 1; i >= 0; i--) {
        p[i] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    }
    return p + length;
}

char *put_hex_column(char *p, const trace_column &column, unsigned value)
{
    p = put_text(p, column.lead);
    p = put_hex(p, value, column.digits);
    return put_text(p, column.trail);
}

char flag_char(int flag) { return flag ? '1' : '0'; }

bool register_shown(int n) { return M.reg_trace_select[n] != 0; }

// Writes the header line of the present selection, line end included.
char *format_trace_header(char *p)
{
    for (const trace_column &column : COLUMNS) {
        if (!M.trace_select[column.shown_by]) continue;
        if (column.kind != REGISTER_COLUMNS) {
            p = put_text(p, column.header);
            continue;
        }
        for (int n = 0; n < REGISTERS; n++) {
            if (!register_shown(n)) continue;
            p = put_text(p, " R");
            *p++ = static_cast<char>('0' + n);
            p = put_text(p, "  ");
        }
    }
    *p++ = '\n';
    return p;
}

// Writes the value line of the present selection, line end included.
char *format_trace_line(char *p)
{
    for (const trace_column &column : COLUMNS) {
        if (!M.trace_select[column.shown_by]) continue;
        switch (column.kind) {
        case HEX_COLUMN: p = put_hex_column(p, column, column.value()); break;
        case FLAG_COLUMN:   // counter zero is computed from C, not read from CZ
            *p++ = flag_char(M.ZER);
            *p++ = flag_char(M.NEG);
            *p++ = flag_char(M.CRY);
            *p++ = flag_char(M.OVR);
            *p++ = flag_char(M.C == 0);
            *p++ = flag_char(M.T);
            p = put_text(p, column.trail);
            break;
        case REGISTER_COLUMNS:
            for (int n = 0; n < REGISTERS; n++)
                if (register_shown(n)) p = put_hex_column(p, column, M.R[n]);
            break;
        }
    }
    *p++ = '\n';
    return p;
}

// Whether the step just made arrived at a trace point (any step does while
// no trace point is set).
bool display_due()
{
    if (!M.trace_active) return true;
    for (const point_slot &slot : M.trace_points)
        if (slot.in_use && static_cast<uint32_t>(slot.address) == M.CMAR) return true;
    return false;
}

}  // namespace

void print_trace_header()
{
    char text[LINE_BYTES];
    *format_trace_header(text) = '\0';
    console_print("%s", text);
}

void print_trace_line()
{
    char text[LINE_BYTES];
    *format_trace_line(text) = '\0';
    console_print("%s", text);
}

void trace_run()
{
    bool no_step_limit;
    if (!read_run_parameters(no_step_limit)) return;
    M.stop_flag = 0;
    M.step_count = 0;
    console_flush();   // all the dialogue shows while the run goes on

    // The selection cannot change during the run: the header is made once and
    // each displayed step writes header and values as one text.
    char text[2 * LINE_BYTES];
    size_t header_length = static_cast<size_t>(format_trace_header(text) - text);
    while (M.step_count < M.max_steps || no_step_limit) {
        micro_cycle();
        if (display_due()) {
            *format_trace_line(text + header_length) = '\0';
            console_print("%s", text);
        }
        if (M.break_active) check_break_points();
        // Without a limit the count wraps at 32 bits instead of overflowing.
        M.step_count = static_cast<int32_t>(static_cast<uint32_t>(M.step_count) + 1);
        if (M.stop_flag) break;
    }
    finish_run();
}

void select_trace_devices(int value)
{
    int *select = M.trace_select;
    for (;;) {
        console_print(" ");
        int register_index;
        int code = parse_device_name(register_index);
        switch (code) {
        case DEV_REGISTER:   // one general register; the register column flag follows it
            M.reg_trace_select[register_index] = value;
            select[DEV_REGISTER] = value;
            break;
        case DEV_PC:         // program counter
        case DEV_IR:         // instruction register
        case DEV_LBUS:       // left bus
        case DEV_SBUS:       // shifter output bus
        case DEV_ABUS:       // ALU output bus
        case DEV_IOBUS:      // I/O bus
        case DEV_FSR:        // flag save register
        case DEV_RBUS:       // right bus
        case DEV_CM:         // control memory: no column shows it
        case DEV_MM:         // main memory: no column shows it
        case DEV_MAR:        // main-memory address register
        case DEV_CMAR:       // control-memory address register
        case DEV_C:          // counter
        case DEV_FLAG:       // ZER, NEG, CRY, OVR, counter zero, T
            select[code] = value;
            break;
        case DEV_ALL:        // every register and the flags, no bus
            select[DEV_PC] = select[DEV_IR] = select[DEV_FSR] = select[DEV_MAR] = value;
            select[DEV_CMAR] = select[DEV_C] = select[DEV_FLAG] = value;
            [[fallthrough]];
        case DEV_ALL_REGS:   // the eight general registers
            for (int &shown : M.reg_trace_select) shown = value;
            select[DEV_REGISTER] = value;
            break;
        case DEV_ALL_BUSES:  // LBUS, RBUS, SBUS, ABUS, IOBUS
            select[DEV_LBUS] = select[DEV_RBUS] = select[DEV_SBUS] = value;
            select[DEV_ABUS] = select[DEV_IOBUS] = value;
            break;
        case DEV_END: return;   // end token or end of input
        case DEV_UNKNOWN: break;   // already reported as error 7
        }
    }
}

void device_selection_menu()
{
    char line[LINE_SIZE];
    for (;;) {
        console_print("   TD?");
        if (!read_console_line(line)) return;
        switch (toupper(static_cast<unsigned char>(line[0]))) {
        case '.': return;
        case 'D': print_trace_header(); break;
        case 'R': select_trace_devices(0); break;
        case 'S': select_trace_devices(1); break;
        default: console_print("Please key in S)et, R)eset, D)isplay or \".\"(end)\n"); break;
        }
    }
}

void trace_command()
{
    char line[LINE_SIZE];
    console_print("TRACE\n");
    for (;;) {
        console_print("  T?");
        if (!read_console_line(line) || line[0] == '.') return;
        switch (toupper(static_cast<unsigned char>(line[0]))) {
        case 'A': trace_point_menu(); break;
        case 'D':
            device_selection_menu();
            console_print("\n");
            break;
        case 'G': trace_run(); break;
        default: console_print("Please key in A)ddress, G)o, D)evice or \".\"(end)\n"); break;
        }
    }
}
