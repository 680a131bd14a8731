// The fast run loop: whole runs of micro-cycles over decoded words.
//
// Theory of operation
// -------------------
// core/micro_cycle.cpp defines what one micro-cycle does. This loop does the
// same, cycle for cycle, for the words whose cycle is plain work; every other
// cycle it hands to micro_cycle() itself, the generic step.
//
// Each control-memory word reached by a run is decoded once into an entry:
//  - a handler, one instantiation of cycle<ALU, shift, extra> for the word's
//    ALU operation (add, subtract, AND, OR, XOR, OR without flags, or the
//    operation in IR bits 6..4), shift (the six shifts and pass) and kind
//    of extra function (count C down, save the flags, carry 1 or CRY in,
//    load IR, copy LBUS to IOBUS, load C, set or reset T, step an IR field,
//    none), and for whether the word needs no more than a fixed successor
//    or is a flow word (below), so that the handler does only what those
//    fields ask for;
//  - the buses' sources and the SBUS destination as names in a register
//    file (R0..R7, PC, IOBUS, IR, FSR, zero, the memory word read, a sink);
//    the names of the registers that IR bits 11..10 and 9..8 select go
//    through a slot map, rewritten whenever IR changes;
//  - the RBUS constant (ADF, or the low 16 bits of the word), OR-ed in;
//  - the memory function as the cycle state it leaves;
//  - the next entry, worked out as far as the word alone decides it: a
//    fixed successor, the two outcomes of a test, or the base, shift and
//    mask of an IR dispatch.
// Words with a reserved code and words whose extra function starts a
// transfer or halts get the generic handler. A few more decide only at run
// time whether their cycle is plain (a read of the memory word, an ALU code
// from IR, a call or a return): the entry's checks send a cycle that would
// report a fault to the generic step before it changes anything. Flow words,
// those with checks or a successor other than a fixed one, make their
// checks and work out the next entry before the cycle's work.
//
// A run keeps the registers, buses, flags, counter, MAR, memory cycle state
// and stack depth in locals and writes them back to M when it ends and
// before every generic step; after a generic step it goes on in the loop
// only while nothing is in flight that the loop leaves to the generic step
// (an I/O transfer, a memory transfer at an address beyond 0xFFFF, a PC
// above 0xFFFF, an odd cycle state or stack depth, a CMAR beyond 0xFFF).
//
// An entry is decoded again when its control-memory word differs from the
// one it was made from, looked at when a run starts (the console changes
// words only between runs). During a run with break points the entries of
// the break point addresses hold the stop handler, and the entry past the
// last word (CMAR 0x1000) is reached only through the generic step or a stop.
#include "core/fast_loop.hpp"

#include <array>
#include <cstring>

#include "core/machine_state.hpp"
#include "core/micro_cycle.hpp"
#include "core/micro_word.hpp"

