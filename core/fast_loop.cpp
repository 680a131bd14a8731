// The fast run loop: whole runs of micro-cycles over decoded words.
//
// Theory of operation
// -------------------
// core/micro_cycle.cpp defines what one micro-cycle does. This loop does the
// same, cycle for cycle, for the words whose cycle is plain work; every other
// cycle it hands to micro_cycle() itself, the generic step.
//
// Its gate is the lockstep test (FastLoopTest in tests/unit/fast_loop_test.cpp):
// from the same machine states, on random control-memory images, it runs this
// loop and micro_cycle() side by side and requires the same machine, the
// same reports and the same device files; bench/run.sh runs it on many more
// images. No change to the loop is right until that test passes. To bisect
// a suspected fault of the loop, build with -DKALVO3_REFERENCE_CYCLE=ON:
// every run then steps micro_cycle() alone (core/stepping.cpp), and a result
// that changes with the option points at the loop.
//
// Each control-memory word reached by a run is decoded once into an entry:
//  - its work: one instantiation of cycle<ALU, shift, extra> for the word's
//    ALU operation (add, subtract, AND, OR, XOR, OR without flags, or the
//    operation in IR bits 6..4), shift (the six shifts and pass) and kind
//    of extra function (count C down, save the flags, carry 1 or CRY in,
//    load IR, copy LBUS to IOBUS, load C, set or reset T, step an IR field,
//    none), so that it does only what those fields ask for;
//  - the buses' sources and the SBUS destination as names in a register
//    file (R0..R7, PC, IOBUS, IR, FSR, zero, the memory word read, a sink);
//    the names of the registers that IR bits 11..10 and 9..8 select go
//    through a slot map, rewritten whenever IR changes;
//  - the RBUS constant (ADF, or the low 16 bits of the word), OR-ed in;
//  - the memory function as the cycle state it leaves;
//  - the next entry, worked out as far as the word alone decides it: a
//    fixed successor, the two outcomes of a test, or the base, shift and
//    mask of an IR dispatch;
//  - where the loop goes for it: straight to the work when the successor is
//    fixed and nothing needs checking, otherwise to a sequencing step that
//    makes the checks, works out the next entry and goes on to the work.
// Words with a reserved code and words whose extra function starts a
// transfer or halts go to the generic step. A few more decide only at run
// time whether their cycle is plain (a read of the memory word, an ALU code
// from IR, a call or a return): their sequencing step sends a cycle that
// would report a fault to the generic step before it changes anything.
//
// The loop is threaded: every piece of work ends by counting the step and
// going to the next entry's place itself. The flags are held in an array
// indexed by the test code that reads them (with the counter and "always"
// beside them), so a test is one load and a branch. The loop is built three
// times: plain, counting the steps by address, and watching one value (after
// every cycle it compares the value where the loop keeps it, a register slot,
// a local or a memory word, with the value before, and notes a change); the
// entries hold the places of the one that ran last, and are placed afresh
// when another one starts.
//
// A run keeps the registers, buses, flags, counter, MAR, memory cycle state
// and stack depth in locals (IR, the counter and the register slot written
// last also in host registers: the next cycle reads them at once) and writes
// them back to M when it ends and before every generic step; after a
// generic step it goes on in the loop only while nothing is in flight that
// the loop leaves to the generic step
// (an I/O transfer, a memory transfer at an address beyond 0xFFFF, a PC
// above 0xFFFF, an odd cycle state or stack depth, a CMAR beyond 0xFFF).
//
// An entry is decoded again when its control-memory word differs from the
// one it was made from, looked at when a run starts (the console changes
// words only between runs). During a run with break points the entries of
// the break point addresses go to the stop, and the entry past the last word
// (CMAR 0x1000) is reached only through the generic step or a stop.
#include "core/fast_loop.hpp"

#include <array>
#include <utility>
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
    SLOT_MEMORY = 14,   // the word that LBF 12 reads, fetched by the sequencing step
    SLOTS = 16,
    // Names through the slot map, rewritten when IR changes.
    NAME_IR_9_8 = 16,
    NAME_IR_9_8_NEXT = 17,
    NAME_IR_11_10 = 18,
    NAME_IR_11_10_NEXT = 19,
    NAMES = 20,
};

