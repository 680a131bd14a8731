// The machine as every front end shows it, described once: each register,
// bus, flag, field of the last micro-instruction, cycle state, return stack
// entry and the stop flag, with where it lives, its width, its group and
// what an operator may store in it; and the parts of the data path, with
// the rule that says which of them one micro-cycle used.
//
// The console's rows (console/registers), the C interface and through it the
// browser workbench read this description; none of them lists the machine
// again. A front end that shows fewer registers than are described here says
// which, and its tests hold it to that list.
#pragma once

#include <bitset>
#include <cstdint>

#include "core/machine_state.hpp"
#include "core/micro_word.hpp"

// ---- Registers ----------------------------------------------------------

// The groups a front end shows the registers in.
enum machine_group : uint8_t {
    IN_REGISTERS,   // R0..R7, PC, IR, MAR, CMAR, C, FSR
    IN_BUSES,       // LBUS, RBUS, ABUS, SBUS, IOBUS
    IN_FLAGS,       // ZER, NEG, CRY, OVR, CZ, T
    IN_FIELDS,      // the ten fields of the last micro-instruction
    IN_CYCLES,      // the memory and I/O cycle states
    IN_STACK,       // SP and the CMAR return stack S0..S7
    IN_RUN,         // STOP
    MACHINE_GROUPS
};

constexpr const char *MACHINE_GROUP_NAMES[MACHINE_GROUPS] = {"registers", "buses", "flags", "fields",
                                                             "cycles",    "stack", "run"};

// What an operator's new value becomes.
enum store_rule : uint8_t {
    STORE_CUT,         // cut to the width
    STORE_WHOLE,       // kept whole: an address beyond its memory is caught at the access
    STORE_TRUTH,       // a flag: any value other than 0 sets it
    STORE_BOUNDED,     // kept up to the register's limit, 0 above it
    STORE_READ_ONLY,   // not the operator's to set
};

struct machine_register {
    const char *name;
    machine_group group;
    int width;   // bits an operator sees
    store_rule store;
    unsigned limit;     // STORE_BOUNDED: the largest value kept
    uint16_t *word16;   // where it lives: exactly one of the three
    uint32_t *word32;
    int *word_int;
};

// Register numbers: the order of MACHINE_REGISTERS, and the numbers the C
// interface gives out.
// clang-format off
enum machine_register_id : int {
    REG_R0, REG_R1, REG_R2, REG_R3, REG_R4, REG_R5, REG_R6, REG_R7,
    REG_PC, REG_IR, REG_MAR, REG_CMAR, REG_C, REG_FSR,
    REG_LBUS, REG_RBUS, REG_ABUS, REG_SBUS, REG_IOBUS,
    REG_ZER, REG_NEG, REG_CRY, REG_OVR, REG_CZ, REG_T,
    REG_LBF, REG_RBF, REG_ALF, REG_SHF, REG_SBF, REG_MMF, REG_SQF, REG_TSF, REG_EXF, REG_ADF,
    REG_MEMCYCLE, REG_IOCYCLE,
    REG_SP, REG_S0, REG_S1, REG_S2, REG_S3, REG_S4, REG_S5, REG_S6, REG_S7,
    REG_STOP,
    MACHINE_REGISTER_COUNT
};
// clang-format on

namespace description_rows {

constexpr machine_register r16(const char *name, machine_group group, int width, uint16_t *where,
                               store_rule store = STORE_CUT)
{
    return {name, group, width, store, 0, where, nullptr, nullptr};
}
constexpr machine_register r32(const char *name, int width, uint32_t *where, store_rule store)
{
    return {name, IN_REGISTERS, width, store, 0, nullptr, where, nullptr};
}
constexpr machine_register flag(const char *name, int *where)
{
    return {name, IN_FLAGS, 1, STORE_TRUTH, 1, nullptr, nullptr, where};
}
constexpr machine_register field(micro_field f, int *where)
{
    return {f.name, IN_FIELDS, f.width, STORE_READ_ONLY, 0, nullptr, nullptr, where};
}
constexpr machine_register bounded(const char *name, machine_group group, int width, unsigned limit, int *where)
{
    return {name, group, width, STORE_BOUNDED, limit, nullptr, nullptr, where};
}

}   // namespace description_rows

