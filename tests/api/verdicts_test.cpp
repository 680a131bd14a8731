// What a run or an operator call ended with, and the assembler's records,
// read as data through the C interface: the same verdicts the console's text
// shows, without reading that text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/kalvo3_api.h"

namespace {

class Verdicts : public ::testing::Test {
protected:
    void SetUp() override { k3_power_on(); }

    // Assembles `source` into control memory (it must have no errors).
    static void load_source(const char *source)
    {
        ASSERT_EQ(k3_assemble("run.masm", source, 0), 0) << k3_assembly_messages();
        ASSERT_EQ(k3_load_text(k3_assembly_load_file()), 1);
    }
};

// One step may have several reasons to stop: an error ranks before a break
// point, a break point before a halt, and any of them before the limit.
TEST_F(Verdicts, RunsEndForTheHighestRankingReason)
{
    const struct {
        const char *what;
        const char *source;
        std::vector<uint32_t> breaks;
        uint32_t limit;
        int stop, error;
        uint32_t steps;
    } cases[] = {
        {"halt", "  L=R1 TO=R2\n  EX=HALT\n", {}, 100, K3_STOP_HALT, 0, 2},
        {"halt with the OV lamp", "  EX=HALTOV\n", {}, 100, K3_STOP_HALT, 0, 1},
        {"step limit", "top: JUMP top\n", {}, 7, K3_STOP_LIMIT, 0, 7},
        {"no steps at all", "  EX=HALT\n", {}, 0, K3_STOP_LIMIT, 0, 0},
        {"error", "  L=R1 TO=R2\n  L=MEM TO=R1\n  EX=HALT\n", {}, 100, K3_STOP_ERROR, 18, 2},
        {"break point", "  L=R1 TO=R2\n  L=R2 TO=R3\n  EX=HALT\n", {2}, 100, K3_STOP_BREAK, 0, 2},
        {"error and halt in one step", "  L=R1 TO=R2\n  L=MEM TO=R1 EX=HALT\n", {}, 100, K3_STOP_ERROR, 18, 2},
        {"error, then a break point", "  L=R1 TO=R2\n  L=MEM TO=R1\n  EX=HALT\n", {2}, 100, K3_STOP_ERROR, 18, 2},
        {"halt onto a break point", "  EX=HALT JUMP there\n  L=R1 TO=R2\nthere: EX=HALT\n", {2}, 100,
         K3_STOP_BREAK, 0, 1},
        {"error at the step limit", "  L=R1 TO=R2\n  L=MEM TO=R1\n  EX=HALT\n", {}, 2, K3_STOP_ERROR, 18, 2},
        // The sequencer reports before the left bus's read.
        {"two errors in one step: the first", "  L=R1 TO=R2\n  L=MEM TO=R1 RETURN\n", {}, 100, K3_STOP_ERROR, 2, 2},
        {"an empty stack", "  RETURN\n", {}, 100, K3_STOP_ERROR, 2, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        k3_power_on();
        load_source(c.source);
        for (uint32_t address : c.breaks) ASSERT_EQ(k3_break_set(address), 1);
        EXPECT_EQ(k3_run(c.limit, 0), c.stop);
        EXPECT_EQ(k3_last_error(), c.error);
        EXPECT_EQ(k3_last_error_line(), 0);
        EXPECT_EQ(k3_steps(), c.steps);
        // The profiled run, which takes the counting loop, ends the same way.
        k3_set(k3_register("CMAR"), 0);
        EXPECT_EQ(k3_run(c.limit, 1), c.stop);
        EXPECT_EQ(k3_last_error(), c.error);
    }
}

// The verdict does not depend on what the console text holds: text left
// from earlier calls, or cleared, changes nothing; a run after an error
// starts clean.
TEST_F(Verdicts, EachRunHasItsOwnVerdict)
{
    load_source("  L=R1 TO=R2\n  L=MEM TO=R1\n  EX=HALT\n");
    ASSERT_EQ(k3_run(100, 0), K3_STOP_ERROR);
    ASSERT_EQ(k3_last_error(), 18);
    EXPECT_EQ(k3_run(100, 0), K3_STOP_HALT);   // from 002, the console text still holding ERROR 18
    EXPECT_EQ(k3_last_error(), 0);
    k3_set(k3_register("CMAR"), 0);
    k3_console_clear();
    EXPECT_EQ(k3_run(1, 0), K3_STOP_LIMIT);
    EXPECT_EQ(k3_last_error(), 0);
    EXPECT_EQ(k3_run(1, 0), K3_STOP_ERROR);
    EXPECT_EQ(k3_get(k3_register("STOP")), 1u);
    k3_reset();
    EXPECT_EQ(k3_get(k3_register("STOP")), 0u);
}

TEST_F(Verdicts, LoadErrorsNameTheirLine)
{
    const std::string long_line(600, '0');
    const struct {
        const char *what;
        std::string text;
        int memory, error, line;
    } cases[] = {
        {"clean", "CM\n000  0000000001\n", 1, 0, 0},
        {"empty", "", 0, 0, 0},
        {"no header", "XX\n000  0000000000\n", 0, 5, 1},
        {"CM address", "CM\n000  0000000001\n1000  0000000000\n", 1, 4, 3},
        {"MM address after a blank line", "MM\n0000  0001\n\n10000  0001\n", 2, 3, 4},
        {"the first of two", "MM\n10000  0001\n20000  0001\n", 2, 3, 2},
        {"lines ended by CR", "CM\r001  0000000001\r2000  0000000000\r", 1, 4, 3},
        {"lines ended by CR LF", "CM\r\n001  0000000001\r\n2000  0000000000\r\n", 1, 4, 3},
        {"a long line counts once", "CM\n001  " + long_line + "\n2000  0000000000\n", 1, 4, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(k3_load_text(c.text.c_str()), c.memory);
        EXPECT_EQ(k3_last_error(), c.error);
        EXPECT_EQ(k3_last_error_line(), c.line);
    }
    // The load goes on past a line out of range, as the Load command's does.
    k3_power_on();
    k3_load_text("CM\n1000  0000000000\n005  0000000007\n");
    EXPECT_EQ(k3_cm_low(5), 7u);
}

TEST_F(Verdicts, AFullBreakPointTableIsAResult)
{
    for (uint32_t a = 0; a < 32; a++) ASSERT_EQ(k3_break_set(0x100 + a), 1);
    EXPECT_EQ(k3_last_error(), 0);
    EXPECT_EQ(k3_break_set(0x100), 1);   // already set: takes no slot
    EXPECT_EQ(k3_break_set(0x200), 0);
    EXPECT_EQ(k3_last_error(), 15);
    EXPECT_EQ(k3_break_at(0x200), 0);
    k3_console_clear();                  // the result does not come from the text
    k3_break_clear(0x105);
    EXPECT_EQ(k3_break_set(0x200), 1);
    EXPECT_EQ(k3_last_error(), 0);
    EXPECT_EQ(k3_break_set(0x300), 0);
    EXPECT_EQ(k3_last_error(), 15);

    // Beyond control memory: reported, and taken as the console takes it.
    k3_power_on();
    EXPECT_EQ(k3_break_set(0x1000), 1);
    EXPECT_EQ(k3_last_error(), 4);
    EXPECT_EQ(k3_break_at(0x1000), 1);
    EXPECT_EQ(k3_break_set(0xFFF), 1);
    EXPECT_EQ(k3_last_error(), 0);
}

TEST_F(Verdicts, ErrorTextsComeFromTheMachinesTable)
{
    const struct {
        int number;
        const char *text;
    } cases[] = {
        {1, "UNDEFINED MICRO INSTRUCTION CODE !"},
        {3, "OUT OF MM ADDRESS LIMIT (0-FFFF) !"},
        {4, "OUT OF CM ADDRESS LIMIT (0-FFF) !"},
        {12, "NO DATA ON I/O DEVICE !"},
        {15, "THE NUMBER OF BREAK POINT IS OVERFLOW"},
        {18, "MEMORY CYCLE IS NOT READY TO READ"},
        {0, ""},
        {6, ""},   // a gap in the numbering
        {19, ""},
        {-1, ""},
    };
    for (const auto &c : cases) EXPECT_STREQ(k3_error_text(c.number), c.text) << c.number;

    // The very text the console prints under the number.
    k3_load_text("MM\n10000  0001\n");
    EXPECT_EQ(std::string(k3_console_text()), "\nERROR 3\n " + std::string(k3_error_text(3)) + " \n LOADED TO MM\n");
}

TEST_F(Verdicts, AssemblyRecordsHaveEveryField)
{
    // Line 3 has an error, line 2 a timing breach (checked also when the
    // source has errors, after the assembly).
    const char *source = "start: L=R1 TO=R2\n  L=MEM TO=R1\n  L=R9\n  EX=HALT\n";
    EXPECT_EQ(k3_assemble("rec.masm", source, 0), 1);
    EXPECT_EQ(k3_severity_count(K3_SEVERITY_ERROR), 1);
    EXPECT_EQ(k3_severity_count(K3_SEVERITY_WARNING), 1);
    EXPECT_EQ(k3_severity_count(K3_SEVERITY_NOTE), 0);
    EXPECT_EQ(k3_severity_count(3), 0);
    ASSERT_EQ(k3_diagnostic_count(), 2);

    const struct {
        int severity, line, column;
        const char *start;   // of the message
    } want[] = {
        {K3_SEVERITY_ERROR, 3, 5, ""},
        {K3_SEVERITY_WARNING, 2, 3, "L=MEM without MEM=READ"},
    };
    std::string text;
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(k3_diagnostic_severity(i), want[i].severity);
        EXPECT_STREQ(k3_diagnostic_file(i), "rec.masm");
        EXPECT_EQ(k3_diagnostic_line(i), want[i].line);
        EXPECT_EQ(k3_diagnostic_column(i), want[i].column);
        const std::string message = k3_diagnostic_message(i);
        EXPECT_EQ(message.rfind(want[i].start, 0), 0u) << message;
        text += std::string("rec.masm:") + std::to_string(want[i].line) + ":" + std::to_string(want[i].column) + ": " +
                (i == 0 ? "error: " : "warning: ") + message + "\n";
    }
    EXPECT_EQ(text, k3_assembly_messages());   // the records are the text kalvo3-asm prints

    // Out of range: no record.
    EXPECT_EQ(k3_diagnostic_severity(2), -1);
    EXPECT_EQ(k3_diagnostic_severity(-1), -1);
    EXPECT_STREQ(k3_diagnostic_file(2), "");
    EXPECT_STREQ(k3_diagnostic_message(-1), "");
    EXPECT_EQ(k3_diagnostic_line(2), 0);

    // A clean assembly leaves no records of the one before.
    EXPECT_EQ(k3_assemble("ok.masm", "  EX=HALT\n", 0), 0);
    EXPECT_EQ(k3_diagnostic_count(), 0);
    EXPECT_EQ(k3_severity_count(K3_SEVERITY_ERROR), 0);
    EXPECT_EQ(k3_severity_count(K3_SEVERITY_WARNING), 0);
}

}  // namespace
