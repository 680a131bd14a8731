// The readable names of the micro-instruction field codes, shared by the
// assembler and the disassembler.
#pragma once

#include <string_view>

#include "core/micro_word.hpp"

// Bits 63..40 of a CM word: ignored by the machine, kept by the load file.
constexpr micro_field FIELD_HI{"HI", 40, 24};

// The clause keyword of one field and the mnemonic of each code; nullptr marks
// a code without a mnemonic (reserved, or written in another form).
struct field_mnemonics {
    micro_field field;
    const char *keyword;
    const char *what;   // for messages: "left bus source", ...
    const char *names[16];
};

extern const field_mnemonics LEFT_BUS;          // L=   LBF
extern const field_mnemonics RIGHT_BUS;         // R=   RBF (10 and 11 are R=#, R=##)
extern const field_mnemonics ALU_FUNCTION;      // ALU= ALF
extern const field_mnemonics SHIFT_FUNCTION;    // SH=  SHF
extern const field_mnemonics DESTINATION;       // TO=  SBF
extern const field_mnemonics MEMORY_FUNCTION;   // MEM= MMF
extern const field_mnemonics EXTRA_FUNCTION;    // EX=  EXF

// The clause fields, in the order the disassembler writes them.
extern const field_mnemonics *const CLAUSE_FIELDS[7];

// Test conditions of SQF 3, 4 and 8, by TSF; nullptr for the reserved TSF 6.
extern const char *const TEST_CONDITIONS[8];

// Right-bus codes of the two constants.
constexpr int RBF_ADF_CONSTANT = 10;    // RBUS = ADF, 9 bits
constexpr int RBF_WORD_CONSTANT = 11;   // RBUS = TSF, EXF, ADF, 16 bits

// Sequence functions the assembler writes as words.
enum sequence_code {
    SQF_JUMP = 0,
    SQF_CALL = 1,
    SQF_RETURN = 2,
    SQF_JUMP_IF_TRUE = 3,
    SQF_JUMP_IF_FALSE = 4,
    SQF_DISPATCH_OP = 5,     // IR bits 15..12
    SQF_DISPATCH_RX = 6,     // IR bits 11..10
    SQF_DISPATCH_RXRY = 7,   // IR bits 11..8
    SQF_RESTART_IF_TRUE = 8,
    SQF_CONTINUE = 15,
};

constexpr int TSF_RESERVED = 6;

// True for a sequence function that tests the condition TSF selects.
constexpr bool sequence_tests(int sqf)
{
    return sqf == SQF_JUMP_IF_TRUE || sqf == SQF_JUMP_IF_FALSE || sqf == SQF_RESTART_IF_TRUE;
}

// Dispatch tables (SQF 5, 6, 7) are named by the address of their first entry
// (IR field 0). The TSF and ADF that select `table` for `sqf`; the table must
// have zeros in the address bits that the IR field fills in. SQF 5 uses no TSF
// and gives 0 for it.
void dispatch_fields(int sqf, uint32_t table, int &tsf, int &adf);

// The first entry of the table that TSF and ADF select for `sqf`.
uint32_t dispatch_table(int sqf, int tsf, int adf);

// The word in which every field holds its default: both buses 0, quiet OR,
// pass, no store, no memory function, continue, no extra function.
constexpr uint64_t DEFAULT_MICRO_WORD =
    with_field(with_field(with_field(with_field(with_field(with_field(with_field(with_field(
        0, FIELD_LBF, 15), FIELD_RBF, 15), FIELD_ALF, 7), FIELD_SHF, 7), FIELD_SBF, 15),
        FIELD_MMF, 2), FIELD_SQF, SQF_CONTINUE), FIELD_EXF, 15);

// The code whose mnemonic is `name` (any case), or -1.
int find_mnemonic(const field_mnemonics &table, std::string_view name);

// True for a code that the machine reports as undefined.
bool is_reserved_code(micro_field field, int code);
