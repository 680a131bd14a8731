#include "console/change.hpp"

#include <cstdint>

#include "console/device_names.hpp"
#include "console/line_input.hpp"
#include "core/machine_state.hpp"
#include "core/micro_word.hpp"

namespace {

// Shows "    NAME:value->" with the value in `digits` hex digits and returns the
// answer cut to `mask`. Every answer stores something: one without digits is 0.
unsigned ask_value(const char *name, int digits, unsigned value, unsigned mask)
{
    console_print("    %s:%0*X->", name, digits, value);
    return static_cast<unsigned>(read_hex_value()) & mask;
}

// Control-memory words from a start address until an end token or past 0xFFF.
void change_control_memory()
{
    char line[LINE_SIZE];
    console_print("    FROM ADRS ?");
    for (uint32_t address = read_cm_address();; address++) {
        if (address > CM_LIMIT) {
            report(ERR_CM_LIMIT);
            return;
        }
        console_print("     %03X:%010llX->", address,
                      static_cast<unsigned long long>(M.CM[address]));
        read_console_line(line);
        if (is_end_token(line)) return;
        M.CM[address] = static_cast<uint64_t>(hex_to_i64(line)) & MICRO_WORD_MASK;
    }
}

// Main-memory words from a start address until an end token or past 0xFFFF.
void change_main_memory()
{
    console_print("    FROM ADRS ?");
    for (uint32_t address = read_mm_address();; address++) {
        if (address > MM_LIMIT) {
            report(ERR_MM_LIMIT);
            return;
        }
        console_print("     %04X:%04X->", address, M.MM[address]);
        int end = 0;
        int32_t value = read_hex_value(&end);
        if (end) return;
        M.MM[address] = static_cast<uint16_t>(value);
    }
}

int ask_flag(const char *question)
{
    console_print("%s", question);
    return read_flag_value();
}

// All six questions are always asked; a rejected answer sets the flag.
void change_flags()
{
    console_print("    PLEASE KEY IN (0 OR 1)");
    M.ZER = ask_flag("    ZER ?");
    M.NEG = ask_flag("    NEG ?");
    M.CRY = ask_flag("    CRY ?");
    M.OVR = ask_flag("    OVR ?");
    M.CZ  = ask_flag("    CZ  ?");
    M.T   = ask_flag("    T   ?");
}

}  // namespace

void change_command()
{
    console_print("CHANGE\n");
    for (;;) {
        int index;
        switch (parse_device_name(index)) {
        case DEV_REGISTER:   // general register Rn
            console_print("    R[%d]:%04X->", index, M.R[index]);
            M.R[index] = static_cast<uint16_t>(read_hex_value());
            break;
        case DEV_PC:    M.PC    = ask_value("PC",    4, M.PC,    0xFFFF); break;   // program counter
        case DEV_IR:    M.IR    = ask_value("IR",    4, M.IR,    0xFFFF); break;   // instruction register
        case DEV_LBUS:  M.LBUS  = ask_value("LBUS",  4, M.LBUS,  0xFFFF); break;   // left bus
        case DEV_SBUS:  M.SBUS  = ask_value("SBUS",  4, M.SBUS,  0xFFFF); break;   // shifter output
        case DEV_ABUS:  M.ABUS  = ask_value("ABUS",  4, M.ABUS,  0xFFFF); break;   // ALU output
        case DEV_IOBUS: M.IOBUS = ask_value("IOBUS", 4, M.IOBUS, 0xFFFF); break;   // I/O data bus
        case DEV_FSR:   M.FSR   = ask_value("FSR",   1, M.FSR & 0xF, 0xF); break;  // flag save register
        case DEV_RBUS:  M.RBUS  = ask_value("RBUS",  4, M.RBUS,  0xFFFF); break;   // right bus
        case DEV_CM:    change_control_memory(); break;                            // control memory words
        case DEV_MM:    change_main_memory(); break;                               // main memory words
        case DEV_MAR:   // main-memory address, kept even above 0xFFFF
            console_print("    MAR:%04X->", M.MAR);
            M.MAR = read_mm_address();
            break;
        case DEV_CMAR:  // next micro-instruction address, kept even above 0xFFF
            console_print("    CMAR:%03X->", M.CMAR);
            M.CMAR = read_cm_address();
            break;
        case DEV_C:     M.C     = ask_value("C",     2, M.C,     0xFF);   break;   // 8-bit counter
        case DEV_FLAG:  change_flags(); break;                                     // ZER NEG CRY OVR CZ T
        case DEV_ALL:                                                              // "*", "R*", "B*" group
        case DEV_ALL_REGS:                                                         // the trace display's
        case DEV_ALL_BUSES: break;                                                 // columns: no change
        case DEV_END: return;                                                      // end token, end of input
        case DEV_UNKNOWN: break;                                                   // error 7 already shown
        }
    }
}