// The flags by the test code (TSF) that reads them. Each is held as a value
// in which the bits of FLAG_BITS say whether it is set, so that a producer
// stores what it has at hand: the sum for NEG (bit 15) and CRY (bit 16), the
// shifted word for a shift's CRY. The counter C stands in for "C is zero"
// with the sense reversed (nonzero: the test fails); the decoder swaps the
// outcomes of that test.
// clang-format off
enum : uint8_t {
    FLAG_ZER = TSF_ZER, FLAG_NEG = TSF_NEG, FLAG_CRY = TSF_CRY, FLAG_OVR = TSF_OVR, FLAG_T = TSF_T,
    FLAG_C = TSF_COUNTER_ZERO, FLAG_RESERVED = TSF_RESERVED, FLAG_ALWAYS = TSF_ALWAYS, FLAGS
};
// clang-format on
static_assert(FLAGS == 1 << FIELD_TSF.width, "a flag for every test code");
constexpr unsigned FLAG_BITS[FLAGS] = {1, 0x8000, 0x10000, 0x8000, 1, 0xFF, 0, 1};

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

// Where the loop goes for an entry: a way out of the loop, a sequencing step
// (checks and the next entry, then the entry's work), or a cycle's work.
enum : uint16_t {
    HANDLER_UNDECODED,   // decode the word, then go on with the entry
    HANDLER_GENERIC,     // micro_cycle()
    HANDLER_STOP,        // a break point address: the run returns here
    HANDLER_BEYOND,      // CMAR 0x1000
    STEP_TEST,           // the next entry by a flag
    STEP_DISPATCH,       // the next entry by IR bits
    STEP_CALL,
    STEP_RETURN,
    STEP_READ,           // the memory word read; a fixed successor
    STEP_CHECKED,        // any other checks, then any successor
    WORK_FIRST,
};

constexpr uint16_t work_of(int alu, int shift, int extra)
{
    return static_cast<uint16_t>(WORK_FIRST + (alu * SHIFT_KINDS + shift) * EXTRA_KINDS + extra);
}
constexpr int HANDLERS = work_of(ALU_KINDS - 1, SHIFT_KINDS - 1, EXTRA_KINDS - 1) + 1;

