#include "core/shifter.hpp"

#include "core/extra_function.hpp"
#include "core/machine_state.hpp"

void shift_operate()
{
    if (M.current.EXF == 4) M.IR = M.LBUS;

    // The shift-in bit comes from exf_carry_bit() after the ALU step: an add
    // or subtract of this same cycle has already set CRY.
    const unsigned a = M.ABUS;
    switch (M.current.SHF) {
    case 0:  M.SBUS = static_cast<uint16_t>(a << 1 | exf_carry_bit());         // shift left, logical
             M.CRY = a >> 15;
             break;
    case 1:  M.SBUS = static_cast<uint16_t>(a >> 1 | exf_carry_bit() << 15);   // shift right, logical
             M.CRY = a & 1;
             break;
    case 2:  M.SBUS = static_cast<uint16_t>(a << 1 | exf_carry_bit());         // shift left, arithmetic
             M.CRY = a >> 15;
             M.OVR = ((a >> 15) ^ (a >> 14)) & 1;
             break;
    case 3:  M.SBUS = static_cast<uint16_t>(a >> 1 | (a & 0x8000));            // shift right, arithmetic
             M.CRY = a & 1;
             break;
    case 4:  M.SBUS = static_cast<uint16_t>(a & 0x80 ? a | 0xFF00 : a);        // byte sign fill
             M.CRY = (a >> 7) & 1;
             break;
    case 5:  M.SBUS = static_cast<uint16_t>(a << 8 | a >> 8); break;           // byte swap
    case 6:  report_error(ERR_UNDEFINED_CODE); break;                           // undefined
    case 7:  M.SBUS = static_cast<uint16_t>(a); break;                          // pass
    default: [[unlikely]] console_print("something is wrong (SHF=%x)\n", M.current.SHF); break;
    }
}
