// One micro-cycle of the KALVO-3: fetch, decode and execute the
// micro-instruction at CMAR.
//
// Theory of operation
// -------------------
// The micro-instruction is 40 bits in bits 39..0 of a control-memory word
// (bits 63..40 are ignored); core/micro_word.hpp defines the fields:
//
//  39   36 35   32 31 29 28 26 25   22 21 20 19   16 15 13 12    9 8         0
// +-------+-------+-----+-----+-------+-----+-------+-----+-------+-----------+
// |  LBF  |  RBF  | ALF | SHF |  SBF  | MMF |  SQF  | TSF |  EXF  |    ADF    |
// +-------+-------+-----+-----+-------+-----+-------+-----+-------+-----------+
//   left    right   ALU  shift  SBUS   mem   next    test  extra    address or
//   bus     bus                 dest   func  addr    select func    constant
//
// Registers: R0..R7, PC, IR, 16 bits each; MAR (16 bits from the left bus,
// held in 32 so that an operator-set value beyond 0xFFFF is caught at the
// access); CMAR (12-bit address, held in 32 so that 0x1000 and beyond are
// caught at the fetch); C, 8-bit counter; FSR, 4 saved flags. Buses LBUS,
// RBUS, ABUS (ALU out), SBUS (shifter out) and IOBUS, 16 bits, keep their
// values from cycle to cycle until a step drives them. Flags ZER, NEG, CRY,
// OVR, CZ and T. Control memory 4096 x 40 bits, main memory 65536 x 16 bits.
//
// Steps of one cycle, in this order, each seeing the results of the ones
// before it:
//    1 fetch MIR from CM[CMAR] (ERROR 4 and the all-ones word past 0xFFF)
//    2 decode the ten fields into M.current (each CM word is decoded once
//      and kept, with the word, in decoded_cm until the word changes)
//    3 sequencer: CMAR <- next address
//    4 complete an input started in the cycle before: IOBUS <- card byte
//    5 LBUS <- source by LBF (LBF 12 delivers a read started the cycle before)
//    6 EXF 5: IOBUS <- LBUS
//    7 RBUS <- source by RBF
//    8 complete a memory read or write started in the cycle before
//      (a write stores this cycle's LBUS)
//    9 complete an output started in the cycle before: printer <- IOBUS
//   10 MMF: start a read or write at MAR <- LBUS
//   11 ALU: ABUS and flags from LBUS, RBUS
//   12 shifter: EXF 4 loads IR from LBUS, then SBUS from ABUS
//   13 store SBUS by SBF (IR fields as step 12 left them)
//   14 extra function by EXF (I/O start, counter, halts...), then CZ
// Memory and I/O transfers thus span two consecutive cycles.
//
// Next-address modes (SQF): continue CMAR+1; jump or call anywhere (TSF as
// bits 11..9, ADF as 8..0) with an 8-deep return stack; return; jump within
// the current 512-word page, or restart at 0, on a TSF-selected test; and
// dispatch on IR bits 15..12, 11..10 or 11..8.
//
// A cycle never stops half-way: every report lets the remaining steps run.
// The run loops end a run after the cycle in which stop_flag became 1: an
// error report (reserved codes, stack faults, address limits, device faults,
// a read not ready), a halt (EXF 13, EXF 14 with the OV lamp), or a break
// point; or when the step limit is used up.
#include "core/micro_cycle.hpp"

#include "core/alu.hpp"
#include "core/devices.hpp"
#include "core/extra_function.hpp"
#include "core/machine_state.hpp"
#include "core/micro_word.hpp"
#include "core/sequencer.hpp"
#include "core/shifter.hpp"