namespace {

// Register file slots.
enum : uint8_t {
    SLOT_PC = 8,
    SLOT_IOBUS = 9,
    SLOT_IR = 10,
    SLOT_FSR = 11,
    SLOT_ZERO = 12,
    SLOT_SINK = 13,
    SLOT_MEMORY = 14,   // the word that LBF 12 reads, fetched by the entry's check
    SLOTS = 16,
    // Names through the slot map, rewritten when IR changes.
    NAME_IR_9_8 = 16,
    NAME_IR_9_8_NEXT = 17,
    NAME_IR_11_10 = 18,
    NAME_IR_11_10_NEXT = 19,
    NAMES = 20,
};

enum alu_kind { ALU_ADD, ALU_SUBTRACT, ALU_AND, ALU_OR, ALU_XOR, ALU_FROM_IR, ALU_OR_QUIET, ALU_KINDS };
enum shift_kind {
    SHIFT_LEFT, SHIFT_RIGHT, SHIFT_LEFT_ARITHMETIC, SHIFT_RIGHT_ARITHMETIC,
    SHIFT_SIGN_FILL, SHIFT_SWAP, SHIFT_PASS, SHIFT_KINDS
};
enum extra_kind {
    EXTRA_COUNT_DOWN, EXTRA_SAVE_FLAGS, EXTRA_CARRY_CRY, EXTRA_CARRY_ONE, EXTRA_LOAD_IR,
    EXTRA_COPY_IOBUS, EXTRA_LOAD_C, EXTRA_SET_T, EXTRA_STEP_IR, EXTRA_NONE, EXTRA_KINDS
};

enum next_kind : uint8_t { NEXT_FIXED, NEXT_CALL, NEXT_RETURN, NEXT_TEST, NEXT_DISPATCH };

// Checks made before a cycle that may have to be the generic step.
enum : uint8_t {
    CHECK_READ = 1,        // LBF 12: a read must be in progress
    CHECK_ALU_CODE = 2,    // ALF 5: IR bits 6..4 must name a defined code
    CHECK_CALL = 4,        // SQF 1: the stack must have room
    CHECK_RETURN = 8,      // SQF 2: the stack must hold a control-memory address
};

enum : uint16_t {
    HANDLER_UNDECODED = 0,   // decode the word, then run the entry
    HANDLER_GENERIC = 1,     // micro_cycle()
    HANDLER_STOP = 2,        // a break point address: the run returns here
    HANDLER_BEYOND = 3,      // CMAR 0x1000
    HANDLER_FIRST_CYCLE = 4,
};

// Words whose next entry is fixed and that need no check have a handler of
// their own; the others ("flow") work out the next entry and make the checks.
constexpr uint16_t handler_of(int alu, int shift, int extra, int flow)
{
    return static_cast<uint16_t>(HANDLER_FIRST_CYCLE + ((alu * SHIFT_KINDS + shift) * EXTRA_KINDS + extra) * 2 + flow);
}

struct entry {
    const entry *next_true;    // the fixed successor, or the one when the test holds
    const entry *next_false;
    uint64_t word;             // the control-memory word decoded
    uint16_t handler;
    uint16_t unmarked_handler; // the handler a stop mark replaced
    uint16_t constant;         // OR-ed into RBUS
    uint16_t dispatch_base;
    uint16_t ir_keep;          // IR step: IR <- (IR & keep) | ((IR + add) & ~keep)
    uint16_t ir_add;
    uint8_t left, right, dest; // names
    uint8_t next, test, checks;
    uint8_t memory_start;      // mem_cycle after the memory function; 0 none
    uint8_t dispatch_shift, dispatch_mask;
    uint8_t t_value;
};

constexpr uint32_t BEYOND = CM_WORDS;   // index of the entry of CMAR 0x1000

entry table[CM_WORDS + 1];
uint64_t decoded_from[CM_WORDS];   // the CM word each entry stands for
uint16_t stop_marks[POINT_SLOTS];
int stop_mark_count;

void decode_entry(uint32_t address, uint64_t word)
{
    static constexpr uint8_t LEFT[16] = {0, 1, 2, 3, 4, 5, 6, 7, NAME_IR_9_8, NAME_IR_9_8_NEXT, SLOT_PC,
                                         SLOT_IOBUS, SLOT_MEMORY, SLOT_IR, SLOT_FSR, SLOT_ZERO};
    static constexpr uint8_t RIGHT[16] = {0, 1, 2, 3, 4, 5, 6, 7, NAME_IR_11_10, NAME_IR_11_10_NEXT,
                                          SLOT_ZERO, SLOT_ZERO, SLOT_ZERO, SLOT_ZERO, SLOT_ZERO, SLOT_ZERO};
    static constexpr uint8_t DEST[16] = {0, 1, 2, 3, 4, 5, 6, 7, NAME_IR_11_10, NAME_IR_11_10_NEXT,
                                         NAME_IR_9_8, NAME_IR_9_8_NEXT, SLOT_PC, SLOT_SINK, SLOT_SINK,
                                         SLOT_SINK};
    static constexpr int ALU[8] = {ALU_ADD, ALU_SUBTRACT, ALU_AND, ALU_OR, ALU_XOR, ALU_FROM_IR, -1, ALU_OR_QUIET};
    static constexpr int SHIFT[8] = {SHIFT_LEFT, SHIFT_RIGHT, SHIFT_LEFT_ARITHMETIC, SHIFT_RIGHT_ARITHMETIC,
                                     SHIFT_SIGN_FILL, SHIFT_SWAP, -1, SHIFT_PASS};
    static constexpr int EXTRA[16] = {EXTRA_COUNT_DOWN, EXTRA_SAVE_FLAGS, EXTRA_CARRY_CRY, EXTRA_CARRY_ONE,
                                      EXTRA_LOAD_IR, EXTRA_COPY_IOBUS, EXTRA_LOAD_C, -1,
                                      EXTRA_SET_T, EXTRA_SET_T, EXTRA_STEP_IR, EXTRA_STEP_IR,
                                      EXTRA_STEP_IR, -1, -1, EXTRA_NONE};

    const int lbf = field_of(word, FIELD_LBF), rbf = field_of(word, FIELD_RBF);
    const int alf = field_of(word, FIELD_ALF), shf = field_of(word, FIELD_SHF);
    const int sbf = field_of(word, FIELD_SBF), mmf = field_of(word, FIELD_MMF);
    const int sqf = field_of(word, FIELD_SQF), tsf = field_of(word, FIELD_TSF);
    const int exf = field_of(word, FIELD_EXF);
    const uint32_t adf = static_cast<uint32_t>(field_of(word, FIELD_ADF));

    entry e{};
    e.word = word;
    e.left = LEFT[lbf];
    e.right = RIGHT[rbf];
    e.dest = DEST[sbf];
    if (rbf == 10) e.constant = static_cast<uint16_t>(adf);
    if (rbf == 11) e.constant = static_cast<uint16_t>(word);
    if (lbf == 12) e.checks |= CHECK_READ;
    if (alf == 5) e.checks |= CHECK_ALU_CODE;
    e.memory_start = mmf == 0 ? 1 : mmf == 1 ? 2 : 0;
    e.t_value = exf == 8;
    if (exf == 10) e.ir_keep = static_cast<uint16_t>(~0x0C00u), e.ir_add = 0x0400;
    if (exf == 11) e.ir_keep = static_cast<uint16_t>(~0x0300u), e.ir_add = 0x0100;
    if (exf == 12) e.ir_keep = static_cast<uint16_t>(~0x0300u), e.ir_add = 0x0300;

    // The sequencer, as far as the word decides it.
    bool generic = (rbf >= 12 && rbf <= 14) || sbf == 13 || sbf == 14;
    const uint32_t in_page = (address & ~0x1FFu) | adf;
    const uint32_t jump = static_cast<uint32_t>(tsf) << 9 | adf;
    const uint32_t dispatch_base = ((static_cast<uint32_t>(tsf) & 1) << 9 | adf) << 2;
    uint32_t on_true = address + 1, on_false = address + 1;
    e.next = NEXT_FIXED;
    e.test = static_cast<uint8_t>(tsf);
    switch (sqf) {
    case 0:  on_true = jump; break;
    case 1:  on_true = jump; e.next = NEXT_CALL; e.checks |= CHECK_CALL; break;
    case 2:  e.next = NEXT_RETURN; e.checks |= CHECK_RETURN; break;
    case 3:  on_true = in_page; on_false = address + 1; e.next = NEXT_TEST; break;
    case 4:  on_true = address + 1; on_false = in_page; e.next = NEXT_TEST; break;
    case 5:  e.next = NEXT_DISPATCH;
             e.dispatch_base = static_cast<uint16_t>((adf & 0xFF) << 4);
             e.dispatch_shift = 12, e.dispatch_mask = 0xF;
             break;
    case 6:  e.next = NEXT_DISPATCH;
             e.dispatch_base = static_cast<uint16_t>((dispatch_base & ~0xFu) | (adf & 3));
             e.dispatch_shift = 8, e.dispatch_mask = 0xC;
             break;
    case 7:  e.next = NEXT_DISPATCH;
             e.dispatch_base = static_cast<uint16_t>((dispatch_base & ~0x3Fu) | (adf & 3));
             e.dispatch_shift = 6, e.dispatch_mask = 0x3C;
             break;
    case 8:  on_true = 0; on_false = in_page; e.next = NEXT_TEST; break;
    case 15: break;
    default: generic = true; break;   // reserved
    }
    if (e.next == NEXT_TEST) {
        if (tsf == 6) generic = true;   // reserved test: reported
        if (tsf == 7) e.next = NEXT_FIXED;   // always true
    }
    e.next_true = &table[on_true];
    e.next_false = &table[on_false];

    const int alu = ALU[alf], shift = SHIFT[shf], extra = EXTRA[exf];
    if (generic || alu < 0 || shift < 0 || extra < 0)
        e.handler = HANDLER_GENERIC;
    else
        e.handler = handler_of(alu, shift, extra, e.next != NEXT_FIXED || e.checks != 0);
    table[address] = e;
}

// Brings the entries up to date with the control memory and the break
// points. Marks stay until the next run starts.
void prepare_entries()
{
    for (int i = 0; i < stop_mark_count; i++) {
        entry &e = table[stop_marks[i]];
        e.handler = e.unmarked_handler;
    }
    stop_mark_count = 0;
    if (memcmp(decoded_from, M.CM, sizeof decoded_from) != 0)
        for (uint32_t address = 0; address < CM_WORDS; address++)
            if (decoded_from[address] != M.CM[address]) {
                decoded_from[address] = M.CM[address];
                table[address].handler = HANDLER_UNDECODED;
            }
    table[BEYOND].handler = HANDLER_BEYOND;
    if (!M.break_active) return;
    for (const point_slot &slot : M.break_points) {
        const uint32_t address = static_cast<uint32_t>(slot.address);
        if (!slot.in_use || address > CM_LIMIT) continue;
        entry &e = table[address];
        if (e.handler == HANDLER_STOP) continue;
        e.unmarked_handler = e.handler;
        e.handler = HANDLER_STOP;
        stop_marks[stop_mark_count++] = static_cast<uint16_t>(address);
    }
}

// Whether the loop may run the machine from M as it stands.
bool loop_may_run()
{
    return M.io_cycle == 0 && static_cast<unsigned>(M.mem_cycle) <= 2 && (M.mem_cycle == 0 || M.MAR <= MM_LIMIT) &&
           M.PC <= 0xFFFF && static_cast<unsigned>(M.cmar_sp) <= STACK_DEPTH && M.CMAR <= CM_LIMIT;
}

// The machine's state between two cycles of the loop.
struct machine_locals {
    int zer, neg, cry, ovr, t;
    unsigned c;
    uint16_t lbus, rbus, abus, sbus;
    uint32_t mar;
    int mem_cycle;
    int sp;
};

// The four IR-selected names for each value of IR bits 11..8.
struct ir_names {
    uint8_t slot[4];   // IR[9:8], IR[9:8] + 1, IR[11:10], IR[11:10] + 1
};
constexpr auto IR_NAMES = [] {
    std::array<ir_names, 16> names{};
    for (unsigned bits = 0; bits < 16; bits++) {
        const unsigned low = bits & 3, high = bits >> 2;
        names[bits] = {{static_cast<uint8_t>(low), static_cast<uint8_t>((low + 1) & 3),
                        static_cast<uint8_t>(high), static_cast<uint8_t>((high + 1) & 3)}};
    }
    return names;
}();
static_assert(NAME_IR_9_8_NEXT == NAME_IR_9_8 + 1 && NAME_IR_11_10 == NAME_IR_9_8 + 2 &&
              NAME_IR_11_10_NEXT == NAME_IR_9_8 + 3);

[[gnu::always_inline]] inline void map_ir_names(uint8_t *name, unsigned ir)
{
    memcpy(name + NAME_IR_9_8, IR_NAMES[(ir >> 8) & 15].slot, 4);
}

[[gnu::always_inline]] inline void load_locals(machine_locals &s, uint16_t *reg, uint8_t *name)
{
    for (int i = 0; i < REGISTERS; i++) reg[i] = M.R[i];
    reg[SLOT_PC] = static_cast<uint16_t>(M.PC);
    reg[SLOT_IOBUS] = M.IOBUS;
    reg[SLOT_IR] = M.IR;
    reg[SLOT_FSR] = M.FSR;
    reg[SLOT_ZERO] = 0;
    map_ir_names(name, M.IR);
    s.zer = M.ZER, s.neg = M.NEG, s.cry = M.CRY, s.ovr = M.OVR, s.t = M.T;
    s.c = M.C;
    s.mar = M.MAR;
    s.mem_cycle = M.mem_cycle;
    s.sp = M.cmar_sp;
}

// MIR and the ten fields, as the fetch of `word` leaves them.
void leave_fields(uint64_t word) { M.current = decode(word); }

// Writes the locals back after at least one cycle of the loop; `next` is the
// entry of the next CMAR, `last` the one executed last.
[[gnu::always_inline]] inline void store_locals(const machine_locals &s, const uint16_t *reg, const entry *next,
                                                const entry *last)
{
    for (int i = 0; i < REGISTERS; i++) M.R[i] = reg[i];
    M.PC = reg[SLOT_PC];
    M.IOBUS = reg[SLOT_IOBUS];
    M.IR = reg[SLOT_IR];
    M.FSR = reg[SLOT_FSR];
    M.LBUS = s.lbus, M.RBUS = s.rbus, M.ABUS = s.abus, M.SBUS = s.sbus;
    M.ZER = s.zer, M.NEG = s.neg, M.CRY = s.cry, M.OVR = s.ovr, M.T = s.t;
    M.C = s.c;
    M.CZ = s.c == 0;
    M.MAR = s.mar;
    M.mem_cycle = s.mem_cycle;
    M.cmar_sp = s.sp;
    M.CMAR = static_cast<uint32_t>(next - table);
    leave_fields(last->word);
}

[[gnu::always_inline]] inline int test_holds(int test, const machine_locals &s)
{
    switch (test) {
    case 0:  return s.zer != 0;
    case 1:  return s.neg != 0;
    case 2:  return s.cry != 0;
    case 3:  return s.ovr != 0;
    case 4:  return s.t != 0;
    case 5:  return s.c == 0;
    default: return 1;
    }
}

// The next entry of a flow word.
[[gnu::always_inline]] inline const entry *flow(const entry *e, machine_locals &s, const uint16_t *reg)
{
    switch (e->next) {
    case NEXT_CALL:
        M.cmar_stack[s.sp++] = static_cast<uint16_t>(e - table + 1);
        return e->next_true;
    case NEXT_RETURN:
        return &table[M.cmar_stack[--s.sp]];
    case NEXT_TEST:
        return test_holds(e->test, s) ? e->next_true : e->next_false;
    case NEXT_DISPATCH:
        return &table[e->dispatch_base | ((reg[SLOT_IR] >> e->dispatch_shift) & e->dispatch_mask)];
    default:
        return e->next_true;
    }
}

template <int Alu>
[[gnu::always_inline]] inline void alu_step(machine_locals &s, unsigned left, unsigned right, unsigned carry,
                                            unsigned ir)
{
    if constexpr (Alu == ALU_ADD) {
        const unsigned sum = left + right + carry;
        s.abus = static_cast<uint16_t>(sum);
        s.zer = s.abus == 0;
        s.neg = (sum >> 15) & 1;
        s.cry = (sum >> 16) & 1;
        s.ovr = (((left ^ sum) & (right ^ sum)) >> 15) & 1;
    } else if constexpr (Alu == ALU_SUBTRACT) {
        const unsigned difference = left - right - carry;
        s.abus = static_cast<uint16_t>(difference);
        s.zer = s.abus == 0;
        s.neg = (difference >> 15) & 1;
        s.cry = (difference >> 16) & 1;
        s.ovr = (((left ^ right) & (left ^ difference)) >> 15) & 1;
    } else if constexpr (Alu == ALU_AND) {
        s.abus = static_cast<uint16_t>(left & right);
        s.zer = s.abus == 0;
    } else if constexpr (Alu == ALU_OR) {
        s.abus = static_cast<uint16_t>(left | right);
        s.zer = s.abus == 0;
    } else if constexpr (Alu == ALU_XOR) {
        s.abus = static_cast<uint16_t>(left ^ right);
        s.zer = s.abus == 0;
    } else if constexpr (Alu == ALU_OR_QUIET) {
        s.abus = static_cast<uint16_t>(left | right);
    } else {   // the code in IR bits 6..4, checked to be defined
        switch ((ir >> 4) & 7) {
        case 0:  alu_step<ALU_ADD>(s, left, right, carry, ir); break;
        case 1:  alu_step<ALU_SUBTRACT>(s, left, right, carry, ir); break;
        case 2:  alu_step<ALU_AND>(s, left, right, carry, ir); break;
        case 3:  alu_step<ALU_OR>(s, left, right, carry, ir); break;
        case 4:  alu_step<ALU_XOR>(s, left, right, carry, ir); break;
        default: alu_step<ALU_OR_QUIET>(s, left, right, carry, ir); break;
        }
    }
}

template <int Shift>
[[gnu::always_inline]] inline void shift_step(machine_locals &s, unsigned in)
{
    const unsigned a = s.abus;
    if constexpr (Shift == SHIFT_LEFT || Shift == SHIFT_LEFT_ARITHMETIC) {
        s.sbus = static_cast<uint16_t>(a << 1 | in);
        s.cry = a >> 15;
        if constexpr (Shift == SHIFT_LEFT_ARITHMETIC) s.ovr = ((a >> 15) ^ (a >> 14)) & 1;
    } else if constexpr (Shift == SHIFT_RIGHT) {
        s.sbus = static_cast<uint16_t>(a >> 1 | in << 15);
        s.cry = a & 1;
    } else if constexpr (Shift == SHIFT_RIGHT_ARITHMETIC) {
        s.sbus = static_cast<uint16_t>(a >> 1 | (a & 0x8000));
        s.cry = a & 1;
    } else if constexpr (Shift == SHIFT_SIGN_FILL) {
        s.sbus = static_cast<uint16_t>(a & 0x80 ? a | 0xFF00 : a);
        s.cry = (a >> 7) & 1;
    } else if constexpr (Shift == SHIFT_SWAP) {
        s.sbus = static_cast<uint16_t>(a << 8 | a >> 8);
    } else {
        s.sbus = static_cast<uint16_t>(a);
    }
}

// Steps 5 to 14 of the micro-cycle for one kind of word; the checks and the
// sequencer (steps 1 to 3) have been done, and no transfer is in flight but
// a memory read or write.
template <int Alu, int Shift, int Extra>
[[gnu::always_inline]] inline void cycle(const entry *e, machine_locals &s, uint16_t *reg, uint8_t *name)
{
    const uint16_t left = reg[name[e->left]];
    s.lbus = left;
    if constexpr (Extra == EXTRA_COPY_IOBUS) reg[SLOT_IOBUS] = left;
    const uint16_t right = static_cast<uint16_t>(reg[name[e->right]] | e->constant);
    s.rbus = right;
    if (s.mem_cycle != 0) {
        if (s.mem_cycle == 2) M.MM[s.mar] = left;   // completes a write; a read ends
        s.mem_cycle = 0;
    }
    if (e->memory_start != 0) {
        s.mar = left;
        s.mem_cycle = e->memory_start;
    }
    const unsigned alu_carry = Extra == EXTRA_CARRY_ONE ? 1u : Extra == EXTRA_CARRY_CRY ? s.cry != 0 : 0u;
    alu_step<Alu>(s, left, right, alu_carry, reg[SLOT_IR]);
    if constexpr (Extra == EXTRA_LOAD_IR) {
        reg[SLOT_IR] = left;
        map_ir_names(name, left);
    }
    const unsigned shift_in = Extra == EXTRA_CARRY_ONE ? 1u : Extra == EXTRA_CARRY_CRY ? s.cry != 0 : 0u;
    shift_step<Shift>(s, shift_in);
    reg[name[e->dest]] = s.sbus;
    if constexpr (Extra == EXTRA_COUNT_DOWN) {
        s.c = (s.c - 1) & 0xFF;
    } else if constexpr (Extra == EXTRA_SAVE_FLAGS) {
        reg[SLOT_FSR] = static_cast<uint16_t>((s.zer != 0) << 3 | (s.neg != 0) << 2 | (s.cry != 0) << 1 |
                                              (s.ovr != 0));
    } else if constexpr (Extra == EXTRA_LOAD_C) {
        s.c = right & 0xFFu;
    } else if constexpr (Extra == EXTRA_SET_T) {
        s.t = e->t_value;
    } else if constexpr (Extra == EXTRA_STEP_IR) {
        const unsigned ir = reg[SLOT_IR];
        reg[SLOT_IR] = static_cast<uint16_t>((ir & e->ir_keep) | ((ir + e->ir_add) & ~unsigned{e->ir_keep}));
        map_ir_names(name, reg[SLOT_IR]);
    }
}

// Whether the cycle of `e` is plain work; prepares the memory word for LBF 12.
[[gnu::always_inline]] inline bool checks_pass(const entry *e, const machine_locals &s, uint16_t *reg)
{
    const uint8_t checks = e->checks;
    if (checks & CHECK_READ) {
        if (s.mem_cycle != 1) return false;
        reg[SLOT_MEMORY] = M.MM[s.mar];
        if (checks == CHECK_READ) return true;
    }
    if (checks & CHECK_ALU_CODE) {
        const unsigned code = (reg[SLOT_IR] >> 4) & 7;
        if (code == 5 || code == 6) return false;
    }
    if (checks & CHECK_CALL) return s.sp < STACK_DEPTH;
    if (checks & CHECK_RETURN) return s.sp > 0 && M.cmar_stack[s.sp - 1] <= CM_LIMIT;
    return true;
}

#define KALVO3_EXTRAS(A, S)                                                                             \
    KALVO3_CASE(A, S, 0) KALVO3_CASE(A, S, 1) KALVO3_CASE(A, S, 2) KALVO3_CASE(A, S, 3)                 \
    KALVO3_CASE(A, S, 4) KALVO3_CASE(A, S, 5) KALVO3_CASE(A, S, 6) KALVO3_CASE(A, S, 7)                 \
    KALVO3_CASE(A, S, 8) KALVO3_CASE(A, S, 9)
#define KALVO3_SHIFTS(A)                                                                                \
    KALVO3_EXTRAS(A, 0) KALVO3_EXTRAS(A, 1) KALVO3_EXTRAS(A, 2) KALVO3_EXTRAS(A, 3)                     \
    KALVO3_EXTRAS(A, 4) KALVO3_EXTRAS(A, 5) KALVO3_EXTRAS(A, 6)
#define KALVO3_ALL_CYCLES                                                                               \
    KALVO3_SHIFTS(0) KALVO3_SHIFTS(1) KALVO3_SHIFTS(2) KALVO3_SHIFTS(3)                                 \
    KALVO3_SHIFTS(4) KALVO3_SHIFTS(5) KALVO3_SHIFTS(6)
#define KALVO3_CASE(A, S, X)                                                                            \
    case handler_of(A, S, X, 0): cycle<A, S, X>(e, s, reg, name); break;                                 \
    case handler_of(A, S, X, 1):                                                                          \
        if (e->checks != 0 && !checks_pass(e, s, reg)) goto generic;                                      \
        next = flow(e, s, reg);                                                                           \
        cycle<A, S, X>(e, s, reg, name);                                                                  \
        break;

static_assert(EXTRA_KINDS == 10 && SHIFT_KINDS == 7 && ALU_KINDS == 7, "the case lists name every kind");

}  // namespace