// clang-format off
inline constexpr machine_register MACHINE_REGISTERS[MACHINE_REGISTER_COUNT] = {
    description_rows::r16("R0", IN_REGISTERS, 16, &M.R[0]), description_rows::r16("R1", IN_REGISTERS, 16, &M.R[1]),
    description_rows::r16("R2", IN_REGISTERS, 16, &M.R[2]), description_rows::r16("R3", IN_REGISTERS, 16, &M.R[3]),
    description_rows::r16("R4", IN_REGISTERS, 16, &M.R[4]), description_rows::r16("R5", IN_REGISTERS, 16, &M.R[5]),
    description_rows::r16("R6", IN_REGISTERS, 16, &M.R[6]), description_rows::r16("R7", IN_REGISTERS, 16, &M.R[7]),
    description_rows::r32("PC", 16, &M.PC, STORE_CUT),
    description_rows::r16("IR", IN_REGISTERS, 16, &M.IR),
    description_rows::r32("MAR", 16, &M.MAR, STORE_WHOLE),
    description_rows::r32("CMAR", 12, &M.CMAR, STORE_WHOLE),
    description_rows::r32("C", 8, &M.C, STORE_CUT),
    description_rows::r16("FSR", IN_REGISTERS, 4, &M.FSR),
    description_rows::r16("LBUS", IN_BUSES, 16, &M.LBUS), description_rows::r16("RBUS", IN_BUSES, 16, &M.RBUS),
    description_rows::r16("ABUS", IN_BUSES, 16, &M.ABUS), description_rows::r16("SBUS", IN_BUSES, 16, &M.SBUS),
    description_rows::r16("IOBUS", IN_BUSES, 16, &M.IOBUS),
    description_rows::flag("ZER", &M.ZER), description_rows::flag("NEG", &M.NEG), description_rows::flag("CRY", &M.CRY),
    description_rows::flag("OVR", &M.OVR), description_rows::flag("CZ", &M.CZ), description_rows::flag("T", &M.T),
    description_rows::field(FIELD_LBF, &M.current.LBF), description_rows::field(FIELD_RBF, &M.current.RBF),
    description_rows::field(FIELD_ALF, &M.current.ALF), description_rows::field(FIELD_SHF, &M.current.SHF),
    description_rows::field(FIELD_SBF, &M.current.SBF), description_rows::field(FIELD_MMF, &M.current.MMF),
    description_rows::field(FIELD_SQF, &M.current.SQF), description_rows::field(FIELD_TSF, &M.current.TSF),
    description_rows::field(FIELD_EXF, &M.current.EXF), description_rows::field(FIELD_ADF, &M.current.ADF),
    description_rows::bounded("MEMCYCLE", IN_CYCLES, 2, 2, &M.mem_cycle),   // 0 idle, 1 read, 2 write
    description_rows::bounded("IOCYCLE", IN_CYCLES, 2, 2, &M.io_cycle),     // 0 idle, 1 input, 2 output
    description_rows::bounded("SP", IN_STACK, 4, STACK_DEPTH, &M.cmar_sp),
    description_rows::r16("S0", IN_STACK, 16, &M.cmar_stack[0]), description_rows::r16("S1", IN_STACK, 16, &M.cmar_stack[1]),
    description_rows::r16("S2", IN_STACK, 16, &M.cmar_stack[2]), description_rows::r16("S3", IN_STACK, 16, &M.cmar_stack[3]),
    description_rows::r16("S4", IN_STACK, 16, &M.cmar_stack[4]), description_rows::r16("S5", IN_STACK, 16, &M.cmar_stack[5]),
    description_rows::r16("S6", IN_STACK, 16, &M.cmar_stack[6]), description_rows::r16("S7", IN_STACK, 16, &M.cmar_stack[7]),
    {"STOP", IN_RUN, 1, STORE_READ_ONLY, 0, nullptr, nullptr, &M.stop_flag},
};
// clang-format on

