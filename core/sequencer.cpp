#include "core/sequencer.hpp"

#include "core/machine_state.hpp"

int test_condition()
{
    switch (M.current.TSF) {
    case 0:  return M.ZER != 0;                      // zero
    case 1:  return M.NEG != 0;                      // negative
    case 2:  return M.CRY != 0;                      // carry
    case 3:  return M.OVR != 0;                      // overflow
    case 4:  return M.T != 0;                        // T flag
    case 5:  return M.C == 0;                        // counter at zero (C itself, not CZ)
    case TSF_RESERVED: report_error(ERR_UNDEFINED_CODE); return 0;   // undefined: counts as false
    case 7:  return 1;                               // always
    default: [[unlikely]] console_print("something is wrong (TSF=%x)\n", M.current.TSF); return 0;
    }
}

namespace {

// The entry ADF names within the page (512-word block) of the current
// micro-instruction.
uint32_t in_page(uint32_t cur) { return (cur & ~0x1FFu) | M.current.ADF; }

// The whole-memory jump address: TSF as bits 11..9, ADF as bits 8..0.
uint32_t jump_address() { return static_cast<uint32_t>(M.current.TSF) << 9 | M.current.ADF; }

// ADF shifted to bits 10..2 under TSF bit 0 as bit 11: the base of the
// half-memory dispatches, whose low bits the caller masks and fills.
uint32_t dispatch_base() { return ((M.current.TSF & 1u) << 9 | M.current.ADF) << 2; }

}  // namespace

void sequence_next()
{
    const uint32_t cur = M.CMAR;
    switch (M.current.SQF) {
    case SQF_JUMP:
        M.CMAR = jump_address();
        break;
    case SQF_CALL:
        if (M.cmar_sp < STACK_DEPTH)
            M.cmar_stack[M.cmar_sp++] = static_cast<uint16_t>(cur + 1);
        else
            report_error(ERR_STACK_OVERFLOW);
        M.CMAR = jump_address();
        break;
    case SQF_RETURN:
        if (M.cmar_sp > 0)
            M.CMAR = M.cmar_stack[--M.cmar_sp];
        else
            report_error(ERR_EMPTY_STACK);
        break;
    case SQF_JUMP_IF_TRUE:    M.CMAR = test_condition() ? in_page(cur) : cur + 1; break;
    case SQF_JUMP_IF_FALSE:   M.CMAR = test_condition() ? cur + 1 : in_page(cur); break;
    case SQF_DISPATCH_OP:     M.CMAR = ((M.current.ADF & 0xFFu) << 4) | (M.IR >> 12); break;
    case SQF_DISPATCH_RX:     M.CMAR = (dispatch_base() & ~0xFu) | ((M.IR >> 8) & 0xC) | (M.current.ADF & 3u); break;
    case SQF_DISPATCH_RXRY:   M.CMAR = (dispatch_base() & ~0x3Fu) | ((M.IR >> 6) & 0x3C) | (M.current.ADF & 3u); break;
    case SQF_RESTART_IF_TRUE: M.CMAR = test_condition() ? 0 : in_page(cur); break;
    case 9: case 10: case 11:
    case 12: case 13: case 14: report_error(ERR_UNDEFINED_CODE); break;   // reserved: CMAR stays
    case SQF_CONTINUE:        M.CMAR = cur + 1; break;
    default: [[unlikely]] console_print("something is wrong (SQF=%x)\n", M.current.SQF); break;
    }
}
