#include "console/dump.hpp"

#include <cctype>
#include <cstdint>

#include "console/line_input.hpp"
#include "core/machine_state.hpp"

namespace {

char bit_char(int flag) { return flag ? '1' : '0'; }

void show_registers()
{
    console_print("CMAR MAR  C   PC   IR  ZNCOCT FSR ");
    for (int n = 0; n < REGISTERS; n++) console_print(" R%d  ", n);
    console_print("\n");
    console_print("%03X  %04X %02X %04X %04X %c%c%c%c%c%c  %01X  ",
                  M.CMAR, M.MAR, M.C, M.PC, M.IR,
                  bit_char(M.ZER), bit_char(M.NEG), bit_char(M.CRY),
                  bit_char(M.OVR), bit_char(M.CZ), bit_char(M.T), M.FSR);
    for (int n = 0; n < REGISTERS; n++) console_print("%04X ", M.R[n]);
    console_print("\n");
}

void show_buses()
{
    console_print("LBUS RBUS ABUS SBUS IOBUS\n");
    console_print("%04X %04X %04X %04X %04X\n", M.LBUS, M.RBUS, M.ABUS, M.SBUS, M.IOBUS);
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
    char line[LINE_SIZE];
    console_print("DUMP\n");
    for (;;) {
        console_print("  D?");
        if (!read_console_line(line)) return;
        switch (toupper(static_cast<unsigned char>(line[0]))) {
        case '.': return;
        case 'R': show_registers(); break;
        case 'B': show_buses(); break;
        case 'C': list_control_memory(); break;
        case 'M': list_main_memory(); break;
        default: console_print(" Please key in R)eg, B)us, C)m, M)m or \".\"(end)\n"); break;
        }
    }
}
