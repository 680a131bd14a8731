// The timing check on short microprograms: each rule once firing and once
// silent, and which pairs of words count as straight-line code.
#include <gtest/gtest.h>

#include <cstdlib>

#include "asm/assembler.hpp"
#include "asm/timing_check.hpp"

namespace {

struct timing_case {
    const char *source;
    const char *reason;   // nullptr: no warning; else a piece of the one warning
    int line;             // of the warning
    const char *first;    // how it names the other word
};

const timing_case CASES[] = {
    // L=MEM needs MEM=READ right before it.
    {"NOP\nL=MEM TO=R2", "L=MEM without MEM=READ", 2, "line 1"},
    {"L=R1 MEM=READ\nL=MEM TO=R2", nullptr, 0, ""},
    // A write's data is the next left bus.
    {"L=R1 MEM=WRITE\nL=MEM", "L=MEM in the data cycle of the MEM=WRITE", 2, "line 1"},
    {"L=R1 MEM=WRITE\nTO=R2", "the word written is 0", 2, "line 1"},
    {"L=R1 MEM=WRITE\nL=0", nullptr, 0, ""},
    {"L=R1 MEM=WRITE\nL=R2", nullptr, 0, ""},
    // An I/O start right after another loses the byte read unless it takes it.
    {"EX=STARTIO\nEX=STARTIO", "EX=STARTIO right after the EX=STARTIO", 2, "line 1"},
    {"EX=STARTIO\nL=IOBUS TO=R1 EX=STARTIO", nullptr, 0, ""},
    // IOBUS read in the cycle that starts the input.
    {"EX=LOADIR\nL=IOBUS TO=R1 EX=STARTIO", "L=IOBUS in the micro-instruction that starts a transfer", 2, "line 1"},
    {"L=R3 EX=TOIO\nL=IOBUS TO=R1 EX=STARTIO", nullptr, 0, ""},
    // A memory function while a transfer is in flight.
    {"L=R1 MEM=READ\nL=R2 MEM=READ", "MEM=READ while the word of the MEM=READ", 2, "line 1"},
    {"L=R1 MEM=READ\nL=MEM MEM=READ", nullptr, 0, ""},
    {"L=R1 MEM=WRITE\nL=R2 MEM=WRITE", "MEM=WRITE in the data cycle of the MEM=WRITE", 2, "line 1"},
    {"L=R1 MEM=WRITE\nL=R2\nL=R3 MEM=WRITE", nullptr, 0, ""},
    // Straight-line code: unconditional jumps and calls, and tests that
    // cannot fail, lead on for certain; other tests do not.
    {"TO=R1 JUMP far\n.ORG 0x100\nfar: L=MEM", "L=MEM without", 3, "line 1"},
    {"TO=R1 CALL far\n.ORG 0x100\nfar: L=MEM", "L=MEM without", 3, "line 1"},
    {"TO=R1 IF TRUE JUMP far\n.ORG 0x100\nfar: L=MEM", "L=MEM without", 3, "line 1"},
    {"TO=R1 IF NOT TRUE JUMP far\nL=MEM\nfar: NOP", "L=MEM without", 2, "line 1"},
    {"L=MEM\nTO=R1 IF TRUE RESTART", "L=MEM without", 1, "line 2"},
    {"TO=R1 IF ZER JUMP far\nL=MEM\nfar: NOP", nullptr, 0, ""},
    {"TO=R1 JUMP far\nL=MEM\nfar: NOP", nullptr, 0, ""},
    {"TO=R1 RETURN\nL=MEM", nullptr, 0, ""},
};

TEST(Timing, EachRuleFiresOnlyWhereTheMachineGoesWrong)
{
    for (const timing_case &c : CASES) {
        diagnostics diag;
        assembler a(source_kind::micro, diag);
        a.assemble_text("t.masm", c.source);
        ASSERT_FALSE(diag.has_errors()) << c.source;
        std::vector<timing_warning> found = check_timing(a.words(), a.placed(), a.fields_set());
        if (!c.reason) {
            EXPECT_TRUE(found.empty()) << c.source << ": " << (found.empty() ? "" : found[0].reason);
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << c.source;
        EXPECT_EQ(found[0].where.file, "t.masm") << c.source;
        EXPECT_EQ(found[0].where.line, c.line) << c.source;
        EXPECT_NE(found[0].reason.find(c.reason), std::string::npos) << c.source << ": " << found[0].reason;
        EXPECT_NE(found[0].reason.find(c.first), std::string::npos) << c.source << ": " << found[0].reason;
    }
}

// A pair split over two files names the other file.
TEST(Timing, APairAcrossAnIncludeNamesTheOtherFile)
{
    std::string data = std::getenv("KALVO3_ASM_TEST_DATA");
    diagnostics diag;
    assembler a(source_kind::micro, diag);
    a.assemble_text(data + "/t.masm", "TO=R1\n.INCLUDE \"takes_the_word.inc\"\n");
    ASSERT_FALSE(diag.has_errors()) << diag.messages()[0];
    std::vector<timing_warning> found = check_timing(a.words(), a.placed(), a.fields_set());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].where.file, data + "/takes_the_word.inc");
    EXPECT_EQ(found[0].where.line, 2);
    EXPECT_NE(found[0].reason.find("(" + data + "/t.masm:1)"), std::string::npos) << found[0].reason;
}

// Words read from a load file have no source: they are named by address, and
// a left bus 0 after a write is taken to be meant.
TEST(Timing, WordsWithoutSourceAreNamedByAddress)
{
    diagnostics diag;
    assembler a(source_kind::micro, diag);
    a.assemble_text("t.masm", "L=R1 MEM=WRITE\nTO=R2\nL=MEM");
    std::vector<timing_warning> found = check_timing(a.words(), {}, {});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].first, 1u);
    EXPECT_EQ(found[0].second, 2u);
    EXPECT_TRUE(found[0].where.file.empty());
    EXPECT_NE(found[0].reason.find("address 0x001"), std::string::npos) << found[0].reason;
}

}  // namespace
