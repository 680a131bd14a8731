// Trace display columns and the display selection.
#include <gtest/gtest.h>

#include <string>

#include "console/device_names.hpp"
#include "console/trace.hpp"
#include "core/machine_state.hpp"
#include "tests/unit/stdin_feed.hpp"

namespace {

class TraceDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_registers();
        M.stop_flag = 0;
    }
};

std::string header()
{
    StdoutCapture out;
    print_trace_header();
    return out.text();
}

std::string line()
{
    StdoutCapture out;
    print_trace_line();
    return out.text();
}

void select(const std::string &names)
{
    StdinFeed feed(names);
    StdoutCapture out;
    select_trace_devices(1);
}

void deselect(const std::string &names)
{
    StdinFeed feed(names);
    StdoutCapture out;
    select_trace_devices(0);
}

void select_only(device_code code)
{
    for (int &shown : M.trace_select) shown = 0;
    M.trace_select[code] = 1;
}

}  // namespace

TEST_F(TraceDisplay, ResetSelectionShowsCmarAlone)
{
    M.CMAR = 0x1F;
    EXPECT_EQ(header(), "CMAR \n");
    EXPECT_EQ(line(), "01F  \n");
}

TEST_F(TraceDisplay, NothingSelectedGivesEmptyLines)
{
    M.trace_select[DEV_CMAR] = 0;
    M.reg_trace_select[2] = 1;   // no register column without its column flag
    EXPECT_EQ(header(), "\n");
    EXPECT_EQ(line(), "\n");
}

TEST_F(TraceDisplay, EveryColumnInOrder)
{
    for (int &shown : M.trace_select) shown = 1;
    for (int &shown : M.reg_trace_select) shown = 1;
    M.CMAR = 0x123;
    M.MAR = 0xBEEF;
    M.C = 0x7;
    M.PC = 0x1234;
    M.IR = 0xABCD;
    M.NEG = M.OVR = M.T = 1;
    M.CZ = 1;   // stale: C is not 0
    M.FSR = 0xA;
    for (int n = 0; n < REGISTERS; n++) M.R[n] = static_cast<uint16_t>(0x1111 * n);
    M.LBUS = 0x0001;
    M.RBUS = 0x0002;
    M.ABUS = 0x0003;
    M.SBUS = 0x0004;
    M.IOBUS = 0x0005;
    EXPECT_EQ(header(), "CMAR MAR  C   PC   IR  ZNCOCT FSR  R0   R1   R2   R3   R4   R5   R6   R7  "
                        "LBUS RBUS ABUS SBUS IOBUS \n");
    EXPECT_EQ(line(), "123  BEEF 07 1234 ABCD 010101  A  0000 1111 2222 3333 4444 5555 6666 7777 "
                      "0001 0002 0003 0004 0005 \n");
}

TEST_F(TraceDisplay, CounterZeroComesFromTheCounter)
{
    select_only(DEV_FLAG);
    M.ZER = M.CRY = 1;
    M.C = 0;
    M.CZ = 0;
    EXPECT_EQ(line(), "101010 \n");
    M.C = 0x80;
    M.CZ = 1;
    EXPECT_EQ(line(), "101000 \n");
}

TEST_F(TraceDisplay, WideValuesGrowTheirColumns)
{
    // Values the sequencer or the Change command can leave beyond the usual width.
    M.trace_select[DEV_MAR] = 1;
    M.CMAR = 0x1000;
    M.MAR = 0x10000;
    EXPECT_EQ(line(), "1000  10000 \n");
    M.CMAR = 0xFFFFFFFF;
    M.MAR = 0;
    EXPECT_EQ(line(), "FFFFFFFF  0000 \n");
}

TEST_F(TraceDisplay, EachValueSitsUnderItsHeaderExceptIobus)
{
    const device_code columns[] = {DEV_CMAR, DEV_MAR,  DEV_C,    DEV_PC,   DEV_IR,  DEV_FLAG,
                                   DEV_FSR,  DEV_LBUS, DEV_RBUS, DEV_ABUS, DEV_SBUS};
    for (device_code code : columns) {
        select_only(code);
        EXPECT_EQ(header().size(), line().size()) << "device code " << code;
    }
    select_only(DEV_IOBUS);
    EXPECT_EQ(header(), "IOBUS \n");
    EXPECT_EQ(line(), "0000 \n");
}

TEST_F(TraceDisplay, RegistersShowInNumberOrder)
{
    select("R5\nr3\n.\n");
    M.R[3] = 0x33;
    M.R[5] = 0x55;
    EXPECT_EQ(header(), "CMAR  R3   R5  \n");
    EXPECT_EQ(line(), "000  0033 0055 \n");
}

TEST_F(TraceDisplay, RegisterColumnFlagFollowsTheLastRegisterNamed)
{
    select("R1\nR2\n.\n");
    deselect("R1\n.\n");
    EXPECT_EQ(M.reg_trace_select[2], 1);
    EXPECT_EQ(header(), "CMAR \n");
    select("R5\n.\n");
    EXPECT_EQ(header(), "CMAR  R2   R5  \n");
}

TEST_F(TraceDisplay, GroupNamesSetTheirMembers)
{
    M.trace_select[DEV_CMAR] = 0;
    select("*\n\n");
    EXPECT_EQ(header(), "CMAR MAR  C   PC   IR  ZNCOCT FSR  R0   R1   R2   R3   R4   R5   R6   R7  \n");
    select("b*\n.\n");
    for (device_code bus : {DEV_LBUS, DEV_RBUS, DEV_SBUS, DEV_ABUS, DEV_IOBUS}) EXPECT_EQ(M.trace_select[bus], 1);
    deselect("r*\n.\n");
    for (int shown : M.reg_trace_select) EXPECT_EQ(shown, 0);
    EXPECT_EQ(M.trace_select[DEV_REGISTER], 0);
    deselect("*\n.\n");
    EXPECT_EQ(header(), "LBUS RBUS ABUS SBUS IOBUS \n");
    // The group entries themselves are never written.
    for (int code = DEV_ALL; code <= DEV_ALL_BUSES; code++) EXPECT_EQ(M.trace_select[code], 0);
}

TEST_F(TraceDisplay, MemoriesAreSelectableButShowNoColumn)
{
    select("CM\nmm\n.\n");
    EXPECT_EQ(M.trace_select[DEV_CM], 1);
    EXPECT_EQ(M.trace_select[DEV_MM], 1);
    EXPECT_EQ(header(), "CMAR \n");
}

TEST_F(TraceDisplay, UnknownNameIsReportedAndTheLoopGoesOn)
{
    StdinFeed feed("PCX\npc\n");   // then end of input ends the loop
    StdoutCapture out;
    select_trace_devices(1);
    EXPECT_EQ(out.text(), "   DEVICE ?\nERROR 7\n ILLEGAL INPUT COMMAND OR DATA !\n   DEVICE ?   DEVICE ?");
    EXPECT_EQ(M.trace_select[DEV_PC], 1);
}
