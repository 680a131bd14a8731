// What the machine cannot do, and what the source gets wrong: every error
// names the file, line and column with its reason.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/micro_word.hpp"
#include "tests/asm/asm_helpers.hpp"

namespace {

struct error_case {
    const char *source;
    int line, column;
    const char *reason;   // a part of the reason
};

void expect_one_error(const error_case &c, source_kind kind, const char *file)
{
    assembly a = assemble_source(c.source, kind, file);
    SCOPED_TRACE(c.source);
    EXPECT_FALSE(a.ok);
    ASSERT_EQ(a.messages.size(), 1u) << a.messages[0];
    std::string where = std::string(file) + ":" + std::to_string(c.line) + ":" + std::to_string(c.column) + ": error: ";
    EXPECT_EQ(a.messages[0].substr(0, where.size()), where) << a.messages[0];
    EXPECT_NE(a.messages[0].find(c.reason), std::string::npos) << a.messages[0];
}

}  // namespace

TEST(Errors, WhatTheSequencerCannotReach)
{
    const error_case cases[] = {
        {".ORG 0x1FE\nIF ZER JUMP 0x200", 2, 13, "target 0x200 is outside page 0x000-0x1FF"},
        {".ORG 0x200\nIF CRY RESTART ELSE 0x1FF", 2, 21, "outside page 0x200-0x3FF"},
        {".ORG 0xE00\nIF NOT T JUMP far\n.ORG 0xC00\nfar: NOP", 2, 15, "outside page 0xE00-0xFFF"},
        {"DISPATCH OP 0x128", 1, 13, "DISPATCH OP cannot reach table 0x128: its address bits 3..0 must be 0"},
        {"DISPATCH RX t\n.ORG 0x104\nt: NOP", 1, 13, "address bits 3..2 must be 0"},
        {"DISPATCH RXRY 0x050", 1, 15, "address bits 5..2 must be 0"},
        {"DISPATCH OP 0x1000", 1, 13, "outside control memory"},
        {"JUMP 0x1000", 1, 6, "outside control memory"},
        {"CALL -1", 1, 6, "outside control memory"},
        {"IF OVR JUMP -1", 1, 13, "target -0x001 is outside page 0x000-0x1FF"},
    };
    for (const error_case &c : cases) expect_one_error(c, source_kind::micro, "seq.masm");
}

TEST(Errors, ConstantsAndFieldsThatDoNotFit)
{
    const error_case cases[] = {
        {"R=#512", 1, 4, "does not fit the 9-bit ADF field"},
        {"R=#-1", 1, 4, "does not fit the 9-bit ADF field"},
        {"R=##65536", 1, 5, "does not fit 16 bits"},
        {"R=##-32769", 1, 5, "does not fit 16 bits"},
        {"LBF=16", 1, 5, "does not fit LBF (0..15)"},
        {"HI=0x1000000", 1, 4, "does not fit HI"},
        // The 16-bit constant is TSF, EXF and ADF: no test, extra function or target beside it.
        {"R=##1 IF ZER JUMP 0", 1, 7, "TSF is already set by the clause at column 1"},
        {"EX=HALT R=##1", 1, 9, "EXF is already set by the clause at column 1"},
        {"R=##1 ADF=3", 1, 7, "ADF is already set by the clause at column 1"},
        {"R=#5 JUMP 0x10", 1, 6, "ADF is already set"},
        {"L=PC L=IR", 1, 6, "LBF is already set"},
        {"RETURN JUMP 0", 1, 8, "SQF is already set"},
    };
    for (const error_case &c : cases) expect_one_error(c, source_kind::micro, "t.masm");
}

TEST(Errors, AddressesAndNames)
{
    const error_case cases[] = {
        {"NOP\n.ORG 0\n  NOP", 3, 3, "address 0x000 already holds the word of t.masm:1"},
        {".ORG 0xFFF\nNOP\nNOP", 3, 1, "address 0x1000 is beyond the memory"},
        {".ORG 0x1000", 1, 6, "outside the memory"},
        {"JUMP nowhere", 1, 6, "unknown name 'nowhere'"},
        {"a: NOP\n a: NOP", 2, 2, "'a' is already defined at t.masm:1"},
        {"a: NOP\n.EQU a 5", 2, 6, "'a' is already defined"},
        {".ORG later\nlater: NOP", 1, 6, "only names defined on earlier lines"},
        {"JUMP (1", 1, 8, "')' expected"},
        {"JUMP 1 +", 1, 9, "a value is missing"},
    };
    for (const error_case &c : cases) expect_one_error(c, source_kind::micro, "t.masm");
}