namespace {

// Registers R0..R3 selected by the IR fields bits 9..8 and bits 11..10, and
// their successors modulo 4.
uint16_t &ir_register(int shift, int offset) { return M.R[((M.IR >> shift) + offset) & 3]; }

// Every CM word as last decoded. A fetch decodes afresh only when the word
// differs from the one its entry was made from (the console may change CM
// at any time between runs), so a microprogram's loop decodes each of its
// words once. All zero at start: the decode of the zero word.
struct alignas(64) decoded_word {
    micro_instruction instruction;
};
decoded_word decoded_cm[CM_WORDS];

// The entry of `address` made again from the word now there.
[[gnu::cold, gnu::noinline]] void decode_afresh(uint32_t address)
{
    decoded_cm[address].instruction = decode(M.CM[address]);
}

void fetch_and_decode()
{
    const uint32_t address = M.CMAR;
    if (address > CM_LIMIT) [[unlikely]] {
        static constexpr micro_instruction all_ones = decode(~uint64_t{0});
        report_error(ERR_CM_LIMIT);
        M.current = all_ones;
        return;
    }
    if (decoded_cm[address].instruction.MIR != M.CM[address]) [[unlikely]] decode_afresh(address);
    M.current = decoded_cm[address].instruction;
}

void drive_left_bus()
{
    switch (M.current.LBF) {
    case 0: case 1: case 2: case 3:
    case 4: case 5: case 6: case 7: M.LBUS = M.R[M.current.LBF]; break; // R0..R7
    case 8:  M.LBUS = ir_register(8, 0); break;                     // register IR[9:8]
    case 9:  M.LBUS = ir_register(8, 1); break;                     // register IR[9:8] + 1
    case 10: M.LBUS = static_cast<uint16_t>(M.PC); break;           // PC
    case 11: M.LBUS = M.IOBUS; break;                               // I/O bus
    case 12: if (M.mem_cycle != 1)                                  // main-memory data
                 report_error(ERR_NOT_READY);
             else if (M.MAR > MM_LIMIT)
                 report_error(ERR_MM_LIMIT);
             else
                 M.LBUS = M.MM[M.MAR];
             break;
    case 13: M.LBUS = M.IR; break;                                  // IR
    case 14: M.LBUS = M.FSR; break;                                 // flag save register
    case 15: M.LBUS = 0; break;                                     // zero
    default: [[unlikely]] console_print("something is wrong (LBF=%x)\n", M.current.LBF); break;
    }
}

void drive_right_bus()
{
    switch (M.current.RBF) {
    case 0: case 1: case 2: case 3:
    case 4: case 5: case 6: case 7: M.RBUS = M.R[M.current.RBF]; break; // R0..R7
    case 8:  M.RBUS = ir_register(10, 0); break;                    // register IR[11:10]
    case 9:  M.RBUS = ir_register(10, 1); break;                    // register IR[11:10] + 1
    case RBF_ADF_CONSTANT:  M.RBUS = static_cast<uint16_t>(M.current.ADF); break;   // 0..0x1FF
    case RBF_WORD_CONSTANT: M.RBUS = static_cast<uint16_t>(M.current.MIR); break;   // TSF:EXF:ADF
    case 12:                                                        // reserved
    case 13:                                                        // reserved
    case 14: report_error(ERR_UNDEFINED_CODE); break;               // reserved: RBUS kept
    case 15: M.RBUS = 0; break;                                     // zero
    default: [[unlikely]] console_print("something is wrong (RBF=%x)\n", M.current.RBF); break;
    }
}

void complete_memory_cycle()
{
    switch (M.mem_cycle) {
    case 0:  [[likely]] break;                                      // idle
    case 1:  M.mem_cycle = 0; break;                                // read delivered in step 5
    case 2:  if (M.MAR > MM_LIMIT) {                                // write this cycle's LBUS
                 report_error(ERR_MM_LIMIT);                              // retried next cycle
             } else {
                 M.MM[M.MAR] = M.LBUS;
                 M.mem_cycle = 0;
             }
             break;
    default: [[unlikely]] console_print(" ILLEGAL MEMORY CYCLE STATE\n"); break;
    }
}

void start_memory_cycle()
{
    switch (static_cast<unsigned>(M.current.MMF)) {
    case 0:  M.MAR = M.LBUS; M.mem_cycle = 1; break;                // start a read
    case 1:  M.MAR = M.LBUS; M.mem_cycle = 2; break;                // start a write
    case 2:  [[likely]] break;                                      // none
    case 3:  [[likely]] break;                                      // none
    default: [[unlikely]] console_print("something is wrong (MMF=%x)\n", M.current.MMF); break;
    }
}

void store_shifter_bus()
{
    switch (M.current.SBF) {
    case 0: case 1: case 2: case 3:
    case 4: case 5: case 6: case 7: M.R[M.current.SBF] = M.SBUS; break; // R0..R7
    case 8:  ir_register(10, 0) = M.SBUS; break;                    // register IR[11:10]
    case 9:  ir_register(10, 1) = M.SBUS; break;                    // register IR[11:10] + 1
    case 10: ir_register(8, 0) = M.SBUS; break;                     // register IR[9:8]
    case 11: ir_register(8, 1) = M.SBUS; break;                     // register IR[9:8] + 1
    case 12: M.PC = M.SBUS; break;                                  // PC
    case 13:                                                        // reserved
    case 14: report_error(ERR_UNDEFINED_CODE); break;               // reserved: nothing stored
    case 15: break;                                                 // nothing stored
    default: [[unlikely]] console_print("something is wrong (SBF=%x)\n", M.current.SBF); break;
    }
}

}  // namespace

void micro_cycle()
{
    fetch_and_decode();                       // steps 1, 2
    sequence_next();                          // step 3
    // Steps 4, 8 and 9 act only on a transfer started in the cycle before,
    // and no step between them starts one.
    const bool transfer_pending = (M.io_cycle | M.mem_cycle) != 0;
    if (transfer_pending) complete_input();   // step 4
    drive_left_bus();                         // step 5
    if (M.current.EXF == 5) M.IOBUS = M.LBUS; // step 6
    drive_right_bus();                        // step 7
    if (transfer_pending) {
        complete_memory_cycle();              // step 8
        complete_output();                    // step 9
    }
    start_memory_cycle();                     // step 10
    alu_operate();                            // step 11
    shift_operate();                          // step 12
    store_shifter_bus();                      // step 13
    extra_function();                         // step 14
}
