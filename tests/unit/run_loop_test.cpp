// Runs through the Run command's step loop and the decoded control-memory
// words it executes: control memory changed between two runs of the same
// address, an IR dispatch right after the IR load, break points reached late
// or beyond the control memory, and transfers carried from one run into the
// next.
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "console/load.hpp"
#include "console/run.hpp"
#include "tests/unit/run_fixture.hpp"

namespace {

class RunLoopTest : public RunCommandTest {
protected:
    // What the last run printed, from its title on.
    std::string last_run()
    {
        const std::string text = console();
        return text.substr(text.rfind("RUN\n"));
    }
};

const micro HALT{.exf = 13};

// Rn <- Rn + 1 (carry in 1), then the next address.
micro count_up(int n) { return {.lbf = n, .rbf = 15, .alf = 0, .sbf = n, .exf = 3}; }

}  // namespace

TEST_F(RunLoopTest, ControlMemoryChangedBetweenRunsOfTheSameAddress)
{
    M.CM[0] = count_up(0).word();
    M.CM[1] = HALT.word();
    run("0\n10\n");
    EXPECT_EQ(M.R[0], 1);

    M.CM[0] = count_up(1).word();   // as the Change command stores it
    run("0\n10\n");
    EXPECT_EQ(M.R[0], 1);
    EXPECT_EQ(M.R[1], 1);

    // The Load command replaces the word at the same address again.
    const std::filesystem::path home = std::filesystem::current_path();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kalvo3_run_loop_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    FILE *file = fopen("two.cm", "w");
    ASSERT_NE(file, nullptr);
    fprintf(file, "CM\n000  %010llX\n", static_cast<unsigned long long>(count_up(2).word()));
    fclose(file);
    {
        StdinFeed feed("two.cm\n");
        load_command();
    }
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);

    run("0\n10\n");
    EXPECT_EQ(M.R[0], 1);
    EXPECT_EQ(M.R[1], 1);
    EXPECT_EQ(M.R[2], 1);
    EXPECT_EQ(M.step_count, 2);
    EXPECT_EQ(errors(), none());
}

// IR loaded by EXF 4 in one cycle steers the sequencer (SQF 5) and the ALU
// (ALF 5) of the very next cycle.
TEST_F(RunLoopTest, DispatchThroughIrLoadedInTheCycleBefore)
{
    M.R[1] = 0x3010;   // operation 3; ALU code 1, subtract
    M.R[2] = 7;
    M.R[3] = 2;
    M.CM[0x000] = micro{.lbf = 1, .exf = 4}.word();
    M.CM[0x001] = micro{.lbf = 2, .rbf = 3, .alf = 5, .shf = 7, .sbf = 4, .sqf = 5, .adf = 0x020}.word();
    M.CM[0x200] = micro{.exf = 14}.word();   // operation 0, with the IR of before the load
    M.CM[0x203] = HALT.word();
    run("0\n10\n");
    EXPECT_EQ(M.IR, 0x3010);
    EXPECT_EQ(M.R[4], 5);
    EXPECT_EQ(M.step_count, 3);
    EXPECT_EQ(M.CMAR, 0x204u);
    EXPECT_EQ(last_run(), "RUN\n CMAR=? MAX STEP=? Running\n CPU HALTED !\n   3 STEPS USED\n");
}

TEST_F(RunLoopTest, BreakPointReachedAfterManySteps)
{
    for (int address = 0; address < 0x40; address++) M.CM[address] = micro{}.word();
    set_break_point(4, 0x030);
    set_break_point(20, 0x030);
    run("0\n1000\n");
    EXPECT_EQ(M.step_count, 0x30);
    EXPECT_EQ(M.CMAR, 0x030u);
    EXPECT_EQ(last_run(), "RUN\n CMAR=? MAX STEP=? Running\n"
                          " BREAK !! AT 030\n BREAK !! AT 030\n CPU HALTED !\n  48 STEPS USED\n");

    // Freed slots stop counting at the next run, although a point is still
    // flagged as active.
    M.break_points[4].in_use = 0;
    M.break_points[20].in_use = 0;
    run("0\n40\n");
    EXPECT_EQ(M.step_count, 40);
    EXPECT_EQ(M.stop_flag, 0);

    // A point set between runs counts at once, before the first step as well.
    set_break_point(9, 0x028);
    run("CNT\n40\n");
    EXPECT_EQ(M.step_count, 1);
    EXPECT_EQ(last_run(), "RUN\n CMAR=? MAX STEP=? Running\n"
                          " BREAK !! AT 028\n CPU HALTED !\n   1 STEPS USED\n");
}

TEST_F(RunLoopTest, BreakPointBeyondControlMemory)
{
    // Addresses that share the low 12 bits with a break point do not stop.
    for (int address = 0; address < 0x10; address++) M.CM[address] = micro{}.word();
    set_break_point(0, 0x1000);
    set_break_point(1, 0x1005);
    set_break_point(2, -0xFFB);   // 0xFFFFF005
    run("0\n10\n");
    EXPECT_EQ(M.step_count, 10);
    EXPECT_EQ(M.stop_flag, 0);
    EXPECT_EQ(last_run(), "RUN\n CMAR=? MAX STEP=? Running\n CPU HALTED !\n MAX STEPS EXAUSTED\n");

    M.CM[0xFFE] = micro{}.word();
    M.CM[0xFFF] = micro{}.word();
    run("FFE\n10\n");
    EXPECT_EQ(M.step_count, 2);
    EXPECT_EQ(M.CMAR, 0x1000u);
    EXPECT_EQ(last_run(), "RUN\n CMAR=? MAX STEP=? Running\n"
                          " BREAK !! AT 1000\n CPU HALTED !\n   2 STEPS USED\n");
    EXPECT_EQ(errors(), none());
}

TEST_F(RunLoopTest, BreakPointAtStartWithNoStepAllowed)
{
    set_break_point(0, 0x000);
    run("0\n0\n");
    EXPECT_EQ(M.step_count, 0);
    EXPECT_EQ(M.stop_flag, 0);
    EXPECT_EQ(last_run(), "RUN\n CMAR=? MAX STEP=? Running\n CPU HALTED !\n MAX STEPS EXAUSTED\n");
}

// A read started in the last step of one run delivers its word in the first
// step of the next; a write started there stores that step's left bus.
TEST_F(RunLoopTest, TransfersCarryIntoTheNextRun)
{
    M.R[1] = 0x0100;
    M.MM[0x0100] = 0xBEEF;
    M.CM[0] = micro{.lbf = 1, .mmf = 0}.word();
    M.CM[1] = micro{.lbf = 12, .sbf = 2, .mmf = 1}.word();
    M.CM[2] = micro{.lbf = 1}.word();
    run("0\n1\n");
    EXPECT_EQ(M.mem_cycle, 1);
    run("CNT\n1\n");
    EXPECT_EQ(M.R[2], 0xBEEF);
    EXPECT_EQ(M.mem_cycle, 2);
    EXPECT_EQ(M.MAR, 0xBEEFu);
    run("CNT\n1\n");
    EXPECT_EQ(M.MM[0xBEEF], 0x0100);
    EXPECT_EQ(M.mem_cycle, 0);
    EXPECT_EQ(errors(), none());
}
