// The timing check on short microprograms: each rule once firing and once
// silent, and which pairs of words count as straight-line code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "asm/assembler.hpp"
#include "asm/disassembler.hpp"
#include "asm/timing_check.hpp"
#include "asm_helpers.hpp"

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
    // An input start right after an input start loses the byte read unless
    // it takes it (the I/O rules need IR known: here the reader's EC00).
    {"R=##0xEC00 TO=R1\nL=R1 EX=LOADIR\nEX=STARTIO\nEX=STARTIO", "EX=STARTIO right after the input EX=STARTIO", 4,
     "line 3"},
    {"R=##0xEC00 TO=R1\nL=R1 EX=LOADIR\nEX=STARTIO\nL=IOBUS TO=R1 EX=STARTIO", nullptr, 0, ""},
    {"EX=STARTIO\nEX=STARTIO", nullptr, 0, ""},   // IR not known: no I/O rule
    // IOBUS read in the cycle that starts the input.
    {"R=##0xEC00 TO=R1\nL=R1 EX=LOADIR\nL=IOBUS TO=R1 EX=STARTIO",
     "L=IOBUS in the micro-instruction that starts an input", 3, "line 2"},
    {"R=##0xEC00 TO=R1\nL=R1 EX=LOADIR\nL=R3 EX=TOIO\nL=IOBUS TO=R1 EX=STARTIO", nullptr, 0, ""},
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
    // A test that can go either way: the rule is broken on one of its paths.
    {"TO=R1 IF ZER JUMP far\nL=MEM\nfar: NOP", "L=MEM without", 2, "line 1"},
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

// Eight timing mistakes a class makes, each drawing its one message at the
// word where the machine goes wrong and naming the word before it.
struct mistake {
    const char *what;
    const char *source;
    severity level;
    int line;             // of the message
    const char *other;    // the other word it names
    const char *reason;   // a piece of the message
};

const mistake MISTAKES[] = {
    {"a count that tests ZER in the word that subtracts",
     "start: R=#3 TO=R1\n"
     "R=#1 TO=R3\n"
     "loop: L=R1 R=R3 ALU=SUB TO=R1 IF NOT ZER JUMP loop\n"
     "done: EX=HALT JUMP done",
     severity::note, 3, "line 2", "the test of ZER sees the value from before this micro-instruction"},
    {"a dispatch on the IR its own word loads",
     "L=PC MEM=READ\n"
     "L=MEM EX=LOADIR DISPATCH OP table\n"
     ".ORG 0x10\n"
     "table: EX=HALT JUMP table",
     severity::note, 2, "line 1", "the dispatch on IR sees the value from before"},
    {"a test of C in the word that loads it",
     "NOP\n"
     "R=R4 EX=LOADC IF CZERO JUMP done\n"
     "done: EX=HALT JUMP done",
     severity::note, 2, "line 1", "its EX=LOADC gives"},
    {"a read taken after a test word",
     "L=R1 MEM=READ\n"
     "IF ZER JUMP use\n"
     "use: L=MEM TO=R2\n"
     "done: EX=HALT JUMP done",
     severity::warning, 3, "line 2", "error 18"},
    {"an output start whose byte comes one word late",
     "R=##0xED01 TO=R1\n"
     "L=R1 EX=LOADIR\n"
     "R=#'A' TO=R2\n"
     "EX=STARTIO\n"
     "NOP\n"
     "L=R2 EX=TOIO\n"
     "done: EX=HALT JUMP done",
     severity::warning, 5, "line 4", "takes the value the bus still holds"},
    {"a conditional write whose fall-through puts nothing on the left bus",
     "L=R1 MEM=WRITE IF ZER JUMP other\n"
     "TO=R3\n"
     "other: L=R2 EX=HALT JUMP other",
     severity::warning, 2, "line 1", "the word written is 0"},
    {"a read taken after two jumps",
     "L=R1 MEM=READ JUMP next\n"
     ".ORG 0x40\n"
     "next: JUMP use\n"
     ".ORG 0x80\n"
     "use: L=MEM TO=R2\n"
     "done: EX=HALT JUMP done",
     severity::warning, 5, "line 3", "error 18"},
    {"a read started in a RETURN and taken a word late",
     "CALL sub\n"
     "NOP\n"
     "L=MEM TO=R2\n"
     "EX=HALT JUMP 3\n"
     ".ORG 0x20\n"
     "sub: L=R1 MEM=READ RETURN",
     severity::warning, 3, "line 2", "error 18"},
};

TEST(Timing, EachMistakeDrawsItsMessageAtItsLine)
{
    for (const mistake &m : MISTAKES) {
        assembly a = assemble_source(m.source);
        ASSERT_EQ(a.records.size(), 1u) << m.what << ": " << testing::PrintToString(a.messages);
        const diagnostic &d = a.records[0];
        EXPECT_EQ(d.level, m.level) << m.what;
        EXPECT_EQ(d.where.line, m.line) << m.what;
        EXPECT_NE(d.reason.find(m.reason), std::string::npos) << m.what << ": " << d.reason;
        EXPECT_NE(d.reason.find(m.other), std::string::npos) << m.what << ": " << d.reason;
    }
}

