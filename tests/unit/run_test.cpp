// The run dialogue's effect on the machine state, the break point check, and
// where a run leaves the machine.
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "console/run.hpp"
#include "tests/unit/run_fixture.hpp"

namespace {

// Runs that should halt get a step limit, so that a fault fails the test
// instead of running forever.
class RunTest : public RunCommandTest {
protected:
    // read_run_parameters on the operator's answers; returns its result.
    bool parameters(const std::string &answers)
    {
        StdinFeed feed(answers);
        return read_run_parameters(no_step_limit_);
    }

    bool no_step_limit_ = false;
};

const micro HALT{.exf = 13};

}  // namespace

TEST_F(RunTest, StartAddressAndKeyword)
{
    M.CMAR = 0x123;
    EXPECT_TRUE(parameters("CNT\n\n"));
    EXPECT_EQ(M.CMAR, 0x123u);
    EXPECT_TRUE(no_step_limit_);
    EXPECT_EQ(M.max_steps, -1);

    EXPECT_TRUE(parameters("cNt\n7\n"));
    EXPECT_EQ(M.CMAR, 0x123u);
    EXPECT_FALSE(no_step_limit_);
    EXPECT_EQ(M.max_steps, 7);

    EXPECT_TRUE(parameters("CNT \n1\n"));   // not the keyword: the hex digit C
    EXPECT_EQ(M.CMAR, 0xCu);
    EXPECT_TRUE(parameters("  0x1f  \n1\n"));
    EXPECT_EQ(M.CMAR, 0x1Fu);
    EXPECT_EQ(errors(), none());
}

TEST_F(RunTest, StartBeyondControlMemoryRunsFromZero)
{
    for (const char *start : {"1000\n", "-1\n", "FFFFFFFFF\n"}) {
        M.CMAR = 0x55;
        EXPECT_TRUE(parameters(std::string(start) + "3\n")) << start;
        EXPECT_EQ(M.CMAR, 0u) << start;
        EXPECT_EQ(M.max_steps, 3) << start;
    }
    // Continuing after a run that stepped past the last word.
    M.CMAR = 0x1000;
    EXPECT_TRUE(parameters("CNT\n3\n"));
    EXPECT_EQ(M.CMAR, 0u);
    EXPECT_EQ(errors(), std::vector<int>({4, 4, 4, 4}));
}

TEST_F(RunTest, AbandonLeavesWhatWasStoredSoFar)
{
    M.CMAR = 0x55;
    M.max_steps = 9;
    for (const char *answers : {"\n", ".\n", ".5\n", "   \n", ""}) {
        EXPECT_FALSE(parameters(answers)) << answers;
        EXPECT_EQ(M.CMAR, 0x55u);
        EXPECT_EQ(M.max_steps, 9);
    }
    // At the step limit the start address is already stored, the limit cleared.
    EXPECT_FALSE(parameters("FFF\n.\n"));
    EXPECT_EQ(M.CMAR, 0xFFFu);
    EXPECT_EQ(M.max_steps, -1);
    M.max_steps = 9;
    EXPECT_FALSE(parameters("ABC\n"));   // end of input
    EXPECT_EQ(M.CMAR, 0xABCu);
    EXPECT_EQ(M.max_steps, -1);
}

TEST_F(RunTest, BreakCheckWalksEveryInUseSlot)
{
    M.CMAR = 0x010;
    set_break_point(0, 0x010);
    set_break_point(3, 0x010, 0);   // freed: its address no longer counts
    set_break_point(7, 0x011);
    set_break_point(31, 0x010);
    check_break_points();
    EXPECT_EQ(console(), " BREAK !! AT 010\n BREAK !! AT 010\n");
    EXPECT_EQ(M.stop_flag, 1);

    M.stop_flag = 0;
    M.CMAR = 0x012;
    check_break_points();
    EXPECT_EQ(M.stop_flag, 0);
    EXPECT_EQ(errors(), none());
}

TEST_F(RunTest, BreakPointStopsBeforeItsMicroInstruction)
{
    M.CM[0x011] = HALT.word();
    for (int address = 0x00E; address <= 0x010; address++) M.CM[address] = micro{}.word();
    set_break_point(0, 0x010);

    run("E\n10\n");
    EXPECT_EQ(M.step_count, 2);
    EXPECT_EQ(M.CMAR, 0x010u);
    EXPECT_EQ(M.stop_flag, 1);

    // Continuing from the break point executes exactly its micro-instruction.
    run("CNT\n10\n");
    EXPECT_EQ(M.step_count, 1);
    EXPECT_EQ(M.CMAR, 0x011u);
    EXPECT_EQ(console().substr(console().rfind("RUN\n")),
              "RUN\n CMAR=? MAX STEP=? Running\n"
              " BREAK !! AT 010\n CPU HALTED !\n   1 STEPS USED\n");
}

TEST_F(RunTest, StopFlagTellsHowTheRunEnded)
{
    for (int address = 0; address < 4; address++) M.CM[address] = micro{}.word();
    M.CM[4] = HALT.word();

    run("0\n2\n");   // the limit ends it
    EXPECT_EQ(M.step_count, 2);
    EXPECT_EQ(M.CMAR, 2u);
    EXPECT_EQ(M.stop_flag, 0);

    run("CNT\n10\n");   // the halt ends it, on its own step; CMAR already past it
    EXPECT_EQ(M.step_count, 3);
    EXPECT_EQ(M.CMAR, 5u);
    EXPECT_EQ(M.stop_flag, 1);

    // An error before the run starts does not stop it.
    run("1000\n1\n");
    EXPECT_EQ(M.step_count, 1);
    EXPECT_EQ(M.CMAR, 1u);
    EXPECT_EQ(M.stop_flag, 0);
}

TEST_F(RunTest, PrinterOutputReachesItsFileWhenTheRunEnds)
{
    const std::filesystem::path home = std::filesystem::current_path();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kalvo3_run_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);

    // R1 <- ED01 (the printer's output instruction, as the word's own low
    // 16 bits); IR <- R1; R0 <- 'K'; IOBUS <- R0; start the output; halt
    // (the output completes in the halting cycle).
    M.CM[0] = micro{.rbf = 11, .sbf = 1, .tsf = 7, .exf = 6, .adf = 0x101}.word();
    M.CM[1] = micro{.lbf = 1, .exf = 4}.word();
    M.CM[2] = micro{.rbf = 10, .sbf = 0, .adf = 'K'}.word();
    M.CM[3] = micro{.lbf = 0, .exf = 5}.word();
    M.CM[4] = micro{.exf = 7}.word();
    M.CM[5] = HALT.word();
    run("0\n10\n");

    FILE *printer = fopen("KALV.LPT", "r");
    ASSERT_NE(printer, nullptr);
    char text[8] = {};
    size_t length = fread(text, 1, sizeof text - 1, printer);
    fclose(printer);
    close_devices();
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);

    EXPECT_EQ(M.step_count, 6);
    EXPECT_EQ(std::string(text, length), "K");
    EXPECT_EQ(errors(), none());
}