TEST(Errors, MalformedClausesAndLines)
{
    const error_case cases[] = {
        {"L=R8", 1, 3, "unknown left bus source 'R8'"},
        {"L=PC ALU=", 1, 10, "ALU= is missing its ALU function"},
        {"TO=RX+2", 1, 4, "unknown destination 'RX+2'"},
        {"Q=1", 1, 1, "unknown field 'Q'"},
        {"GOTO x", 1, 1, "unknown clause 'GOTO'"},
        {"IF ZERO JUMP 0", 1, 4, "unknown condition 'ZERO'"},
        {"IF ZER GOTO 0", 1, 8, "JUMP or RESTART expected"},
        {"IF NOT ZER RESTART", 1, 12, "RESTART has no IF NOT form"},
        {"DISPATCH IR 0", 1, 10, "OP, RX or RXRY expected"},
        {"NOP EX=HALT", 1, 1, "NOP stands alone"},
        {"R=#12ab", 1, 4, "malformed number '12a'"},
        {"R=#0x", 1, 4, "no digits"},
        {"R=#99999999999999999999", 1, 4, "too large"},
        {"R=#'ab'", 1, 4, "exactly one character"},
        {"R=#'\\q'", 1, 5, "unknown escape"},
        {"L=PC @", 1, 6, "unexpected character '@'"},
        {".INCLUDE \"x", 1, 10, "string is not closed"},
        {".INCLUDE \"missing.masm\"", 1, 10, "cannot open 'missing.masm'"},
        {".EQU 5 5", 1, 6, "a name is expected after .EQU"},
        {".ORG 1 2", 1, 8, "unexpected '2' after .ORG"},
        {".FOO", 1, 1, "unknown directive '.FOO'"},
        {".WORD 1", 1, 1, ".WORD belongs in data sources"},
    };
    for (const error_case &c : cases) expect_one_error(c, source_kind::micro, "t.masm");
}

TEST(Errors, DataSources)
{
    const error_case cases[] = {
        {".WORD 65536", 1, 7, "value 65536 does not fit 16 bits"},
        {".WORD 1, -32769", 1, 10, "does not fit 16 bits"},
        {"NOP", 1, 1, "a data source holds .WORD lines"},
        {".WORD 1,,2", 1, 9, "a value is missing"},
        {".WORD 1 2", 1, 9, "',' or the end of the line expected"},
        {".WORD \"ab\"\n.ORG 1\n.WORD 'c'", 3, 7, "address 0x001 already holds the word of t.mdat:1"},
        {".WORD \"ab\" + 1", 1, 7, "a string is not a number"},
        {".ORG 0xFFFF\n.WORD 1, 2", 2, 10, "address 0x10000 is beyond the memory"},
    };
    for (const error_case &c : cases) expect_one_error(c, source_kind::data, "t.mdat");
}

TEST(Errors, EveryErrorOfTheFileIsReported)
{
    assembly a = assemble_source("L=R9\nNOP\nJUMP x\nR=#600\n");
    ASSERT_EQ(a.messages.size(), 3u);
    EXPECT_EQ(a.messages[0].substr(0, 14), "t.masm:1:3: er");
    EXPECT_EQ(a.messages[1].substr(0, 14), "t.masm:3:6: er");
    EXPECT_EQ(a.messages[2].substr(0, 14), "t.masm:4:4: er");
}

TEST(Errors, IncludedFilesNameThemselvesInMessages)
{
    std::string data = std::getenv("KALVO3_ASM_TEST_DATA");
    diagnostics diag;
    assembler a(source_kind::micro, diag);
    a.assemble_file(data + "/includes_itself.masm");
    ASSERT_FALSE(diag.messages().empty());
    EXPECT_NE(diag.messages().back().find("includes_itself.masm:2:1: error: includes nested too deeply"), std::string::npos)
        << diag.messages().back();

    diagnostics diag2;
    assembler b(source_kind::micro, diag2);
    b.assemble_file(data + "/includes_a_fault.masm");
    ASSERT_EQ(diag2.messages().size(), 1u);
    EXPECT_NE(diag2.messages()[0].find("/bad_target.inc:4:6: error: unknown name 'nowhere'"), std::string::npos)
        << diag2.messages()[0];
}

TEST(Warnings, ReservedCodesAreWrittenWithAWarning)
{
    assembly a = assemble_source("RBF=13 SBF=14 ALF=6\n  SHF=6 SQF=12\nSQF=3 TSF=6 ADF=2\nSQF=0 TSF=6");
    EXPECT_TRUE(a.ok);
    ASSERT_EQ(a.messages.size(), 6u);
    EXPECT_EQ(a.messages[0], "t.masm:1:1: warning: RBF 13 is a reserved code: the machine reports an undefined micro-instruction");
    EXPECT_EQ(a.messages[1].substr(0, 24), "t.masm:1:8: warning: SBF");
    EXPECT_EQ(a.messages[2].substr(0, 25), "t.masm:1:15: warning: ALF");
    EXPECT_EQ(a.messages[3].substr(0, 24), "t.masm:2:3: warning: SHF");
    EXPECT_EQ(a.messages[4].substr(0, 27), "t.masm:2:9: warning: SQF 12");
    EXPECT_EQ(a.messages[5].substr(0, 30), "t.masm:3:7: warning: TSF 6 is ");   // a test; on line 4 it is address bits
    EXPECT_EQ(field_of(a.words.at(0), FIELD_RBF), 13);
    EXPECT_EQ(field_of(a.words.at(1), FIELD_SQF), 12);
    EXPECT_EQ(field_of(a.words.at(2), FIELD_TSF), 6);
}
