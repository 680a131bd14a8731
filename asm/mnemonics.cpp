#include "asm/mnemonics.hpp"

#include "asm/lexer.hpp"

// clang-format off
const field_mnemonics LEFT_BUS{FIELD_LBF, "L", "left bus source", {
    "R0", "R1", "R2", "R3", "R4", "R5", "R6", "R7",
    "RY",        //  8  register IR bits 9..8
    "RY+1",      //  9  register (IR bits 9..8 + 1) mod 4
    "PC",        // 10
    "IOBUS",     // 11
    "MEM",       // 12  main-memory word read
    "IR",        // 13
    "FSR",       // 14
    "0",         // 15
}};

const field_mnemonics RIGHT_BUS{FIELD_RBF, "R", "right bus source", {
    "R0", "R1", "R2", "R3", "R4", "R5", "R6", "R7",
    "RX",        //  8  register IR bits 11..10
    "RX+1",      //  9  register (IR bits 11..10 + 1) mod 4
    nullptr,     // 10  R=#expr: ADF
    nullptr,     // 11  R=##expr: TSF, EXF, ADF
    nullptr,     // 12  reserved
    nullptr,     // 13  reserved
    nullptr,     // 14  reserved
    "0",         // 15
}};

const field_mnemonics ALU_FUNCTION{FIELD_ALF, "ALU", "ALU function", {
    "ADD",       //  0  add, all four flags
    "SUB",       //  1  subtract, all four flags (CRY is the borrow)
    "AND",       //  2  sets ZER
    "OR",        //  3  sets ZER
    "XOR",       //  4  sets ZER
    "IROP",      //  5  the operation IR bits 6..4 give
    nullptr,     //  6  reserved
    "ORQ",       //  7  OR, flags untouched
}};

const field_mnemonics SHIFT_FUNCTION{FIELD_SHF, "SH", "shifter function", {
    "SLL",       //  0  left, logical
    "SRL",       //  1  right, logical
    "SLA",       //  2  left, arithmetic (sets OVR)
    "SRA",       //  3  right, arithmetic
    "SIGNFILL",  //  4  bit 7 set: high byte 0xFF
    "SWAP",      //  5  exchange the bytes
    nullptr,     //  6  reserved
    "PASS",      //  7
}};

const field_mnemonics DESTINATION{FIELD_SBF, "TO", "destination", {
    "R0", "R1", "R2", "R3", "R4", "R5", "R6", "R7",
    "RX",        //  8  register IR bits 11..10
    "RX+1",      //  9  register (IR bits 11..10 + 1) mod 4
    "RY",        // 10  register IR bits 9..8
    "RY+1",      // 11  register (IR bits 9..8 + 1) mod 4
    "PC",        // 12
    nullptr,     // 13  reserved
    nullptr,     // 14  reserved
    "NONE",      // 15  nothing stored
}};

const field_mnemonics MEMORY_FUNCTION{FIELD_MMF, "MEM", "memory function", {
    "READ",      //  0  start a read at LBUS
    "WRITE",     //  1  start a write at LBUS
    "NONE",      //  2
    "IDLE",      //  3  nothing either
}};

const field_mnemonics EXTRA_FUNCTION{FIELD_EXF, "EX", "extra function", {
    "DECC",      //  0  C = C - 1
    "SAVEF",     //  1  FSR = flags
    "CRYIN",     //  2  carry-in and shift-in bit CRY
    "ONEIN",     //  3  carry-in and shift-in bit 1
    "LOADIR",    //  4  IR = LBUS
    "TOIO",      //  5  IOBUS = LBUS
    "LOADC",     //  6  C = RBUS low byte
    "STARTIO",   //  7  start the transfer IR names
    "SETT",      //  8  T = 1
    "CLRT",      //  9  T = 0
    "INCRX",     // 10  IR bits 11..10 + 1
    "INCRY",     // 11  IR bits 9..8 + 1
    "DECRY",     // 12  IR bits 9..8 - 1
    "HALT",      // 13
    "HALTOV",    // 14  halt with the OV lamp
    "NONE",      // 15
}};

const char *const TEST_CONDITIONS[8] = {
    "ZER",       //  0
    "NEG",       //  1
    "CRY",       //  2
    "OVR",       //  3
    "T",         //  4
    "CZERO",     //  5  the counter C is 0
    nullptr,     //  6  reserved
    "TRUE",      //  7
};
// clang-format on

const field_mnemonics *const CLAUSE_FIELDS[7] = {&LEFT_BUS, &RIGHT_BUS, &ALU_FUNCTION, &SHIFT_FUNCTION,
                                                 &DESTINATION, &MEMORY_FUNCTION, &EXTRA_FUNCTION};

int find_mnemonic(const field_mnemonics &table, std::string_view name)
{
    for (int code = 0; code < 16; code++)
        if (table.names[code] && same_keyword(table.names[code], name)) return code;
    return -1;
}

// The sequencer's address of IR field 0, with v = TSF bit 0 followed by ADF:
//   SQF 5: address bits 11..4 = ADF bits 7..0
//   SQF 6: address bits 11..4 = v bits 9..2, bits 1..0 = ADF bits 1..0
//   SQF 7: address bits 11..6 = v bits 9..4, bits 1..0 = ADF bits 1..0
void dispatch_fields(int sqf, uint32_t table, int &tsf, int &adf)
{
    uint32_t v;
    switch (sqf) {
    case SQF_DISPATCH_OP: v = table >> 4; break;
    case SQF_DISPATCH_RX: v = (table >> 4) << 2 | (table & 3); break;
    default:              v = (table >> 6) << 4 | (table & 3); break;
    }
    tsf = static_cast<int>(v >> 9);
    adf = static_cast<int>(v & 0x1FF);
}

uint32_t dispatch_table(int sqf, int tsf, int adf)
{
    uint32_t v = static_cast<uint32_t>((tsf & 1) << 9 | adf);
    switch (sqf) {
    case SQF_DISPATCH_OP: return static_cast<uint32_t>(adf & 0xFF) << 4;
    case SQF_DISPATCH_RX: return (v >> 2) << 4 | (adf & 3);
    default:              return (v >> 4) << 6 | (adf & 3);
    }
}
