// Verdicts as data: how a run or an operator call ended, and the
// assembler's records, read through the C interface without its console text.
#include <gtest/gtest.h>

#include <string>

#include "api/kalvo3_api.h"

namespace {

// One step may have several reasons to stop: an error ranks before a break
// point, a break point before a halt, any of them before the step limit.
// Each case runs in the plain loop and again in the counting loop.
TEST(Verdicts, RunsEndForTheHighestRankingReason)
{
    const struct {
        const char *source;
        uint32_t break_at, limit;   // break_at 0: none
        int stop, error;
        uint32_t steps;
    } cases[] = {
        {"  L=R1 TO=R2\n  EX=HALT\n", 0, 100, K3_STOP_HALT, 0, 2},
        {"top: JUMP top\n", 0, 7, K3_STOP_LIMIT, 0, 7},
        {"  L=R1 TO=R2\n  L=MEM TO=R1\n  EX=HALT\n", 0, 100, K3_STOP_ERROR, 18, 2},
        {"  L=R1 TO=R2\n  L=R2 TO=R3\n  EX=HALT\n", 2, 100, K3_STOP_BREAK, 0, 2},
        {"  L=R1 TO=R2\n  L=MEM TO=R1 EX=HALT\n", 0, 100, K3_STOP_ERROR, 18, 2},          // error and halt
        {"  L=R1 TO=R2\n  L=MEM TO=R1\n  EX=HALT\n", 2, 100, K3_STOP_ERROR, 18, 2},       // error, break point
        {"  EX=HALT JUMP there\n  NOP\nthere: EX=HALT\n", 2, 100, K3_STOP_BREAK, 0, 1},   // halt, break point
        {"  L=R1 TO=R2\n  L=MEM TO=R1 RETURN\n", 0, 100, K3_STOP_ERROR, 2, 2},            // the first of two errors
    };
    for (const auto &c : cases)
        for (int profile = 0; profile < 2; profile++) {
            SCOPED_TRACE(std::string(c.source) + (profile ? " profiled" : ""));
            k3_power_on();
            ASSERT_EQ(k3_assemble("run.masm", c.source, 0), 0) << k3_assembly_messages();
            k3_load_text(k3_assembly_load_file());
            if (c.break_at) k3_break_set(c.break_at);
            EXPECT_EQ(k3_run(c.limit, profile), c.stop);
            EXPECT_EQ(k3_last_error(), c.error);
            EXPECT_EQ(k3_steps(), c.steps);
        }
    // The next run has its own verdict, whatever the console text holds.
    k3_set(k3_register("CMAR"), 0x100);
    EXPECT_EQ(k3_run(1, 0), K3_STOP_LIMIT);
    EXPECT_EQ(k3_last_error(), 0);
}

TEST(Verdicts, LoadErrorsAndAFullBreakPointTableAreResults)
{
    const struct {
        std::string text;
        int memory, error, line;
    } cases[] = {
        {"CM\n000  0000000001\n", 1, 0, 0},
        {"XX\n000  0000000000\n", 0, 5, 1},
        {"CM\n000  0000000001\n1000  0000000000\n2000  0000000000\n", 1, 4, 3},   // the first of two
        {"MM\n0000  0001\n\n10000  0001\n", 2, 3, 4},
        {"CM\r001  0000000001\r2000  0000000000\r", 1, 4, 3},
        {"CM\n001  " + std::string(600, '0') + "\n2000  0000000000\n", 1, 4, 3},   // a long line counts once
    };
    k3_power_on();
    for (const auto &c : cases) {
        EXPECT_EQ(k3_load_text(c.text.c_str()), c.memory) << c.text;
        EXPECT_EQ(k3_last_error(), c.error) << c.text;
        EXPECT_EQ(k3_last_error_line(), c.line) << c.text;
    }

    for (uint32_t a = 0; a < 32; a++) k3_break_set(0x100 + a);
    k3_console_clear();
    EXPECT_EQ(k3_break_set(0x100), 1);   // already set: takes no slot
    EXPECT_EQ(k3_break_set(0x200), 0);
    EXPECT_EQ(k3_last_error(), 15);
    k3_break_clear(0x105);
    EXPECT_EQ(k3_break_set(0x1000), 1);   // beyond CM: reported and taken, as at the console
    EXPECT_EQ(k3_last_error(), 4);
}

TEST(Verdicts, ErrorTextsAndAssemblyRecords)
{
    EXPECT_STREQ(k3_error_text(3), "OUT OF MM ADDRESS LIMIT (0-FFFF) !");
    EXPECT_STREQ(k3_error_text(18), "MEMORY CYCLE IS NOT READY TO READ");
    EXPECT_STREQ(k3_error_text(6), "");

    // An error on line 3; the timing check runs all the same and warns on line 2.
    EXPECT_EQ(k3_assemble("rec.masm", "start: L=R1 TO=R2\n  L=MEM TO=R1\n  L=R9\n", 0), 1);
    EXPECT_EQ(k3_severity_count(K3_SEVERITY_ERROR), 1);
    EXPECT_EQ(k3_severity_count(K3_SEVERITY_WARNING), 1);
    ASSERT_EQ(k3_diagnostic_count(), 2);
    std::string text;   // the records make the very lines kalvo3-asm prints
    for (int i = 0; i < 2; i++)
        text += std::string(k3_diagnostic_file(i)) + ":" + std::to_string(k3_diagnostic_line(i)) + ":" +
                std::to_string(k3_diagnostic_column(i)) + ": " +
                (k3_diagnostic_severity(i) == K3_SEVERITY_ERROR ? "error: " : "warning: ") + k3_diagnostic_message(i) +
                "\n";
    EXPECT_EQ(text, k3_assembly_messages());
    EXPECT_EQ(k3_diagnostic_line(1), 2);
    EXPECT_EQ(k3_diagnostic_severity(2), -1);
    EXPECT_EQ(k3_assemble("ok.masm", "  EX=HALT\n", 0), 0);
    EXPECT_EQ(k3_diagnostic_count(), 0);
}

}   // namespace
