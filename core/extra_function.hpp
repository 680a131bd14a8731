// The extra functions of EXF and the counter-zero update.
#pragma once

#include "core/machine_state.hpp"

// Performs EXF (counter, flag save, T flag, IR field steps, I/O start, halts),
// then sets CZ from C. The last step of every micro-cycle.
void extra_function();

// The bit that EXF 2 (CRY) and EXF 3 (1) feed into the ALU as carry-in and
// into the shifter as shift-in bit; 0 under every other EXF. Each step calls
// it at its own moment, so the shifter sees the carry the ALU just left.
inline unsigned exf_carry_bit()
{
    return M.current.EXF == 3 || (M.current.EXF == 2 && M.CRY != 0);
}
