#include "core/machine_description.hpp"

#include <initializer_list>
#include <strings.h>

// clang-format off
const char *const DATA_PATH_PART_NAMES[DATA_PATH_PARTS] = {
    "CMAR", "CM", "MIR", "SEQ", "STACK",
    "MIR-SEQ", "SEQ-CMAR", "FLAGS-SEQ", "IR-SEQ",
    "R0", "R1", "R2", "R3", "R4", "R5", "R6", "R7",
    "PC", "IR", "FSR", "C", "MAR", "MM", "FLAGS", "CONST",
    "ALU", "SHIFTER", "READER", "PRINTER", "IOSTART",
    "LBUS", "RBUS", "ABUS", "SBUS", "IOBUS",
    "R-LBUS", "PC-LBUS", "IR-LBUS", "FSR-LBUS", "IOBUS-LBUS", "MM-LBUS",
    "R-RBUS", "CONST-RBUS",
    "SBUS-R0", "SBUS-R1", "SBUS-R2", "SBUS-R3", "SBUS-R4", "SBUS-R5", "SBUS-R6", "SBUS-R7", "SBUS-PC",
    "ALU-FLAGS", "SHIFTER-FLAGS", "FLAGS-FSR",
    "LBUS-IR", "RBUS-C", "LBUS-MAR", "LBUS-MM", "LBUS-IOBUS",
    "READER-IOBUS", "IOBUS-PRINTER",
};
// clang-format on

const machine_register *find_machine_register(const char *name)
{
    for (const machine_register &reg : MACHINE_REGISTERS)
        if (strcasecmp(name, reg.name) == 0) return &reg;
    return nullptr;
}

unsigned register_value(const machine_register &reg)
{
    if (reg.word16) return *reg.word16;
    if (reg.word32) return *reg.word32;
    if (reg.word_int) return static_cast<unsigned>(*reg.word_int);
    return 0;
}

unsigned kept_value(const machine_register &reg, unsigned value)
{
    switch (reg.store) {
    case STORE_CUT: return value & width_mask(reg);
    case STORE_WHOLE: return value;
    case STORE_TRUTH: return value != 0;
    case STORE_BOUNDED: return value <= reg.limit ? value : 0;
    case STORE_READ_ONLY: return register_value(reg);
    }
    return register_value(reg);
}

void store_value(const machine_register &reg, unsigned value)
{
    if (reg.store == STORE_READ_ONLY) return;
    if (reg.word16) *reg.word16 = static_cast<uint16_t>(value);
    if (reg.word32) *reg.word32 = value;
    if (reg.word_int) *reg.word_int = static_cast<int>(value);
}

namespace {

part_set parts(std::initializer_list<data_path_part> list)
{
    part_set set;
    for (data_path_part p : list) set.set(p);
    return set;
}

data_path_part general(int r) { return static_cast<data_path_part>(PART_R0 + (r & 7)); }

// The register that IR bits shift+1..shift select, plus `offset` modulo 4.
int ir_selected(uint16_t ir, int shift, int offset) { return ((ir >> shift) + offset) & 3; }

// The ALU function a code performs: ALF 5 takes it from IR bits 6..4.
int alu_function(int alf, uint16_t ir) { return alf == ALF_FROM_IR ? (ir >> 4) & 7 : alf; }

bool sets_alu_flags(int function) { return function >= 0 && function <= 4; }

}   // namespace

// clang-format off
part_set left_bus_parts(int lbf, const step_view &step)
{
    switch (lbf) {
    case 0: case 1: case 2: case 3:
    case 4: case 5: case 6: case 7: return parts({general(lbf), PART_R_LBUS, PART_LBUS});
    case 8:  return parts({general(ir_selected(step.ir_before, 8, 0)), PART_R_LBUS, PART_LBUS});
    case 9:  return parts({general(ir_selected(step.ir_before, 8, 1)), PART_R_LBUS, PART_LBUS});
    case 10: return parts({PART_PC, PART_PC_LBUS, PART_LBUS});
    case 11: return parts({PART_IOBUS, PART_IOBUS_LBUS, PART_LBUS});
    case LBF_MEMORY_DATA: return step.mem_cycle_before == 1 ? parts({PART_MM, PART_MM_LBUS, PART_LBUS})   // the read delivered
                                               : part_set();                                 // not ready: reported
    case 13: return parts({PART_IR, PART_IR_LBUS, PART_LBUS});
    case 14: return parts({PART_FSR, PART_FSR_LBUS, PART_LBUS});
    default: return part_set();   // 15: zero
    }
}

part_set right_bus_parts(int rbf, const step_view &step)
{
    switch (rbf) {
    case 0: case 1: case 2: case 3:
    case 4: case 5: case 6: case 7: return parts({general(rbf), PART_R_RBUS, PART_RBUS});
    case 8:  return parts({general(ir_selected(step.ir_before, 10, 0)), PART_R_RBUS, PART_RBUS});
    case 9:  return parts({general(ir_selected(step.ir_before, 10, 1)), PART_R_RBUS, PART_RBUS});
    case RBF_ADF_CONSTANT:
    case RBF_WORD_CONSTANT: return parts({PART_CONST, PART_CONST_RBUS, PART_RBUS});
    default: return part_set();   // 12..14 reserved, 15 zero
    }
}

