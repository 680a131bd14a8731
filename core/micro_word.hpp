// The 40-bit micro-instruction word: where each field sits, the codes that
// have names, the reserved codes, and the sizes of the two memories. One
// description of the machine for the core, the assembler and the tests.
//
//  39   36 35   32 31 29 28 26 25   22 21 20 19   16 15 13 12    9 8         0
// +-------+-------+-----+-----+-------+-----+-------+-----+-------+-----------+
// |  LBF  |  RBF  | ALF | SHF |  SBF  | MMF |  SQF  | TSF |  EXF  |    ADF    |
// +-------+-------+-----+-----+-------+-----+-------+-----+-------+-----------+
//
// Bits 63..40 of a CM word are ignored by the decode. The low 16 bits (TSF,
// EXF, ADF) form the constant that RBF 11 puts on the right bus.
#pragma once

#include <cstdint>

// The memories.
constexpr int CM_WORDS = 1 << 12;        // control memory, addresses 0x000..0xFFF
constexpr int MM_WORDS = 1 << 16;        // main memory, addresses 0x0000..0xFFFF
constexpr uint32_t CM_LIMIT = CM_WORDS - 1;
constexpr uint32_t MM_LIMIT = MM_WORDS - 1;

struct micro_field {
    const char *name;
    int low_bit;
    int width;
};

constexpr micro_field FIELD_LBF{"LBF", 36, 4};
constexpr micro_field FIELD_RBF{"RBF", 32, 4};
constexpr micro_field FIELD_ALF{"ALF", 29, 3};
constexpr micro_field FIELD_SHF{"SHF", 26, 3};
constexpr micro_field FIELD_SBF{"SBF", 22, 4};
constexpr micro_field FIELD_MMF{"MMF", 20, 2};
constexpr micro_field FIELD_SQF{"SQF", 16, 4};
constexpr micro_field FIELD_TSF{"TSF", 13, 3};
constexpr micro_field FIELD_EXF{"EXF", 9, 4};
constexpr micro_field FIELD_ADF{"ADF", 0, 9};

// The ten fields, most significant first.
constexpr micro_field MICRO_FIELDS[] = {FIELD_LBF, FIELD_RBF, FIELD_ALF, FIELD_SHF, FIELD_SBF,
                                        FIELD_MMF, FIELD_SQF, FIELD_TSF, FIELD_EXF, FIELD_ADF};

// Bits 63..40 of a CM word: ignored by the machine, kept by load and change.
constexpr micro_field FIELD_HI{"HI", 40, 24};

constexpr uint64_t MICRO_WORD_MASK = (uint64_t{1} << 40) - 1;

constexpr int field_of(uint64_t word, micro_field field)
{
    return static_cast<int>((word >> field.low_bit) & ((uint64_t{1} << field.width) - 1));
}

constexpr uint64_t with_field(uint64_t word, micro_field field, uint64_t value)
{
    uint64_t mask = ((uint64_t{1} << field.width) - 1) << field.low_bit;
    return (word & ~mask) | ((value << field.low_bit) & mask);
}

// One micro-instruction: the word as fetched and its ten fields as decoded.
struct micro_instruction {
    uint64_t MIR;   // the whole CM word, bits above 39 included
    int LBF, RBF, ALF, SHF, SBF, MMF, SQF, TSF, EXF, ADF;
};

constexpr micro_instruction decode(uint64_t word)
{
    return {word,
            field_of(word, FIELD_LBF), field_of(word, FIELD_RBF), field_of(word, FIELD_ALF),
            field_of(word, FIELD_SHF), field_of(word, FIELD_SBF), field_of(word, FIELD_MMF),
            field_of(word, FIELD_SQF), field_of(word, FIELD_TSF), field_of(word, FIELD_EXF),
            field_of(word, FIELD_ADF)};
}

// clang-format off
// Right-bus codes of the two constants.
constexpr int RBF_ADF_CONSTANT = 10;    // RBUS = ADF, 9 bits
constexpr int RBF_WORD_CONSTANT = 11;   // RBUS = TSF, EXF, ADF, 16 bits

// Codes whose effect depends on more than the word.
constexpr int LBF_MEMORY_DATA = 12;     // LBUS = the word a read started the cycle before delivers
constexpr int ALF_FROM_IR = 5;          // the ALU function in IR bits 6..4
constexpr int MMF_READ = 0;             // MAR = LBUS, a read starts
constexpr int MMF_WRITE = 1;            // MAR = LBUS, a write of the next cycle's LBUS starts

// Extra functions that the fast loop decodes by name.
constexpr int EXF_SET_T = 8;            // EXF 9 resets T
constexpr int EXF_UP_IR_11_10 = 10;     // IR bits 11..10 count up, modulo 4
constexpr int EXF_UP_IR_9_8 = 11;
constexpr int EXF_DOWN_IR_9_8 = 12;
// clang-format on

// Sequence functions (SQF 9..14 are reserved).
enum sequence_code : int {
    SQF_JUMP = 0,            // TSF as address bits 11..9, ADF as 8..0
    SQF_CALL = 1,            // the same, pushing CMAR + 1
    SQF_RETURN = 2,
    SQF_JUMP_IF_TRUE = 3,    // within the page, on the test TSF selects
    SQF_JUMP_IF_FALSE = 4,
    SQF_DISPATCH_OP = 5,     // IR bits 15..12
    SQF_DISPATCH_RX = 6,     // IR bits 11..10
    SQF_DISPATCH_RXRY = 7,   // IR bits 11..8
    SQF_RESTART_IF_TRUE = 8,
    SQF_CONTINUE = 15,
};

// Test select codes: the condition a testing sequence function tests.
// TSF_RESERVED is no test: a sequence function that tests it reports an
// undefined micro-instruction.
enum test_code : int {
    TSF_ZER = 0,
    TSF_NEG = 1,
    TSF_CRY = 2,
    TSF_OVR = 3,
    TSF_T = 4,
    TSF_COUNTER_ZERO = 5,   // C itself at zero, not the CZ flag
    TSF_RESERVED = 6,
    TSF_ALWAYS = 7,
};

// True for a sequence function that tests the condition TSF selects.
constexpr bool sequence_tests(int sqf)
{
    return sqf == SQF_JUMP_IF_TRUE || sqf == SQF_JUMP_IF_FALSE || sqf == SQF_RESTART_IF_TRUE;
}

// True for a code that the machine reports as undefined (ERROR 1) whatever
// the other fields hold. TSF 6 counts only where a test is made
// (sequence_tests, TSF_RESERVED).
constexpr bool is_reserved_code(micro_field field, int code)
{
    switch (field.low_bit) {
    case FIELD_RBF.low_bit: return code >= 12 && code <= 14;
    case FIELD_ALF.low_bit: return code == 6;
    case FIELD_SHF.low_bit: return code == 6;
    case FIELD_SBF.low_bit: return code == 13 || code == 14;
    case FIELD_SQF.low_bit: return code >= 9 && code <= 14;
    default: return false;
    }
}

// The word in which every field holds its default: both buses 0, quiet OR,
// pass, no store, no memory function, continue, no extra function.
constexpr uint64_t DEFAULT_MICRO_WORD =
    with_field(with_field(with_field(with_field(with_field(with_field(with_field(with_field(
        0, FIELD_LBF, 15), FIELD_RBF, 15), FIELD_ALF, 7), FIELD_SHF, 7), FIELD_SBF, 15),
        FIELD_MMF, 2), FIELD_SQF, SQF_CONTINUE), FIELD_EXF, 15);