struct alignas(64) entry {
    const void *go;            // the place in the loop of `handler`
    const void *work;          // the place of the cycle's work, after a sequencing step
    const entry *next_true;    // the fixed successor, or the one when the test holds
    const entry *next_false;
    uint16_t handler;
    uint16_t unmarked_handler; // the handler a stop mark replaced
    uint16_t work_handler;     // what `work` stands for
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
static_assert(sizeof(entry) == 64, "one entry a cache line; a dispatch scales its index by a shift");

constexpr uint32_t BEYOND = CM_WORDS;   // index of the entry of CMAR 0x1000

entry table[CM_WORDS + 1];
uint64_t decoded_from[CM_WORDS];   // the CM word each entry stands for
uint16_t stop_marks[POINT_SLOTS];
int stop_mark_count;
const void *const *places;         // the places by handler of the loop that ran last

void set_handler(entry &e, uint16_t handler)
{
    e.handler = handler;
    e.go = places[handler];
}

void decode_entry(uint32_t address, uint64_t word)
{
    static constexpr uint8_t LEFT[16] = {0, 1, 2, 3, 4, 5, 6, 7, NAME_IR_9_8, NAME_IR_9_8_NEXT, SLOT_PC,
                                         SLOT_IOBUS, SLOT_MEMORY, SLOT_IR, SLOT_FSR, SLOT_ZERO};
    static constexpr uint8_t RIGHT[16] = {0, 1, 2, 3, 4, 5, 6, 7, NAME_IR_11_10, NAME_IR_11_10_NEXT,
                                          SLOT_ZERO, SLOT_ZERO, SLOT_ZERO, SLOT_ZERO, SLOT_ZERO, SLOT_ZERO};
    static constexpr uint8_t DEST[16] = {0, 1, 2, 3, 4, 5, 6, 7, NAME_IR_11_10, NAME_IR_11_10_NEXT,
                                         NAME_IR_9_8, NAME_IR_9_8_NEXT, SLOT_PC, SLOT_SINK, SLOT_SINK,
                                         SLOT_SINK};
    // Reserved codes (-1) go to the generic step, which reports them.
    static constexpr int ALU[8] = {ALU_ADD, ALU_SUBTRACT, ALU_AND, ALU_OR, ALU_XOR, ALU_FROM_IR, -1, ALU_OR_QUIET};
    static constexpr int SHIFT[8] = {SHIFT_LEFT, SHIFT_RIGHT, SHIFT_LEFT_ARITHMETIC, SHIFT_RIGHT_ARITHMETIC,
                                     SHIFT_SIGN_FILL, SHIFT_SWAP, -1, SHIFT_PASS};
    static_assert(is_reserved_code(FIELD_ALF, 6) && is_reserved_code(FIELD_SHF, 6));
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
    e.left = LEFT[lbf];
    e.right = RIGHT[rbf];
    e.dest = DEST[sbf];
    if (rbf == RBF_ADF_CONSTANT) e.constant = static_cast<uint16_t>(adf);
    if (rbf == RBF_WORD_CONSTANT) e.constant = static_cast<uint16_t>(word);
    if (lbf == LBF_MEMORY_DATA) e.checks |= CHECK_READ;
    if (alf == ALF_FROM_IR) e.checks |= CHECK_ALU_CODE;
    e.memory_start = mmf == MMF_READ ? 1 : mmf == MMF_WRITE ? 2 : 0;
    e.t_value = exf == EXF_SET_T;
    if (exf == EXF_UP_IR_11_10) e.ir_keep = static_cast<uint16_t>(~0x0C00u), e.ir_add = 0x0400;
    if (exf == EXF_UP_IR_9_8) e.ir_keep = static_cast<uint16_t>(~0x0300u), e.ir_add = 0x0100;
    if (exf == EXF_DOWN_IR_9_8) e.ir_keep = static_cast<uint16_t>(~0x0300u), e.ir_add = 0x0300;

    // The sequencer, as far as the word decides it.
    bool generic =
        is_reserved_code(FIELD_RBF, rbf) || is_reserved_code(FIELD_SBF, sbf) || is_reserved_code(FIELD_SQF, sqf);
    const uint32_t in_page = (address & ~0x1FFu) | adf;
    const uint32_t jump = static_cast<uint32_t>(tsf) << 9 | adf;
    const uint32_t dispatch_base = ((static_cast<uint32_t>(tsf) & 1) << 9 | adf) << 2;
    uint32_t on_true = address + 1, on_false = address + 1;
    e.next = NEXT_FIXED;
    e.test = static_cast<uint8_t>(tsf);
    // clang-format off
    switch (sqf) {
    case SQF_JUMP: on_true = jump; break;
    case SQF_CALL: on_true = jump; e.next = NEXT_CALL; e.checks |= CHECK_CALL; break;
    case SQF_RETURN: e.next = NEXT_RETURN; e.checks |= CHECK_RETURN; break;
    case SQF_JUMP_IF_TRUE: on_true = in_page; on_false = address + 1; e.next = NEXT_TEST; break;
    case SQF_JUMP_IF_FALSE: on_true = address + 1; on_false = in_page; e.next = NEXT_TEST; break;
    case SQF_DISPATCH_OP:
        e.next = NEXT_DISPATCH;
        e.dispatch_base = static_cast<uint16_t>((adf & 0xFF) << 4);
        e.dispatch_shift = 12, e.dispatch_mask = 0xF;
        break;
    case SQF_DISPATCH_RX:
        e.next = NEXT_DISPATCH;
        e.dispatch_base = static_cast<uint16_t>((dispatch_base & ~0xFu) | (adf & 3));
        e.dispatch_shift = 8, e.dispatch_mask = 0xC;
        break;
    case SQF_DISPATCH_RXRY:
        e.next = NEXT_DISPATCH;
        e.dispatch_base = static_cast<uint16_t>((dispatch_base & ~0x3Fu) | (adf & 3));
        e.dispatch_shift = 6, e.dispatch_mask = 0x3C;
        break;
    case SQF_RESTART_IF_TRUE: on_true = 0; on_false = in_page; e.next = NEXT_TEST; break;
    case SQF_CONTINUE: break;
    default: break;   // reserved: generic
    }
    // clang-format on
    if (sequence_tests(sqf)) {
        if (tsf == TSF_RESERVED) generic = true;   // reported
        if (tsf == TSF_ALWAYS) e.next = NEXT_FIXED;
        if (tsf == TSF_COUNTER_ZERO) std::swap(on_true, on_false);   // the flag holds C itself
    }
    e.next_true = &table[on_true];
    e.next_false = &table[on_false];

    const int alu = ALU[alf], shift = SHIFT[shf], extra = EXTRA[exf];
    uint16_t handler = HANDLER_GENERIC;
    if (!generic && alu >= 0 && shift >= 0 && extra >= 0) {
        const uint16_t work = work_of(alu, shift, extra);
        e.work_handler = work;
        e.work = places[work];
        if (e.checks == 0)
            handler = e.next == NEXT_FIXED  ? work
                      : e.next == NEXT_TEST ? uint16_t{STEP_TEST}
                                            : uint16_t{STEP_DISPATCH};
        else if (e.checks == CHECK_CALL)
            handler = STEP_CALL;
        else if (e.checks == CHECK_RETURN)
            handler = STEP_RETURN;
        else if (e.checks == CHECK_READ && e.next == NEXT_FIXED)
            handler = STEP_READ;
        else
            handler = STEP_CHECKED;
    }
    set_handler(e, handler);
    table[address] = e;
}

// Brings the entries up to date with the control memory and the break
// points. Marks stay until the next run starts.
void prepare_entries(const void *const *loop_places)
{
    if (places != loop_places) {   // the other loop ran last (or none)
        places = loop_places;
        for (entry &e : table) {
            set_handler(e, e.handler);
            if (e.work_handler >= WORK_FIRST) e.work = places[e.work_handler];
        }
    }
    for (int i = 0; i < stop_mark_count; i++) {
        entry &e = table[stop_marks[i]];
        set_handler(e, e.unmarked_handler);
    }
    stop_mark_count = 0;
    if (memcmp(decoded_from, M.CM, sizeof decoded_from) != 0)
        for (uint32_t address = 0; address < CM_WORDS; address++)
            if (decoded_from[address] != M.CM[address]) {
                decoded_from[address] = M.CM[address];
                set_handler(table[address], HANDLER_UNDECODED);
            }
    set_handler(table[BEYOND], HANDLER_BEYOND);
    if (!M.break_active) return;
    for (const point_slot &slot : M.break_points) {
        const uint32_t address = static_cast<uint32_t>(slot.address);
        if (!slot.in_use || address > CM_LIMIT) continue;
        entry &e = table[address];
        if (e.handler == HANDLER_STOP) continue;
        e.unmarked_handler = e.handler;
        set_handler(e, HANDLER_STOP);
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
    unsigned flag[FLAGS];   // set where FLAG_BITS says
    unsigned c;             // C, as flag[FLAG_C] holds it too
    unsigned ir;            // IR as read by dispatches and IR steps; reg[SLOT_IR] holds it for the bus
    uint16_t lbus, rbus, abus, sbus;
    uint32_t mar;
    int mem_cycle;
    int sp;
    unsigned written;       // the slot written last, whose value `value` holds (no bus reads SLOT_SINK)
    uint16_t value;
};

[[gnu::always_inline]] inline unsigned flag_set(const machine_locals &s, int flag)
{
    return (s.flag[flag] & FLAG_BITS[flag]) != 0;
}

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

// A slot read in the cycle after it was written takes the value from the
// host register that wrote it rather than waiting for the store.
[[gnu::always_inline]] inline uint16_t read_slot(const machine_locals &s, const uint16_t *reg, unsigned slot)
{
    uint16_t value = s.value;
    if (slot != s.written) {
        value = reg[slot];
        asm("" : "+r"(value));   // a branch, not a select
    }
    return value;
}

[[gnu::always_inline]] inline void write_slot(machine_locals &s, uint16_t *reg, unsigned slot, uint16_t value)
{
    reg[slot] = value;
    s.written = slot;
    s.value = value;
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
    s.flag[FLAG_ZER] = M.ZER != 0;
    s.flag[FLAG_NEG] = (M.NEG != 0) << 15;
    s.flag[FLAG_CRY] = (M.CRY != 0) << 16;
    s.flag[FLAG_OVR] = (M.OVR != 0) << 15;
    s.flag[FLAG_T] = M.T != 0;
    s.flag[FLAG_C] = s.c = M.C;
    s.flag[FLAG_RESERVED] = 0;
    s.flag[FLAG_ALWAYS] = 1;
    s.ir = M.IR;
    s.lbus = M.LBUS, s.rbus = M.RBUS, s.abus = M.ABUS, s.sbus = M.SBUS;   // for a watching run: every cycle drives them
    s.mar = M.MAR;
    s.mem_cycle = M.mem_cycle;
    s.sp = M.cmar_sp;
    s.written = SLOT_SINK;
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
    M.ZER = flag_set(s, FLAG_ZER), M.NEG = flag_set(s, FLAG_NEG);
    M.CRY = flag_set(s, FLAG_CRY), M.OVR = flag_set(s, FLAG_OVR);
    M.T = flag_set(s, FLAG_T);
    M.C = s.flag[FLAG_C];
    M.CZ = s.flag[FLAG_C] == 0;
    M.MAR = s.mar;
    M.mem_cycle = s.mem_cycle;
    M.cmar_sp = s.sp;
    M.CMAR = static_cast<uint32_t>(next - table);
    leave_fields(decoded_from[last - table]);
}

// The next entry of a word with checks, the checks passed.
[[gnu::always_inline]] inline const entry *flow(const entry *e, machine_locals &s)
{
    switch (e->next) {
    case NEXT_CALL:
        M.cmar_stack[s.sp++] = static_cast<uint16_t>(e - table + 1);
        return e->next_true;
    case NEXT_RETURN:
        return &table[M.cmar_stack[--s.sp]];
    case NEXT_TEST:
        return flag_set(s, e->test) ? e->next_true : e->next_false;
    case NEXT_DISPATCH:
        return &table[e->dispatch_base | ((s.ir >> e->dispatch_shift) & e->dispatch_mask)];
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
        s.flag[FLAG_ZER] = s.abus == 0;
        s.flag[FLAG_NEG] = sum;
        s.flag[FLAG_CRY] = sum;
        s.flag[FLAG_OVR] = (left ^ sum) & (right ^ sum);
    } else if constexpr (Alu == ALU_SUBTRACT) {
        const unsigned difference = left - right - carry;
        s.abus = static_cast<uint16_t>(difference);
        s.flag[FLAG_ZER] = s.abus == 0;
        s.flag[FLAG_NEG] = difference;
        s.flag[FLAG_CRY] = difference;   // a borrow sets bits 16 and up
        s.flag[FLAG_OVR] = (left ^ right) & (left ^ difference);
    } else if constexpr (Alu == ALU_AND) {
        s.abus = static_cast<uint16_t>(left & right);
        s.flag[FLAG_ZER] = s.abus == 0;
    } else if constexpr (Alu == ALU_OR) {
        s.abus = static_cast<uint16_t>(left | right);
        s.flag[FLAG_ZER] = s.abus == 0;
    } else if constexpr (Alu == ALU_XOR) {
        s.abus = static_cast<uint16_t>(left ^ right);
        s.flag[FLAG_ZER] = s.abus == 0;
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
        const unsigned shifted = a << 1 | in;
        s.sbus = static_cast<uint16_t>(shifted);
        s.flag[FLAG_CRY] = shifted;
        if constexpr (Shift == SHIFT_LEFT_ARITHMETIC) s.flag[FLAG_OVR] = a ^ a << 1;
    } else if constexpr (Shift == SHIFT_RIGHT) {
        s.sbus = static_cast<uint16_t>(a >> 1 | in << 15);
        s.flag[FLAG_CRY] = a << 16;
    } else if constexpr (Shift == SHIFT_RIGHT_ARITHMETIC) {
        s.sbus = static_cast<uint16_t>(a >> 1 | (a & 0x8000));
        s.flag[FLAG_CRY] = a << 16;
    } else if constexpr (Shift == SHIFT_SIGN_FILL) {
        s.sbus = static_cast<uint16_t>(a & 0x80 ? a | 0xFF00 : a);
        s.flag[FLAG_CRY] = a << 9;
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
    const uint16_t left = read_slot(s, reg, name[e->left]);
    s.lbus = left;
    if constexpr (Extra == EXTRA_COPY_IOBUS) reg[SLOT_IOBUS] = left;
    const uint16_t right = static_cast<uint16_t>(read_slot(s, reg, name[e->right]) | e->constant);
    s.rbus = right;
    if (s.mem_cycle == 2) M.MM[s.mar] = left;   // completes a write; a read ends
    s.mem_cycle = e->memory_start;
    if (s.mem_cycle != 0) s.mar = left;
    const unsigned alu_carry = Extra == EXTRA_CARRY_ONE ? 1u : Extra == EXTRA_CARRY_CRY ? flag_set(s, FLAG_CRY) : 0u;
    alu_step<Alu>(s, left, right, alu_carry, s.ir);
    if constexpr (Extra == EXTRA_LOAD_IR) {
        reg[SLOT_IR] = left;
        s.ir = left;
        map_ir_names(name, left);
    }
    const unsigned shift_in = Extra == EXTRA_CARRY_ONE ? 1u : Extra == EXTRA_CARRY_CRY ? flag_set(s, FLAG_CRY) : 0u;
    shift_step<Shift>(s, shift_in);
    write_slot(s, reg, name[e->dest], s.sbus);
    if constexpr (Extra == EXTRA_COUNT_DOWN) {
        s.c = (s.c - 1) & 0xFF;
        s.flag[FLAG_C] = s.c;
    } else if constexpr (Extra == EXTRA_SAVE_FLAGS) {
        reg[SLOT_FSR] = static_cast<uint16_t>(flag_set(s, FLAG_ZER) << 3 | flag_set(s, FLAG_NEG) << 2 |
                                              flag_set(s, FLAG_CRY) << 1 | flag_set(s, FLAG_OVR));
    } else if constexpr (Extra == EXTRA_LOAD_C) {
        s.c = right & 0xFFu;
        s.flag[FLAG_C] = s.c;
    } else if constexpr (Extra == EXTRA_SET_T) {
        s.flag[FLAG_T] = e->t_value;
    } else if constexpr (Extra == EXTRA_STEP_IR) {
        const unsigned ir = s.ir;
        s.ir = (ir & e->ir_keep) | ((ir + e->ir_add) & ~unsigned{e->ir_keep} & 0xFFFFu);
        reg[SLOT_IR] = static_cast<uint16_t>(s.ir);
        map_ir_names(name, s.ir);
    }
}

// Whether the cycle of `e` is plain work; prepares the memory word for LBF 12.
[[gnu::always_inline]] inline bool checks_pass(const entry *e, machine_locals &s, uint16_t *reg)
{
    const uint8_t checks = e->checks;
    if (checks & CHECK_READ) {
        if (s.mem_cycle != 1) return false;
        write_slot(s, reg, SLOT_MEMORY, M.MM[s.mar]);
        if (checks == CHECK_READ) return true;
    }
    if (checks & CHECK_ALU_CODE) {
        const unsigned code = (s.ir >> 4) & 7;
        if (code == ALF_FROM_IR || is_reserved_code(FIELD_ALF, static_cast<int>(code))) return false;
    }
    if (checks & CHECK_CALL) return s.sp < STACK_DEPTH;
    if (checks & CHECK_RETURN) return s.sp > 0 && M.cmar_stack[s.sp - 1] <= CM_LIMIT;
    return true;
}

// Every kind of work, as M(alu, shift, extra) in the order of work_of().
#define KALVO3_EXTRAS(M, A, S) M(A, S, 0) M(A, S, 1) M(A, S, 2) M(A, S, 3) M(A, S, 4) \
                               M(A, S, 5) M(A, S, 6) M(A, S, 7) M(A, S, 8) M(A, S, 9)
#define KALVO3_SHIFTS(M, A) KALVO3_EXTRAS(M, A, 0) KALVO3_EXTRAS(M, A, 1) KALVO3_EXTRAS(M, A, 2) \
                            KALVO3_EXTRAS(M, A, 3) KALVO3_EXTRAS(M, A, 4) KALVO3_EXTRAS(M, A, 5) \
                            KALVO3_EXTRAS(M, A, 6)
#define KALVO3_ALL_WORK(M) KALVO3_SHIFTS(M, 0) KALVO3_SHIFTS(M, 1) KALVO3_SHIFTS(M, 2) KALVO3_SHIFTS(M, 3) \
                           KALVO3_SHIFTS(M, 4) KALVO3_SHIFTS(M, 5) KALVO3_SHIFTS(M, 6)
static_assert(EXTRA_KINDS == 10 && SHIFT_KINDS == 7 && ALU_KINDS == 7, "the lists name every kind");

enum loop_kind { LOOP_PLAIN, LOOP_COUNTING, LOOP_WATCHING };

// A watching run saw the value change from `value` to `now` in step `step`,
// run from `word`.
[[gnu::cold]] inline void note_change(value_watch &watch, uint32_t &value, uint32_t now, uint64_t step, intptr_t word)
{
    value = now;
    watch.changed_in = step;
    watch.changed_by = static_cast<uint32_t>(word);
}

// The members of M held in 32 bits that a watching run can follow; the
// rest it follows are 16 bits.
const void *const WIDE_MEMBERS[] = {&M.PC,  &M.MAR, &M.C,   &M.cmar_sp, &M.mem_cycle, &M.io_cycle,
                                    &M.ZER, &M.NEG, &M.CRY, &M.OVR,     &M.T};

// The watched value as M holds it.
uint32_t watched_in_machine(const void *at)
{
    for (const void *wide : WIDE_MEMBERS)
        if (at == wide) {
            uint32_t value;
            memcpy(&value, at, sizeof value);
            return value;
        }
    return *static_cast<const uint16_t *>(at);
}

// Where the loop keeps a watched value while it runs: the value after a
// cycle is (*narrow & narrow_mask) | (*wide & wide_mask), the place not
// used pointing at a zero.
struct watch_places {
    const uint16_t *narrow;
    uint32_t narrow_mask;
    const uint32_t *wide;
    uint32_t wide_mask;
};
constexpr uint16_t ZERO16 = 0;
constexpr uint32_t ZERO32 = 0;

[[gnu::always_inline]] inline uint32_t watched_in_loop(const watch_places &w)
{
    return (*w.narrow & w.narrow_mask) | (*w.wide & w.wide_mask);
}

// The places of the value that M holds at `at`, in the locals `s` and the
// register file `reg`; false for one the loop cannot follow (CMAR, CZ, the
// fields).
bool find_watch_places(const void *at, const machine_locals &s, const uint16_t *reg, watch_places &w)
{
    w = {&ZERO16, 0, &ZERO32, 0};
    const auto narrow = [&w](const uint16_t *place) {
        w.narrow = place, w.narrow_mask = 0xFFFF;
        return true;
    };
    const auto wide = [&w](const void *place, uint32_t mask) {
        w.wide = static_cast<const uint32_t *>(place), w.wide_mask = mask;
        return true;
    };
    for (int i = 0; i < REGISTERS; i++)
        if (at == &M.R[i]) return narrow(&reg[i]);
    const auto *word = static_cast<const uint16_t *>(at);
    if ((word >= M.MM && word < M.MM + MM_WORDS) || (word >= M.cmar_stack && word < M.cmar_stack + STACK_DEPTH))
        return narrow(word);
    // clang-format off
    if (at == &M.PC)        return narrow(&reg[SLOT_PC]);
    if (at == &M.IR)        return narrow(&reg[SLOT_IR]);
    if (at == &M.IOBUS)     return narrow(&reg[SLOT_IOBUS]);
    if (at == &M.FSR)       return narrow(&reg[SLOT_FSR]);
    if (at == &M.LBUS)      return narrow(&s.lbus);
    if (at == &M.RBUS)      return narrow(&s.rbus);
    if (at == &M.ABUS)      return narrow(&s.abus);
    if (at == &M.SBUS)      return narrow(&s.sbus);
    if (at == &M.MAR)       return wide(&s.mar, ~0u);
    if (at == &M.C)         return wide(&s.flag[FLAG_C], ~0u);
    if (at == &M.cmar_sp)   return wide(&s.sp, ~0u);
    if (at == &M.mem_cycle) return wide(&s.mem_cycle, ~0u);
    if (at == &M.io_cycle)  return true;   // the loop runs only while no transfer is in flight
    if (at == &M.ZER)       return wide(&s.flag[FLAG_ZER], FLAG_BITS[FLAG_ZER]);
    if (at == &M.NEG)       return wide(&s.flag[FLAG_NEG], FLAG_BITS[FLAG_NEG]);
    if (at == &M.CRY)       return wide(&s.flag[FLAG_CRY], FLAG_BITS[FLAG_CRY]);
    if (at == &M.OVR)       return wide(&s.flag[FLAG_OVR], FLAG_BITS[FLAG_OVR]);
    if (at == &M.T)         return wide(&s.flag[FLAG_T], FLAG_BITS[FLAG_T]);
    // clang-format on
    return false;
}

// The loop, plain, counting the steps made from each address or watching
// a value.
template <int Kind>
uint64_t run_loop(uint64_t limit, uint64_t *counts, value_watch *watch)
{
    constexpr bool Counting = Kind == LOOP_COUNTING, Watching = Kind == LOOP_WATCHING;
#define KALVO3_PLACE(A, S, X) &&work_##A##_##S##_##X,
    static const void *const PLACES[HANDLERS] = {
        &&undecoded, &&generic, &&stop, &&beyond, &&step_test, &&step_dispatch, &&step_call,
        &&step_return, &&step_read, &&step_checked, KALVO3_ALL_WORK(KALVO3_PLACE)};
#undef KALVO3_PLACE

    if (limit == 0) return 0;
    prepare_entries(PLACES);
    const bool stop_at_marks = M.break_active != 0;

    machine_locals s{};
    uint16_t reg[SLOTS] = {};
    uint8_t name[NAMES];
    for (int i = 0; i < NAMES; i++) name[i] = static_cast<uint8_t>(i);
    // Watching: where the loop finds the value, and its value before the
    // cycle, as the loop holds it (a flag as its bit of the flag word); a
    // generic step compares the value as M holds it.
    watch_places watched{};
    uint32_t watched_value = 0;
    if constexpr (Watching) find_watch_places(watch->at, s, reg, watched);

    uint64_t left = limit;          // steps still allowed
    const entry *e = nullptr;       // the entry at CMAR
    const entry *next = nullptr;    // the entry after it, as far as its sequencing step has worked it out
    const entry *last = nullptr;    // the entry executed last, while the locals are newer than M

    if (M.stop_flag || !loop_may_run() || table[M.CMAR].handler == HANDLER_STOP) goto generic;
    e = &table[M.CMAR];
    load_locals(s, reg, name);
    if constexpr (Watching) watched_value = watched_in_loop(watched);
    next = e->next_true;
    goto *e->go;

    // Sequencing steps: the checks and the next entry, then the work.
step_test:
    next = e->next_true;
    if (!flag_set(s, e->test)) {
        next = e->next_false;
        asm("" : "+r"(next));   // a branch, not a select: the host predicts it
    }
    goto *e->work;
step_dispatch:
    next = &table[e->dispatch_base | ((s.ir >> e->dispatch_shift) & e->dispatch_mask)];
    goto *e->work;
step_call:
    if (s.sp >= STACK_DEPTH) goto generic;
    M.cmar_stack[s.sp++] = static_cast<uint16_t>(e - table + 1);
    goto *e->work;
step_return:
    if (s.sp == 0 || M.cmar_stack[s.sp - 1] > CM_LIMIT) goto generic;
    next = &table[M.cmar_stack[--s.sp]];
    goto *e->work;
step_read:
    if (s.mem_cycle != 1) goto generic;
    write_slot(s, reg, SLOT_MEMORY, M.MM[s.mar]);
    goto *e->work;
step_checked:
    if (!checks_pass(e, s, reg)) goto generic;
    next = flow(e, s);
    goto *e->work;

    // The work of every kind of cycle, each going on to the next entry.
    // clang-format off
#define KALVO3_WORK(A, S, X)                                                              \
    work_##A##_##S##_##X:                                                                 \
    cycle<A, S, X>(e, s, reg, name);                                                      \
    if constexpr (Counting) counts[e - table]++;                                          \
    if constexpr (Watching)                                                               \
        if (watched_in_loop(watched) != watched_value) [[unlikely]]                       \
            note_change(*watch, watched_value, watched_in_loop(watched),                  \
                        limit - left + 1, e - table);                                     \
    last = e;                                                                             \
    e = next;                                                                             \
    if (--left == 0) goto limit_reached;                                                  \
    next = e->next_true;                                                                  \
    goto *e->go;
    KALVO3_ALL_WORK(KALVO3_WORK)
#undef KALVO3_WORK
    // clang-format on

undecoded: {
    const uint32_t address = static_cast<uint32_t>(e - table);
    decode_entry(address, M.CM[address]);
    next = e->next_true;
    goto *e->go;
}
beyond:
    if (!stop_at_marks) goto generic;
    goto stop;
stop:   // reached only after a cycle of the loop
    store_locals(s, reg, e, last);
    return limit - left;
limit_reached:
    store_locals(s, reg, e, last);
    return limit;

generic:   // e is the entry at CMAR, or none when M is up to date
    if (last) {
        store_locals(s, reg, e, last);
        last = nullptr;
    }
    if constexpr (Counting) counts[M.CMAR <= CM_LIMIT ? M.CMAR : CM_WORDS]++;
    {
        const uint32_t word = M.CMAR, before = Watching ? watched_in_machine(watch->at) : 0;
        micro_cycle();
        --left;
        if constexpr (Watching) {
            const uint32_t now = watched_in_machine(watch->at);
            if (now != before) note_change(*watch, watched_value, now, limit - left, word);
        }
    }
    if (M.stop_flag || left == 0) return limit - left;
    if (stop_at_marks && (M.CMAR > CM_LIMIT || table[M.CMAR].handler == HANDLER_STOP)) return limit - left;
    if (!loop_may_run()) goto generic;
    e = &table[M.CMAR];
    load_locals(s, reg, name);
    if constexpr (Watching) watched_value = watched_in_loop(watched);
    next = e->next_true;
    goto *e->go;
}

}  // namespace

uint64_t fast_run(uint64_t limit, uint64_t *counts)
{
    return counts ? run_loop<LOOP_COUNTING>(limit, counts, nullptr) : run_loop<LOOP_PLAIN>(limit, nullptr, nullptr);
}

bool fast_loop_watches(const void *at)
{
    const machine_locals s{};
    const uint16_t reg[SLOTS] = {};
    watch_places places;
    return find_watch_places(at, s, reg, places);
}

uint64_t fast_run_watching(uint64_t limit, value_watch &watch)
{
    watch.changed_in = 0;
    return run_loop<LOOP_WATCHING>(limit, nullptr, &watch);
}