part_set store_parts(int sbf, const step_view &step)
{
    // An EXF 4 load of IR comes before the store.
    const uint16_t ir = step.word.EXF == 4 ? step.ir_after : step.ir_before;
    int r;
    switch (sbf) {
    case 0: case 1: case 2: case 3:
    case 4: case 5: case 6: case 7: r = sbf; break;
    case 8:  r = ir_selected(ir, 10, 0); break;
    case 9:  r = ir_selected(ir, 10, 1); break;
    case 10: r = ir_selected(ir, 8, 0); break;
    case 11: r = ir_selected(ir, 8, 1); break;
    case 12: return parts({PART_SBUS, PART_SBUS_PC, PART_PC});
    default: return part_set();   // 13, 14 reserved, 15 nothing stored
    }
    return parts({PART_SBUS, static_cast<data_path_part>(PART_SBUS_R0 + r), general(r)});
}

part_set alu_parts(int alf, const step_view &step)
{
    const int function = alu_function(alf, step.ir_before);
    part_set used = alf == ALF_FROM_IR ? parts({PART_IR}) : part_set();
    if (sets_alu_flags(function)) return used | parts({PART_ALU, PART_ABUS, PART_ALU_FLAGS, PART_FLAGS});
    if (function == 7) return used | parts({PART_ALU, PART_ABUS});   // OR, flags untouched
    return used;                                                   // undefined: reported
}

part_set shifter_parts(int shf)
{
    switch (shf) {
    case 0: case 1: case 2: case 3:
    case 4:  return parts({PART_SHIFTER, PART_SHIFTER_FLAGS, PART_FLAGS});   // CRY (and OVR) from the shift
    case 5:
    case 7:  return parts({PART_SHIFTER});
    default: return part_set();   // 6 undefined
    }
}

part_set memory_parts(int mmf)
{
    return mmf == MMF_READ || mmf == MMF_WRITE ? parts({PART_LBUS_MAR, PART_MAR}) : part_set();
}

part_set extra_parts(int exf)
{
    switch (exf) {
    case 0:  return parts({PART_C});                                    // count down
    case 1:  return parts({PART_FLAGS, PART_FLAGS_FSR, PART_FSR});      // save the flags
    case 2:  return parts({PART_FLAGS});                                // carry in CRY
    case 4:  return parts({PART_LBUS_IR, PART_IR});
    case 5:  return parts({PART_LBUS_IOBUS, PART_IOBUS});
    case 6:  return parts({PART_RBUS_C, PART_C});
    case 7:  return parts({PART_IOSTART, PART_IR});                     // the transfer IR names
    case 8:
    case 9:  return parts({PART_FLAGS});                                // T
    case 10:
    case 11:
    case 12: return parts({PART_IR});                                   // step an IR field
    default: return part_set();                                         // 3, 13, 14, 15
    }
}
// clang-format on

part_set parts_used(const step_view &step)
{
    const micro_instruction &f = step.word;
    part_set used = parts({PART_CMAR, PART_CM, PART_MIR, PART_SEQ, PART_MIR_SEQ, PART_SEQ_CMAR});
    switch (f.SQF) {
    case SQF_CALL:
    case SQF_RETURN: used.set(PART_STACK); break;
    case SQF_JUMP_IF_TRUE:
    case SQF_JUMP_IF_FALSE:
    case SQF_RESTART_IF_TRUE:
        used.set(PART_FLAGS_SEQ);
        if (f.TSF == TSF_COUNTER_ZERO) used.set(PART_C);
        break;
    case SQF_DISPATCH_OP:
    case SQF_DISPATCH_RX:
    case SQF_DISPATCH_RXRY: used |= parts({PART_IR_SEQ, PART_IR}); break;
    default: break;
    }

    const part_set left = left_bus_parts(f.LBF, step), right = right_bus_parts(f.RBF, step);
    const part_set store = store_parts(f.SBF, step);
    used |= left | right | store | memory_parts(f.MMF) | extra_parts(f.EXF);

    // The ALU and the shifter always work; they are shown as used when what
    // they do is seen: a bus driven into them, a result stored, flags set.
    const part_set alu = alu_parts(f.ALF, step), shifter = shifter_parts(f.SHF);
    if (left.test(PART_LBUS) || right.test(PART_RBUS) || store.any() || alu.test(PART_ALU_FLAGS) ||
        shifter.test(PART_SHIFTER_FLAGS))
        used |= alu | shifter;

    if (step.mem_cycle_before == 2) used |= parts({PART_LBUS_MM, PART_MM});   // the write completes
    if (step.io_cycle_before == 1) used |= parts({PART_READER, PART_READER_IOBUS, PART_IOBUS});
    if (step.io_cycle_before == 2) used |= parts({PART_IOBUS_PRINTER, PART_PRINTER, PART_IOBUS});
    return used;
}
