// Break point and trace point tables and their menu.
#include <gtest/gtest.h>

#include <string>

#include "console/points.hpp"
#include "core/machine_state.hpp"
#include "tests/unit/stdin_feed.hpp"

namespace {

class PointTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_registers();
        M.stop_flag = 0;
    }
};

void fill_break_points()
{
    for (int i = 0; i < POINT_SLOTS; i++) set_point(M.break_points, 0x100 + i, ERR_BREAK_OVERFLOW);
}

}  // namespace

TEST_F(PointTable, SetTakesLowestFreeSlotAndIgnoresDuplicates)
{
    set_point(M.break_points, 0x1A, ERR_BREAK_OVERFLOW);
    set_point(M.break_points, 0x2B, ERR_BREAK_OVERFLOW);
    set_point(M.break_points, 0x1A, ERR_BREAK_OVERFLOW);
    EXPECT_EQ(M.break_points[0].address, 0x1A);
    EXPECT_EQ(M.break_points[1].address, 0x2B);
    EXPECT_FALSE(M.break_points[2].in_use);

    clear_point(M.break_points, 0x1A);
    EXPECT_FALSE(M.break_points[0].in_use);
    EXPECT_EQ(M.break_points[0].address, 0x1A);   // freed, address kept
    set_point(M.break_points, 0x3C, ERR_BREAK_OVERFLOW);
    EXPECT_TRUE(M.break_points[0].in_use);
    EXPECT_EQ(M.break_points[0].address, 0x3C);
    EXPECT_FALSE(M.break_points[2].in_use);
}

TEST_F(PointTable, DuplicateOfFreedAddressIsSetAgain)
{
    set_point(M.trace_points, 0x40, ERR_TRACE_OVERFLOW);
    set_point(M.trace_points, 0x41, ERR_TRACE_OVERFLOW);
    clear_point(M.trace_points, 0x40);
    set_point(M.trace_points, 0x41, ERR_TRACE_OVERFLOW);   // still held by slot 1
    EXPECT_FALSE(M.trace_points[0].in_use);
    set_point(M.trace_points, 0x40, ERR_TRACE_OVERFLOW);
    EXPECT_TRUE(M.trace_points[0].in_use);
}

TEST_F(PointTable, ThirtyThirdPointReportsOverflowAndStoresNothing)
{
    fill_break_points();
    EXPECT_EQ(M.stop_flag, 0);
    point_slot before[POINT_SLOTS];
    std::copy(std::begin(M.break_points), std::end(M.break_points), before);
    {
        StdoutCapture out;
        set_point(M.break_points, 0x200, ERR_BREAK_OVERFLOW);
        EXPECT_EQ(out.text(), "\nERROR 15\n THE NUMBER OF BREAK POINT IS OVERFLOW\n");
    }
    EXPECT_EQ(M.stop_flag, 1);
    for (int i = 0; i < POINT_SLOTS; i++) {
        EXPECT_TRUE(M.break_points[i].in_use);
        EXPECT_EQ(M.break_points[i].address, before[i].address);
    }
    // An address the full table already holds is no overflow.
    StdoutCapture out;
    set_point(M.break_points, 0x105, ERR_BREAK_OVERFLOW);
    EXPECT_EQ(out.text(), "");
}

TEST_F(PointTable, TraceTableOverflowIsErrorSixteen)
{
    for (int i = 0; i < POINT_SLOTS; i++) set_point(M.trace_points, i, ERR_TRACE_OVERFLOW);
    StdoutCapture out;
    set_point(M.trace_points, 0x7FF, ERR_TRACE_OVERFLOW);
    EXPECT_EQ(out.text(), "\nERROR 16\n THE NUMBER OF TRACE POINT IS OVERFLOW\n");
}

TEST_F(PointTable, ClearUnknownAddressIsSilentAndAnyInUseFollowsTable)
{
    EXPECT_FALSE(any_point_in_use(M.break_points));
    set_point(M.break_points, 0x31, ERR_BREAK_OVERFLOW);
    EXPECT_TRUE(any_point_in_use(M.break_points));
    StdoutCapture out;
    clear_point(M.break_points, 0x32);
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(any_point_in_use(M.break_points));
    clear_point(M.break_points, 0x31);
    EXPECT_FALSE(any_point_in_use(M.break_points));
}

TEST_F(PointTable, LeavingTheMenuRecomputesItsFlag)
{
    {
        StdinFeed feed("s\n10\n.\n.\n");
        StdoutCapture out;
        break_point_menu();
    }
    EXPECT_EQ(M.break_active, 1);
    EXPECT_EQ(M.trace_active, 0);
    {
        StdinFeed feed("R\n10\n.\n.\n");
        StdoutCapture out;
        break_point_menu();
    }
    EXPECT_EQ(M.break_active, 0);

    // End of input inside the address loop still recomputes the flag.
    {
        StdinFeed feed("set\n7ff");
        StdoutCapture out;
        trace_point_menu();
        EXPECT_EQ(out.text(), "   TA?    ADRS ?    ADRS ?   TA?");
    }
    EXPECT_EQ(M.trace_active, 1);
    EXPECT_EQ(M.trace_points[0].address, 0x7FF);
}

TEST_F(PointTable, OutOfRangeAddressIsReportedOnceAndKeptAsTyped)
{
    StdinFeed feed("s\n1000\n-1\n\n.\nd\n.\n");
    StdoutCapture out;
    break_point_menu();
    const std::string error4 = "\nERROR 4\n OUT OF CM ADDRESS LIMIT (0-FFF) ! \n";
    EXPECT_EQ(out.text(), "BREAK POINT\n  B?   ADRS ?" + error4 + "   ADRS ?" + error4 +
                              "   ADRS ?   ADRS ?  B?     1000\n     FFFFFFFF\n     0000\n  B?");
    EXPECT_EQ(M.break_points[1].address, -1);
    EXPECT_EQ(M.break_active, 1);
}
