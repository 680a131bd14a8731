#include "core/alu.hpp"

#include "core/extra_function.hpp"
#include "core/machine_state.hpp"

// The add and the subtract are computed in 32 bits at once: bit 16 of the
// sum is the carry out of a bit-by-bit ripple from bit 0, and bit 16 of the
// difference is the borrow out of the same ripple (any negative difference
// has it set). Overflow is a sign change that the operands' signs forbid.

namespace {

void set_zero_and_sign()
{
    M.ZER = M.ABUS == 0;
    M.NEG = M.ABUS >> 15;
}

void add(unsigned carry)
{
    unsigned left = M.LBUS, right = M.RBUS;
    unsigned sum = left + right + carry;
    M.ABUS = static_cast<uint16_t>(sum);
    set_zero_and_sign();
    M.CRY = (sum >> 16) & 1;
    M.OVR = (((M.ABUS & ~left & ~right) | (~M.ABUS & left & right)) >> 15) & 1;
}

void subtract(unsigned borrow)
{
    unsigned left = M.LBUS, right = M.RBUS;
    unsigned difference = left - right - borrow;
    M.ABUS = static_cast<uint16_t>(difference);
    set_zero_and_sign();
    M.CRY = (difference >> 16) & 1;
    M.OVR = (((left & ~right & ~M.ABUS) | (~left & right & M.ABUS)) >> 15) & 1;
}

void logic(uint16_t result)
{
    M.ABUS = result;
    M.ZER = result == 0;
}

}  // namespace

void alu_operate()
{
    int code = M.ALF == 5 ? (M.IR >> 4) & 7 : M.ALF;
    switch (code) {
    case 0:  add(exf_carry_bit()); break;                       // LBUS + RBUS + carry
    case 1:  subtract(exf_carry_bit()); break;                  // LBUS - RBUS - borrow
    case 2:  logic(M.LBUS & M.RBUS); break;                     // AND, sets ZER
    case 3:  logic(M.LBUS | M.RBUS); break;                     // OR, sets ZER
    case 4:  logic(M.LBUS ^ M.RBUS); break;                     // exclusive OR, sets ZER
    case 5:  report(ERR_UNDEFINED_CODE); break;                 // reached only from IR: undefined
    case 6:  report(ERR_UNDEFINED_CODE); break;                 // undefined
    case 7:  M.ABUS = M.LBUS | M.RBUS; break;                   // OR, flags untouched
    default: [[unlikely]] console_print("something is wrong (ALF=%x)\n", code); break;
    }
}
