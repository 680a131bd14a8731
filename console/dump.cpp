#include "console/dump.hpp"

#include <cstdint>

#include "console/line_input.hpp"
#include "console/registers.hpp"
#include "core/machine_state.hpp"

namespace {

// Dump R: the registers and flags, the flag column with the CZ flag itself.
const column_style REGISTERS_STYLE = {[](const register_row &row) { return (row.groups & GROUP_ALL) != 0; },
                                      false, true};
// Dump B: the buses, without the last column's trailing blank.
const column_style BUSES_STYLE = {[](const register_row &row) { return (row.groups & GROUP_BUSES) != 0; },
                                  false, false};

void show(const column_style &style)
{
    const column_set columns = columns_of(style);
    char text[2 * REGISTER_LINE_BYTES];
    *format_register_values(format_register_header(text, columns), columns) = '\0';
    console_print("%s", text);
}

// The last address a listing reaches: the end address, but never past the
// memory's last word. Counting up to it cannot wrap.
uint32_t last_listed(uint32_t end, uint32_t limit) { return end < limit ? end : limit; }

void list_control_memory()
{
    console_print("    START ADRS ?");
    uint32_t start = read_cm_address();
    console_print("    END   ADRS ?");
    uint32_t last = last_listed(read_cm_address(), CM_LIMIT);
    for (uint32_t address = start; address <= last; address++)
        console_print("%03X:%010llX\n", address, static_cast<unsigned long long>(M.CM[address]));
}

void list_main_memory()
{
    console_print("    START ADRS ?");
    uint32_t start = read_mm_address();
    console_print("    END   ADRS ?");
    uint32_t last = last_listed(read_mm_address(), MM_LIMIT);
    for (uint32_t address = start; address <= last; address++)
        console_print("%04X:%04X\n", address, M.MM[address]);
}

}  // namespace

void dump_command()
{
    console_print("DUMP\n");
    for (;;) {
        switch (read_choice("  D?")) {
        case '.': return;
        case 'R': show(REGISTERS_STYLE); break;
        case 'B': show(BUSES_STYLE); break;
        case 'C': list_control_memory(); break;
        case 'M': list_main_memory(); break;
        default: console_print(" Please key in R)eg, B)us, C)m, M)m or \".\"(end)\n"); break;
        }
    }
}
