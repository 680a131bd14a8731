#include "core/alu.hpp"

#include "core/extra_function.hpp"
#include "core/machine_state.hpp"

// The add and the subtract are computed in 32 bits at once: bit 16 of the
// sum is the carry out of a bit-by-bit ripple from bit 0, and bit 16 of the
// difference is the borrow out of the same ripple (any negative difference
// has it set). Overflow is a sign change that the operands' signs forbid:
// for the add, both operands' sign bits differ from the result's; for the
// subtract, the operands' sign bits differ and the result's differs from
// the left one's.

namespace {

// ABUS and all four flags from a 17-bit result and its overflow in bit 15.
void arithmetic_result(unsigned result, unsigned overflow)
{
    const uint16_t abus = static_cast<uint16_t>(result);
    M.ABUS = abus;
    M.ZER = abus == 0;
    M.NEG = abus >> 15;
    M.CRY = (result >> 16) & 1;
    M.OVR = (overflow >> 15) & 1;
}

void add(unsigned carry)
{
    const unsigned left = M.LBUS, right = M.RBUS;
    const unsigned sum = left + right + carry;
    arithmetic_result(sum, (left ^ sum) & (right ^ sum));
}

void subtract(unsigned borrow)
{
    const unsigned left = M.LBUS, right = M.RBUS;
    const unsigned difference = left - right - borrow;
    arithmetic_result(difference, (left ^ right) & (left ^ difference));
}

void logic(uint16_t result)
{
    M.ABUS = result;
    M.ZER = result == 0;
}

}  // namespace

void alu_operate()
{
    int code = M.current.ALF == 5 ? (M.IR >> 4) & 7 : M.current.ALF;
    switch (code) {
    case 0:  add(exf_carry_bit()); break;                       // LBUS + RBUS + carry
    case 1:  subtract(exf_carry_bit()); break;                  // LBUS - RBUS - borrow
    case 2:  logic(M.LBUS & M.RBUS); break;                     // AND, sets ZER
    case 3:  logic(M.LBUS | M.RBUS); break;                     // OR, sets ZER
    case 4:  logic(M.LBUS ^ M.RBUS); break;                     // exclusive OR, sets ZER
    case 5:  report_error(ERR_UNDEFINED_CODE); break;           // reached only from IR: undefined
    case 6:  report_error(ERR_UNDEFINED_CODE); break;           // undefined
    case 7:  M.ABUS = M.LBUS | M.RBUS; break;                   // OR, flags untouched
    default: [[unlikely]] console_print("something is wrong (ALF=%x)\n", code); break;
    }
}
