#include "console/initialize.hpp"

#include <cctype>

#include "console/line_input.hpp"
#include "core/machine_state.hpp"

void initialize_command()
{
    char line[LINE_SIZE];
    console_print("INITIALIZE\n");
    for (;;) {
        console_print("  I?");
        if (!read_console_line(line) || line[0] == '.') break;
        switch (toupper(static_cast<unsigned char>(line[0]))) {
        case 'R': reset_registers(); break;
        case 'C': clear_control_memory(); break;
        case 'M': clear_main_memory(); break;
        case 'A':
            reset_registers();
            clear_control_memory();
            clear_main_memory();
            break;
        default: console_print("Please key in R)eg,C)m,M)m,A)ll or \".\"(end)\n"); break;
        }
    }
    console_print("\n");
}
