// Micro-instruction encoding: words computed by hand from the field layout,
// and assembled sequence clauses run through the machine's own sequencer.
#include <gtest/gtest.h>

#include "asm/mnemonics.hpp"
#include "core/machine_state.hpp"
#include "core/micro_cycle.hpp"
#include "tests/asm/asm_helpers.hpp"

TEST(Encoding, ThreeCycleInstructionFetchAndDefaults)
{
    // LBF A, RBF F | ALF 000 SHF 111 SBF 1100 MMF 00 | SQF F | TSF 000 EXF 0011 ADF 0
    EXPECT_EQ(word_of("L=PC ALU=ADD TO=PC MEM=READ EX=ONEIN"), 0xAF1F0F0600u);
    // LBF C, RBF F | ALF 111 SHF 111 SBF 1111 MMF 10 | SQF F | TSF 000 EXF 0100 ADF 0
    EXPECT_EQ(word_of("L=MEM EX=LOADIR"), 0xCFFFEF0800u);
    // SQF 5, ADF = table / 16
    assembly a = assemble_source("DISPATCH OP table\n.ORG 0x120\ntable: NOP\n");
    EXPECT_TRUE(a.ok);
    EXPECT_EQ(a.words.at(0), 0xFFFFE51E12u);
    // Every field at its do-nothing code; EXF 15, not 0 (which counts C down).
    EXPECT_EQ(word_of("NOP"), 0xFFFFEF1E00u);
    EXPECT_EQ(word_of("CONTINUE"), 0xFFFFEF1E00u);
    EXPECT_EQ(DEFAULT_MICRO_WORD, 0xFFFFEF1E00u);
}

TEST(Encoding, EachFieldLandsInItsBits)
{
    // LBF 9 RBF 8 | ALF 001 SHF 011 SBF 1011 MMF 01 | SQF F | TSF 000 EXF 1100 ADF 0
    EXPECT_EQ(word_of("L=RY+1 R=RX ALU=SUB SH=SRA TO=RY+1 MEM=WRITE EX=DECRY"), 0x982EDF1800u);
    // LBF E RBF 7 | ALF 100 SHF 100 SBF 0000 MMF 11 | SQF F | TSF 000 EXF 0000 ADF 0
    EXPECT_EQ(word_of("L=FSR R=R7 ALU=XOR SH=SIGNFILL TO=R0 MEM=IDLE EX=DECC"), 0xE7903F0000u);
    // Keywords in any case, blanks around '=' and clauses in any order.
    EXPECT_EQ(word_of("ex = decc mem=idle to=r0 sh=signfill alu=xor r=R7 l=fsr"), 0xE7903F0000u);
}

TEST(Encoding, EveryMnemonicGivesItsCodeAndTouchesNoOtherField)
{
    for (const field_mnemonics *table : CLAUSE_FIELDS)
        for (int code = 0; code < 16; code++)
            if (table->names[code]) {
                std::string line = std::string(table->keyword) + "=" + table->names[code];
                EXPECT_EQ(word_of(line), with_field(DEFAULT_MICRO_WORD, table->field, code)) << line;
            }
}

TEST(Encoding, ConstantsOnTheRightBus)
{
    // RBF 11: TSF 5, EXF 2, ADF 0x1C3 read together as 0xA5C3.
    uint64_t w = word_of("R=##0xA5C3");
    EXPECT_EQ(field_of(w, FIELD_RBF), 11);
    EXPECT_EQ(field_of(w, FIELD_TSF), 5);
    EXPECT_EQ(field_of(w, FIELD_EXF), 2);
    EXPECT_EQ(field_of(w, FIELD_ADF), 0x1C3);
    EXPECT_EQ(word_of("R=##-1") & 0xFFFF, 0xFFFFu);
    EXPECT_EQ(word_of("R=##-32768") & 0xFFFF, 0x8000u);
    // RBF 10: the 9-bit ADF, the rest of the word at its defaults.
    EXPECT_EQ(word_of("R=#511"), with_field(with_field(DEFAULT_MICRO_WORD, FIELD_RBF, 10), FIELD_ADF, 0x1FF));
    EXPECT_EQ(field_of(word_of("R=#'a'-'A'"), FIELD_ADF), 0x20);
}

