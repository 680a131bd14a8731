// The readable names of the micro-instruction field codes, shared by the
// assembler and the disassembler.
#pragma once

#include <string_view>

#include "core/micro_word.hpp"

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

// Dispatch tables (SQF 5, 6, 7) are named by the address of their first entry
// (IR field 0). The TSF and ADF that select `table` for `sqf`; the table must
// have zeros in the address bits that the IR field fills in. SQF 5 uses no TSF
// and gives 0 for it.
void dispatch_fields(int sqf, uint32_t table, int &tsf, int &adf);

// The first entry of the table that TSF and ADF select for `sqf`.
uint32_t dispatch_table(int sqf, int tsf, int adf);

// The code whose mnemonic is `name` (any case), or -1.
int find_mnemonic(const field_mnemonics &table, std::string_view name);
