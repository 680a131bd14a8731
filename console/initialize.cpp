#include "console/initialize.hpp"

#include "console/line_input.hpp"
#include "core/machine_state.hpp"

void initialize_command()
{
    console_print("INITIALIZE\n");
    for (char choice; (choice = read_choice("  I?")) != '.';) {
        switch (choice) {
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
