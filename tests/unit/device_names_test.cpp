// Device names typed at "  DEVICE ?": register numbers, the name table, end tokens.
#include <gtest/gtest.h>

#include <string>

#include "console/device_names.hpp"
#include "core/machine_state.hpp"
#include "tests/unit/stdin_feed.hpp"

namespace {

struct parsed {
    int code;
    int index;
    bool error;        // error 7 was reported
    std::string out;   // everything printed
};

parsed parse(const std::string &answer)
{
    StdinFeed feed(answer);
    StdoutCapture capture;
    M.stop_flag = 0;
    parsed p{};
    p.index = 99;
    p.code = parse_device_name(p.index);
    p.out = capture.text();
    p.error = M.stop_flag != 0;
    return p;
}

void expect_register(const std::string &answer, int index)
{
    parsed p = parse(answer);
    EXPECT_EQ(p.code, DEV_REGISTER) << answer;
    EXPECT_EQ(p.index, index) << answer;
    EXPECT_FALSE(p.error) << answer;
}

void expect_name(const std::string &answer, int code)
{
    parsed p = parse(answer);
    EXPECT_EQ(p.code, code) << answer;
    EXPECT_EQ(p.index, -1) << answer;
    EXPECT_FALSE(p.error) << answer;
}

void expect_rejected(const std::string &answer)
{
    parsed p = parse(answer);
    EXPECT_EQ(p.code, DEV_UNKNOWN) << answer;
    EXPECT_EQ(p.index, -1) << answer;
    EXPECT_TRUE(p.error) << answer;
    EXPECT_EQ(p.out, "  DEVICE ?\nERROR 7\n ILLEGAL INPUT COMMAND OR DATA !\n") << answer;
}

}  // namespace

TEST(DeviceNames, AsksOnceAndReadsOneLine)
{
    StdinFeed feed("pc\nir\n");
    StdoutCapture capture;
    int index;
    EXPECT_EQ(parse_device_name(index), DEV_PC);
    EXPECT_EQ(capture.text(), "  DEVICE ?");
    EXPECT_EQ(parse_device_name(index), DEV_IR);
}

TEST(DeviceNames, RegisterNumbersAreDecimalDigitsUpToTheFirstNonDigit)
{
    expect_register("R0\n", 0);
    expect_register("r3\n", 3);
    expect_register("R07\n", 7);
    expect_register("R1A\n", 1);
    expect_register("R5 \n", 5);
    expect_register("  r6\n", 6);
    expect_rejected("R8\n");
    expect_rejected("R12\n");
    expect_rejected("R99999999999\n");
    expect_rejected("R\n");
    expect_rejected("R 3\n");
    expect_rejected("R-1\n");
}

TEST(DeviceNames, WholeNamesInAnyCase)
{
    expect_name("PC\n", DEV_PC);
    expect_name("ir\n", DEV_IR);
    expect_name("LBus\n", DEV_LBUS);
    expect_name("sbus\n", DEV_SBUS);
    expect_name("ABUS\n", DEV_ABUS);
    expect_name("iobus\n", DEV_IOBUS);
    expect_name("FSR\n", DEV_FSR);
    expect_name("RBUS\n", DEV_RBUS);   // R without a digit goes to the table
    expect_name("rbus\n", DEV_RBUS);
    expect_name("CM\n", DEV_CM);
    expect_name("mm\n", DEV_MM);
    expect_name("MAR\n", DEV_MAR);
    expect_name("CMAR\n", DEV_CMAR);
    expect_name("c\n", DEV_C);
    expect_name("flag\n", DEV_FLAG);
}

TEST(DeviceNames, NoPrefixesAndNoTrailingBlanks)
{
    expect_rejected("CMA\n");
    expect_rejected("CMARX\n");
    expect_rejected("PC \n");
    expect_rejected("C\t\n");
    expect_rejected("FLAGS\n");
    expect_rejected("P C\n");
    expect_rejected("R*X\n");
    expect_rejected("xyz\n");
}

TEST(DeviceNames, GroupNames)
{
    expect_name("*\n", DEV_ALL);
    expect_name("R*\n", DEV_ALL_REGS);
    expect_name("r*\n", DEV_ALL_REGS);
    expect_name("B*\n", DEV_ALL_BUSES);
    expect_name("b*\n", DEV_ALL_BUSES);
}

TEST(DeviceNames, EndTokensAndEndOfInputEndTheList)
{
    expect_name(".\n", DEV_END);
    expect_name(".PC\n", DEV_END);
    expect_name("\n", DEV_END);
    expect_name("   \t\n", DEV_END);
    expect_name("", DEV_END);
}
