#include "console/command_loop.hpp"

#include <cstdio>

#include "console/change.hpp"
#include "console/dump.hpp"
#include "console/initialize.hpp"
#include "console/line_input.hpp"
#include "console/load.hpp"
#include "console/points.hpp"
#include "console/run.hpp"
#include "console/trace.hpp"
#include "core/devices.hpp"
#include "core/machine_state.hpp"

namespace {

void print_menu()
{
    console_print("MENU\n"
                  "\n"
                  "  COMMAND MENU FOR THE KALVO-3 SIMULATOR\n"
                  "\n"
                  "COMMAND             FUNCTION                        SUB COMMAND\n"
                  "\n"
                  " B)reak      set or reset some break-points      SET,RESET,DISPLAY,..\n"
                  " C)hange     change memory or register valu      CM,MM,CMAR,R0,..\n"
                  " D)ump       dump memory or register valu        REG,BUS,CM,MM,..\n"
                  " E)nd or Q)uit or \".\"    end/quit simulator\n"
                  " I)nitialize initialize system                   REG,CM,MM,ALL,..\n"
                  " L)oad       load program or data to MM or CM    \n"
                  " M)enu       command menu\n"
                  " R)un        simulator normal run\n"
                  " F)ile       set output file for dump or trace\n"
                  " S)ave       save MM or CM                       CM,MM,..\n"
                  " T)race      simulator trace run                 SET,RESET,DISPLAY,..\n"
                  "\n");
}

// Save holds its dialogue but stores nothing.
void save_command()
{
    char answer[LINE_SIZE];
    console_print("SAVE\n   CM OR MM?");
    while (read_console_line(answer) && answer[0] == '.')
        console_print("PLEASE SELECT CM OR MM\n");
}

void terminate()
{
    console_print("  KALVO-3 TERMINATED \n");
    close_devices();
    console_flush();
}

}  // namespace

void print_command_hint()
{
    console_print(" Please key in\n"
                  "  B)reak,C)hange,D)ump,E)nd,F)ileset,I)nitialize,L)oad,M)enu,R)un,S)ave,T)race.\n");
}

void command_loop()
{
    console_print("\n   *** KALVO-3 SIMULATOR (C-Ver. 1.0e) [%s] ***\n\n", __DATE__);
    reset_registers();
    clear_control_memory();
    clear_main_memory();

    for (;;) {
        switch (read_choice(">> ")) {   // end of input reads as "."
        case 'B': break_point_menu(); break;
        case 'C': change_command(); break;
        case 'D': dump_command(); break;
        case 'E':
        case 'Q':
            console_print(">> ");
            terminate();
            return;
        case 'F': console_print("FILE\nTHIS COMMAND IS NOT SUPPORTED\n"); break;
        case 'I': initialize_command(); break;
        case 'L': load_command(); break;
        case 'M': print_menu(); break;
        case 'R': run_command(); break;
        case 'S': save_command(); break;
        case 'T': trace_command(); break;
        case '.': terminate(); return;
        default: print_command_hint(); break;
        }
    }
}
