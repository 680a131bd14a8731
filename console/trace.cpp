#include "console/trace.hpp"

#include "console/device_names.hpp"
#include "console/line_input.hpp"
#include "console/points.hpp"
#include "console/registers.hpp"
#include "console/run.hpp"
#include "core/machine_state.hpp"

namespace {

// A register's column is shown when its own flag and the register column
// flag are set; any other row's when its device code's entry is. The counter
// zero flag is computed from C, not read from CZ.
const column_style TRACE_STYLE = {
    [](const register_row &row) {
        return M.trace_select[row.code] != 0 && (row.index < 0 || M.reg_trace_select[row.index] != 0);
    },
    true, true};

// Whether the step just made arrived at a trace point (any step does while
// no trace point is set).
bool display_due()
{
    if (!M.trace_active) return true;
    for (const point_slot &slot : M.trace_points)
        if (slot.in_use && static_cast<uint32_t>(slot.address) == M.CMAR) return true;
    return false;
}

// A trace run's columns and header, made once (the selection cannot change
// during the run), and after the header each displayed step's values: both
// lines go out as one text.
column_set traced_columns;
char traced_text[2 * REGISTER_LINE_BYTES];
size_t traced_header_length;

// Selects or deselects one row; a register's row also sets the register
// column flag.
void select_row(const register_row &row, int value)
{
    if (row.index >= 0) M.reg_trace_select[row.index] = value;
    M.trace_select[row.code] = value;
}

// The display after each step of a trace run.
void show_traced_step()
{
    if (!display_due()) return;
    *format_register_values(traced_text + traced_header_length, traced_columns) = '\0';
    console_print("%s", traced_text);
}

}  // namespace

void print_trace_header()
{
    char text[REGISTER_LINE_BYTES];
    *format_register_header(text, columns_of(TRACE_STYLE)) = '\0';
    console_print("%s", text);
}

void print_trace_line()
{
    char text[REGISTER_LINE_BYTES];
    *format_register_values(text, columns_of(TRACE_STYLE)) = '\0';
    console_print("%s", text);
}

void trace_run()
{
    bool no_step_limit;
    if (!read_run_parameters(no_step_limit)) return;
    start_run();
    M.step_count = 0;
    console_flush();   // all the dialogue shows while the run goes on
    traced_columns = columns_of(TRACE_STYLE);
    traced_header_length = static_cast<size_t>(format_register_header(traced_text, traced_columns) - traced_text);
    trace_steps(step_limit(no_step_limit), show_traced_step);
    finish_run();
}

void select_trace_devices(int value)
{
    for (;;) {
        console_print(" ");
        int register_index;
        int code = parse_device_name(register_index);
        switch (code) {
        case DEV_REGISTER:    // one general register; the register column flag follows it
            select_row(*find_register_row(DEV_REGISTER, register_index), value);
            break;
        case DEV_ALL:         // the members of a group
        case DEV_ALL_REGS:
        case DEV_ALL_BUSES:
            for (const register_row &row : register_rows())
                if (row.groups & group_of(code)) select_row(row, value);
            break;
        case DEV_END: return;       // end token or end of input
        case DEV_UNKNOWN: break;    // already reported as error 7
        default:              // one register, bus, flag group or memory (no column shows CM, MM)
            M.trace_select[code] = value;
            break;
        }
    }
}

void device_selection_menu()
{
    for (;;) {
        switch (read_choice("   TD?")) {
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
    console_print("TRACE\n");
    for (;;) {
        switch (read_choice("  T?")) {
        case '.': return;
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