uint64_t fast_run(uint64_t limit)
{
    if (limit == 0) return 0;
    prepare_entries();
    const bool stop_at_marks = M.break_active != 0;

    machine_locals s{};
    uint16_t reg[SLOTS] = {};
    uint8_t name[NAMES];
    for (int i = 0; i < NAMES; i++) name[i] = static_cast<uint8_t>(i);

    uint64_t left = limit;          // steps still allowed
    const entry *e = nullptr;       // the entry at CMAR
    const entry *last = nullptr;    // the entry executed last, while the locals are newer than M

    if (M.stop_flag || !loop_may_run() || table[M.CMAR].handler == HANDLER_STOP) goto generic;
    e = &table[M.CMAR];
    load_locals(s, reg, name);

    for (;;) {
        {   // one cycle of the loop, or a way out of it
            const entry *next = e->next_true;
            switch (e->handler) {
                KALVO3_ALL_CYCLES
            case HANDLER_UNDECODED: {
                const uint32_t address = static_cast<uint32_t>(e - table);
                decode_entry(address, M.CM[address]);
                continue;
            }
            case HANDLER_BEYOND:
                if (!stop_at_marks) goto generic;
                [[fallthrough]];
            case HANDLER_STOP:
                store_locals(s, reg, e, last);
                return limit - left;
            case HANDLER_GENERIC:
                goto generic;
            default:
                __builtin_unreachable();
            }
            last = e;
            e = next;
            if (--left == 0) {
                store_locals(s, reg, e, last);
                return limit;
            }
            continue;
        }

    generic:   // e is the entry at CMAR, or none when M is up to date
        if (last) {
            store_locals(s, reg, e, last);
            last = nullptr;
        }
        micro_cycle();
        --left;
        if (M.stop_flag || left == 0) return limit - left;
        if (stop_at_marks && (M.CMAR > CM_LIMIT || table[M.CMAR].handler == HANDLER_STOP)) return limit - left;
        if (!loop_may_run()) goto generic;
        e = &table[M.CMAR];
        load_locals(s, reg, name);
    }
}
