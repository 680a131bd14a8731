#include "core/extra_function.hpp"

#include "core/devices.hpp"

namespace {

// IR with the two-bit field at `shift` replaced by (field + step) modulo 4
// (step 3 counts down); the carry out of the field never reaches its neighbour.
uint16_t step_ir_field(int shift, unsigned step)
{
    unsigned mask = 3u << shift;
    return static_cast<uint16_t>((M.IR & ~mask) | ((M.IR + (step << shift)) & mask));
}

}  // namespace

void extra_function()
{
    // clang-format off
    switch (M.current.EXF) {
    case 0:  M.C = (M.C - 1) & 0xFF; break;                 // count C down, 0 wraps to 255
    case 1:  M.FSR = static_cast<uint16_t>(                 // save the flags in FSR
                 (M.ZER != 0) << 3 | (M.NEG != 0) << 2 | (M.CRY != 0) << 1 | (M.OVR != 0));
             break;
    case 2:  break;                                         // carry-in CRY: ALU and shifter
    case 3:  break;                                         // carry-in 1: ALU and shifter
    case 4:  break;                                         // IR <- LBUS: shifter step
    case 5:  break;                                         // IOBUS <- LBUS: after LBUS
    case 6:  M.C = M.RBUS & 0xFF; break;                    // load C from RBUS low byte
    case 7:  start_io(); break;                             // start the I/O transfer in IR
    case 8:  M.T = 1; break;                                // set T
    case 9:  M.T = 0; break;                                // reset T
    case 10: M.IR = step_ir_field(10, 1); break;            // IR bits 11..10 up
    case 11: M.IR = step_ir_field(8, 1); break;             // IR bits 9..8 up
    case 12: M.IR = step_ir_field(8, 3); break;            // IR bits 9..8 down
    case 13: record_stop(STOP_HALT); break;                 // halt
    case 14: record_stop(STOP_HALT);                        // halt with the OV lamp
             console_print("\n OV LAMP ON !\n");
             break;
    case 15: break;                                         // no extra function
    default: [[unlikely]] console_print("something is wrong (EXF=%x)\n", M.current.EXF); break;
    }
    // clang-format on
    M.CZ = M.C == 0;
}