// (Where each lives the tests check: the sanitizers' builds cannot compare
// the machine's addresses at compile time.)
constexpr bool every_register_described()
{
    for (const machine_register &reg : MACHINE_REGISTERS)
        if (!reg.name) return false;
    return true;
}
static_assert(every_register_described(), "a row for every machine_register_id");

constexpr const machine_register &described(machine_register_id id) { return MACHINE_REGISTERS[id]; }

// The register of a name (any case), or nullptr.
const machine_register *find_machine_register(const char *name);

// All ones in the register's width.
constexpr unsigned width_mask(const machine_register &reg) { return reg.width >= 32 ? ~0u : (1u << reg.width) - 1; }

unsigned register_value(const machine_register &reg);

// What the register keeps of an operator's value by its store rule (a
// read-only register keeps what it holds).
unsigned kept_value(const machine_register &reg, unsigned value);

// Stores the value as it is (the caller applied the rule); nothing for a
// read-only register.
void store_value(const machine_register &reg, unsigned value);

// ---- Data path ----------------------------------------------------------

// The parts of the data path: units, buses, and the connections between
// them, named SOURCE-DESTINATION. The picture marks each element with the
// names of the parts it draws (data-part).
// clang-format off
enum data_path_part : int {
    // Control.
    PART_CMAR, PART_CM, PART_MIR, PART_SEQ, PART_STACK,
    PART_MIR_SEQ, PART_SEQ_CMAR, PART_FLAGS_SEQ, PART_IR_SEQ,
    // Registers and units.
    PART_R0, PART_R1, PART_R2, PART_R3, PART_R4, PART_R5, PART_R6, PART_R7,
    PART_PC, PART_IR, PART_FSR, PART_C, PART_MAR, PART_MM, PART_FLAGS, PART_CONST,
    PART_ALU, PART_SHIFTER, PART_READER, PART_PRINTER, PART_IOSTART,
    // Buses.
    PART_LBUS, PART_RBUS, PART_ABUS, PART_SBUS, PART_IOBUS,
    // Onto the left bus.
    PART_R_LBUS, PART_PC_LBUS, PART_IR_LBUS, PART_FSR_LBUS, PART_IOBUS_LBUS, PART_MM_LBUS,
    // Onto the right bus.
    PART_R_RBUS, PART_CONST_RBUS,
    // From the shifter bus.
    PART_SBUS_R0, PART_SBUS_R1, PART_SBUS_R2, PART_SBUS_R3,
    PART_SBUS_R4, PART_SBUS_R5, PART_SBUS_R6, PART_SBUS_R7, PART_SBUS_PC,
    // Flags.
    PART_ALU_FLAGS, PART_SHIFTER_FLAGS, PART_FLAGS_FSR,
    // From the buses into registers, memory and devices.
    PART_LBUS_IR, PART_RBUS_C, PART_LBUS_MAR, PART_LBUS_MM, PART_LBUS_IOBUS,
    PART_READER_IOBUS, PART_IOBUS_PRINTER,
    DATA_PATH_PARTS
};
// clang-format on

extern const char *const DATA_PATH_PART_NAMES[DATA_PATH_PARTS];

using part_set = std::bitset<DATA_PATH_PARTS>;

// What one micro-cycle's use of the data path depends on: its fields, and
// the machine before it (IR selects registers and the ALU function; a memory
// or I/O transfer started in the cycle before completes in it). `ir_after`
// is IR after the cycle: a store through IR's fields sees IR as an EXF 4
// load in the same cycle left it.
struct step_view {
    micro_instruction word;
    uint16_t ir_before;
    uint16_t ir_after;
    int mem_cycle_before;
    int io_cycle_before;
};

// The parts the micro-cycle used.
part_set parts_used(const step_view &step);

// The parts a single field code uses by itself, with the IR and cycle
// states of `step` where the code depends on them; parts_used is their union
// with the sequencer and the transfers.
part_set left_bus_parts(int lbf, const step_view &step);
part_set right_bus_parts(int rbf, const step_view &step);
part_set store_parts(int sbf, const step_view &step);
part_set alu_parts(int alf, const step_view &step);
part_set shifter_parts(int shf);
part_set memory_parts(int mmf);
part_set extra_parts(int exf);