TEST(Encoding, NumericEscapesAndHighBits)
{
    // LBF 0 RBF 1 | ALF 010 SHF 011 SBF 0100 MMF 01 | SQF F | TSF 110 EXF 0111 ADF 1 1010 1011
    EXPECT_EQ(word_of("LBF=0 RBF=1 ALF=2 SHF=3 SBF=4 MMF=1 SQF=15 TSF=6 EXF=7 ADF=0x1AB"), 0x014D1FCFABu);
    EXPECT_EQ(word_of("HI=0xFFFFFF"), 0xFFFFFF0000000000u | DEFAULT_MICRO_WORD);
}

TEST(Encoding, NamesExpressionsAndOrigin)
{
    assembly a = assemble_source(
        "        .EQU BASE 0x100\n"
        "        .EQU NEXT BASE+(2-1)\n"
        "        .ORG NEXT\n"
        "first:  JUMP last-1        ; a forward label\n"
        "Last:   NOP                ; names are case-sensitive\n"
        "last:   R=#first-BASE\n");
    ASSERT_TRUE(a.ok) << a.messages[0];
    EXPECT_EQ(field_of(a.words.at(0x101), FIELD_ADF), 0x102);
    EXPECT_EQ(field_of(a.words.at(0x103), FIELD_ADF), 1);
    EXPECT_EQ(a.words.size(), 3u);
}

// Runs the word at `address` through one micro-cycle and gives the next CMAR.
static uint32_t next_address(const assembly &a, uint32_t address, uint16_t ir = 0)
{
    for (auto [at, word] : a.words) M.CM[at] = word;
    M.CMAR = address;
    M.IR = ir;
    M.ZER = 1;
    M.CRY = 0;
    M.cmar_sp = 0;
    micro_cycle();
    return M.CMAR;
}

TEST(Encoding, SequencerReachesTheTargetsTheSourceNames)
{
    assembly a = assemble_source(
        "        .ORG 0x5F0\n"
        "        IF ZER JUMP there\n"
        "        IF NOT ZER JUMP there\n"
        "        IF TRUE RESTART ELSE there\n"
        "        IF NOT CRY JUMP 0x400\n"
        "there:  JUMP 0xA34\n"
        "        CALL there\n");
    ASSERT_TRUE(a.ok) << a.messages[0];
    EXPECT_EQ(next_address(a, 0x5F0), 0x5F4u);
    EXPECT_EQ(next_address(a, 0x5F1), 0x5F2u);
    EXPECT_EQ(next_address(a, 0x5F2), 0x000u);
    EXPECT_EQ(next_address(a, 0x5F3), 0x400u);
    EXPECT_EQ(next_address(a, 0x5F4), 0xA34u);
    EXPECT_EQ(next_address(a, 0x5F5), 0x5F4u);
    EXPECT_EQ(M.cmar_stack[0], 0x5F6u);
}

TEST(Encoding, DispatchReachesEveryEntryOfTheNamedTable)
{
    assembly a = assemble_source(
        "        DISPATCH OP   0xF30\n"
        "        DISPATCH RX   0xA91    ; TSF 1 ADF 0x0A5\n"
        "        DISPATCH RXRY 0xA82\n"
        "        DISPATCH RX   0x003\n");
    ASSERT_TRUE(a.ok) << a.messages[0];
    EXPECT_EQ(field_of(a.words.at(1), FIELD_TSF), 1);
    EXPECT_EQ(field_of(a.words.at(1), FIELD_ADF), 0x0A5);
    for (uint16_t n = 0; n < 16; n++) {
        EXPECT_EQ(next_address(a, 0, static_cast<uint16_t>(n << 12 | 0x0FFF)), 0xF30u + n);
        EXPECT_EQ(next_address(a, 2, static_cast<uint16_t>(n << 8 | 0xF0FF)), 0xA82u + 4 * n);
    }
    for (uint16_t n = 0; n < 4; n++) {
        EXPECT_EQ(next_address(a, 1, static_cast<uint16_t>(n << 10 | 0xF3FF)), 0xA91u + 4 * n);
        EXPECT_EQ(next_address(a, 3, static_cast<uint16_t>(n << 10)), 0x003u + 4 * n);
    }
}