// Programs that do what they mean, some with the same encodings as the
// mistakes above: nothing to say about any of them.
const char *const CLEAN[] = {
    // Three output starts in a row print "---": the bus still holds '-'.
    "R=##0xED01 TO=R1\nL=R1 EX=LOADIR\nR=#'-' TO=R2\nL=R2 EX=TOIO\nEX=STARTIO\nEX=STARTIO\nEX=STARTIO\n"
    "done: EX=HALT JUMP done",
    // The byte put on the bus in the word after the start.
    "R=##0xED01 TO=R1\nL=R1 EX=LOADIR\nR=#'A' TO=R2\nEX=STARTIO\nL=R2 EX=TOIO\ndone: EX=HALT JUMP done",
    // An echo: the byte read stays on the bus for the output start.
    "R=##0xEC00 TO=R1\nR=##0xED01 TO=R2\nL=R1 EX=LOADIR\nEX=STARTIO\nL=R2 EX=LOADIR\nEX=STARTIO\n"
    "done: EX=HALT JUMP done",
    // The count tested by the word after the subtraction.
    "R=#3 TO=R1\nloop: L=R1 R=#1 ALU=SUB TO=R1\nIF NOT ZER JUMP loop\ndone: EX=HALT JUMP done",
    // A loop that tests the flags its previous pass set, and sets them on
    // the way in as well.
    "L=R1 R=R3 ALU=SUB TO=R1\nloop: L=R1 R=R3 ALU=SUB TO=R1 IF NOT ZER JUMP loop\ndone: EX=HALT JUMP done",
    // Each return goes back to its own call: the read of one subroutine's
    // RETURN is taken after its call, the other's RETURN reads nothing.
    "CALL rd\nL=MEM TO=R2\nCALL other\nEX=HALT JUMP 3\n.ORG 0x20\nrd: L=R1 MEM=READ RETURN\nother: TO=R3 RETURN",
    // A dispatch on an IR whose value is known takes one entry only.
    "R=##0x1000 TO=R1\nL=R1 EX=LOADIR\nDISPATCH OP table\n.ORG 0x10\ntable: EX=HALT JUMP table\n"
    "L=R1 MEM=READ\nL=MEM TO=R2 EX=HALT JUMP 0x11",
    // A subroutine is analysed from its calls, not as a place where a run
    // starts: its caller loads C, so the test of C sees the caller's C.
    ".ORG 0x20\nsub: R=R4 EX=LOADC IF CZERO JUMP done\ndone: EX=HALT RETURN\n.ORG 0x50\nR=R5 EX=LOADC CALL sub\n"
    "EX=HALT JUMP 0x51",
    // A conditional write whose two paths both supply the data.
    "L=R1 MEM=WRITE IF ZER JUMP other\nL=R3 EX=HALT JUMP 1\nother: L=R2 EX=HALT JUMP other",
};

TEST(Timing, ProgramsThatMeanWhatTheyDoDrawNothing)
{
    for (const char *source : CLEAN) {
        assembly a = assemble_source(source);
        EXPECT_TRUE(a.records.empty()) << source << "\n" << testing::PrintToString(a.messages);
    }
}

// The mark on a note's line says the older value is meant; warnings stay.
TEST(Timing, TheIntendedMarkSilencesANoteOnly)
{
    assembly marked = assemble_source("R=#3 TO=R1\nloop: L=R1 R=R3 ALU=SUB TO=R1 IF NOT ZER JUMP loop ; @intended\n"
                                      "done: EX=HALT JUMP done");
    EXPECT_TRUE(marked.messages.empty()) << testing::PrintToString(marked.messages);
    assembly warning = assemble_source("NOP\nL=MEM TO=R2 ; @intended");
    ASSERT_EQ(warning.messages.size(), 1u);
    EXPECT_NE(warning.messages[0].find("warning: L=MEM without"), std::string::npos) << warning.messages[0];
}

// An error elsewhere in the file hides no timing message, and --Werror
// makes a warning an error but leaves a note a note.
TEST(Timing, ErrorsAndWerrorLeaveTheAnalysisInPlace)
{
    assembly a = assemble_source("EX=0\nNOP\nL=MEM TO=R2\nNOP\nR=R4 EX=LOADC IF CZERO JUMP 4");
    ASSERT_EQ(a.messages.size(), 3u) << testing::PrintToString(a.messages);
    EXPECT_NE(a.messages[0].find("t.masm:1:"), std::string::npos) << a.messages[0];
    EXPECT_NE(a.messages[1].find("t.masm:3:1: warning: L=MEM without"), std::string::npos) << a.messages[1];
    EXPECT_NE(a.messages[2].find("t.masm:5:1: note:"), std::string::npos) << a.messages[2];

    diagnostics diag;
    diag.treat_warnings_as_errors();
    assembler strict(source_kind::micro, diag);
    strict.assemble_text("t.masm", "NOP\nL=MEM TO=R2\nNOP\nR=R4 EX=LOADC IF CZERO JUMP 3");
    EXPECT_EQ(diag.count(severity::error), 1);
    EXPECT_EQ(diag.count(severity::note), 1);
}

// Every bundled microprogram, as source and as load file, draws nothing.
TEST(Timing, TheExamplesDrawNothing)
{
    std::filesystem::path examples = std::filesystem::path(std::getenv("KALVO3_ASM_TEST_DATA")) / "../../../examples";
    int sources = 0, load_files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(examples)) {
        std::string path = entry.path().string();
        diagnostics diag;
        if (entry.path().extension() == ".masm") {
            assembler a(source_kind::micro, diag);
            a.assemble_file(path);
            sources++;
        } else if (entry.path().extension() == ".cm") {
            std::map<uint32_t, uint64_t> words;
            ASSERT_TRUE(read_cm_load_file(path, words, diag)) << path;
            for (const timing_warning &w : check_timing(words, {}, {})) diag.warning(w.where, w.reason);
            load_files++;
        } else {
            continue;
        }
        EXPECT_TRUE(diag.records().empty()) << path << "\n" << testing::PrintToString(diag.messages());
    }
    EXPECT_GE(sources, 2);
    EXPECT_GE(load_files, 4);
}

}  // namespace
