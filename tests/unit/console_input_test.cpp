// Line input and the hexadecimal and decimal conversions.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console/line_input.hpp"
#include "core/machine_state.hpp"
#include "tests/unit/stdin_feed.hpp"

TEST(HexConversion, SignedThirtyTwoSaturatesAndNegates)
{
    EXPECT_EQ(hex_to_i32("7FFFFFFF"), INT32_MAX);
    EXPECT_EQ(hex_to_i32("80000000"), INT32_MAX);
    EXPECT_EQ(hex_to_i32("FFFFFFFFF"), INT32_MAX);
    EXPECT_EQ(hex_to_i32("-1"), -1);
    EXPECT_EQ(hex_to_i32("-80000000"), INT32_MIN);
    EXPECT_EQ(hex_to_i32("-80000001"), INT32_MIN);
    EXPECT_EQ(hex_to_i32("-FFFFFFFFFFFFFFFFFFFF"), INT32_MIN);
    EXPECT_EQ(hex_to_i32("+1f"), 0x1F);
}

TEST(HexConversion, PrefixDigitsAndStops)
{
    EXPECT_EQ(hex_to_i32("0x1A"), 0x1A);
    EXPECT_EQ(hex_to_i32("0X1a"), 0x1A);
    EXPECT_EQ(hex_to_i32("-0x10"), -0x10);
    EXPECT_EQ(hex_to_i32("0xg"), 0);        // the prefix needs a digit after it
    EXPECT_EQ(hex_to_i32("  \t12 34"), 0x12);
    EXPECT_EQ(hex_to_i32("CNT"), 0xC);
    EXPECT_EQ(hex_to_i32(""), 0);
    EXPECT_EQ(hex_to_i32("."), 0);
    EXPECT_EQ(hex_to_i32("xyz"), 0);
    EXPECT_EQ(hex_to_i32("- 5"), 0);        // no digit right after the sign
}

TEST(HexConversion, UnsignedThirtyTwo)
{
    EXPECT_EQ(hex_to_u32("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(hex_to_u32("100000000"), 0xFFFFFFFFu);
    EXPECT_EQ(hex_to_u32("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(hex_to_u32("-100000000"), 0xFFFFFFFFu);
    EXPECT_EQ(hex_to_u32("-10"), 0xFFFFFFF0u);
    EXPECT_EQ(hex_to_u32("1000"), 0x1000u);
}

TEST(HexConversion, SignedSixtyFour)
{
    EXPECT_EQ(hex_to_i64("FFFFFFFFFF"), 0xFFFFFFFFFFLL);
    EXPECT_EQ(hex_to_i64("1FFFFFFFFFF"), 0x1FFFFFFFFFFLL);
    EXPECT_EQ(hex_to_i64("8000000000000000"), INT64_MAX);
    EXPECT_EQ(hex_to_i64("123456789ABCDEF0123"), INT64_MAX);
    EXPECT_EQ(hex_to_i64("-1"), -1);
    EXPECT_EQ(hex_to_i64("-8000000000000000"), INT64_MIN);
    EXPECT_EQ(hex_to_i64("-8000000000000001"), INT64_MIN);
}

TEST(DecimalConversion, AtoiWithSaturation)
{
    EXPECT_EQ(decimal_to_i32("50000000"), 50000000);
    EXPECT_EQ(decimal_to_i32("-3"), -3);
    EXPECT_EQ(decimal_to_i32("12abc"), 12);
    EXPECT_EQ(decimal_to_i32("abc"), 0);
    EXPECT_EQ(decimal_to_i32("2147483647"), INT32_MAX);
    EXPECT_EQ(decimal_to_i32("2147483648"), INT32_MAX);
    EXPECT_EQ(decimal_to_i32("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(decimal_to_i32("-2147483648"), INT32_MIN);
    EXPECT_EQ(decimal_to_i32("-99999999999999999999"), INT32_MIN);
}

TEST(LineInput, NormalisesAndTellsEndTokens)
{
    StdinFeed feed(" \t x y \n\n   \n.5\r\nlast");
    char line[LINE_SIZE];
    ASSERT_TRUE(read_console_line(line));
    EXPECT_STREQ(line, "x y ");
    ASSERT_TRUE(read_console_line(line));
    EXPECT_TRUE(is_end_token(line));
    ASSERT_TRUE(read_console_line(line));
    EXPECT_STREQ(line, "");
    ASSERT_TRUE(read_console_line(line));
    EXPECT_STREQ(line, ".5");
    EXPECT_TRUE(is_end_token(line));
    ASSERT_TRUE(read_console_line(line));
    EXPECT_STREQ(line, "last");
    EXPECT_FALSE(is_end_token(line));
    EXPECT_FALSE(read_console_line(line));
    EXPECT_STREQ(line, "");
}

TEST(LineInput, LongLinesArriveInPiecesOf511)
{
    std::string long_line(600, 'a');
    long_line[510] = 'b';
    long_line[511] = 'c';
    StdinFeed feed(long_line + "\nnext\n");
    char line[LINE_SIZE];
    ASSERT_TRUE(read_console_line(line));
    EXPECT_EQ(std::string(line), long_line.substr(0, 511));
    ASSERT_TRUE(read_console_line(line));
    EXPECT_EQ(std::string(line), long_line.substr(511));
    ASSERT_TRUE(read_console_line(line));
    EXPECT_STREQ(line, "next");
}

TEST(LineInput, CrLfSplitAtThePieceEndIsOneNewline)
{
    StdinFeed feed(std::string(510, 'z') + "\r\nafter\n");
    char line[LINE_SIZE];
    ASSERT_TRUE(read_console_line(line));
    EXPECT_EQ(std::string(line), std::string(510, 'z'));
    ASSERT_TRUE(read_console_line(line));
    EXPECT_STREQ(line, "after");
}

TEST(ValueReaders, HexValueEndFlagAndAddresses)
{
    StdinFeed feed("FFFFFFFFF\n-1\n.\n\n12\nFFF\n1000\n-1\nFFFF\n10000\n");
    int end = -1;
    EXPECT_EQ(read_hex_value(&end), INT32_MAX);
    EXPECT_EQ(end, 0);
    EXPECT_EQ(read_hex_value(), -1);
    EXPECT_EQ(read_hex_value(&end), 0);
    EXPECT_EQ(end, 1);
    EXPECT_EQ(read_hex_value(&end), 0);
    EXPECT_EQ(end, 1);
    EXPECT_EQ(read_hex_value(&end), 0x12);
    EXPECT_EQ(end, 0);

    M.stop_flag = 0;
    EXPECT_EQ(read_cm_address(), 0xFFFu);
    EXPECT_EQ(M.stop_flag, 0);
    EXPECT_EQ(read_cm_address(), 0x1000u);
    EXPECT_EQ(M.stop_flag, 1);
    EXPECT_EQ(read_cm_address(), 0xFFFFFFFFu);
    M.stop_flag = 0;
    EXPECT_EQ(read_mm_address(), 0xFFFFu);
    EXPECT_EQ(M.stop_flag, 0);
    EXPECT_EQ(read_mm_address(), 0x10000u);
    EXPECT_EQ(M.stop_flag, 1);
    EXPECT_EQ(read_mm_address(), 0u);   // end of input reads as address 0
}

TEST(ValueReaders, FlagAnswers)
{
    StdinFeed feed("0\n1\nT\nF\nf\n\n1xyz\n");
    M.stop_flag = 0;
    EXPECT_EQ(read_flag_value(), 0);
    EXPECT_EQ(read_flag_value(), 1);
    EXPECT_EQ(read_flag_value(), 1);
    EXPECT_EQ(read_flag_value(), 0);
    EXPECT_EQ(M.stop_flag, 0);
    EXPECT_EQ(read_flag_value(), 1);   // lower case is rejected
    EXPECT_EQ(M.stop_flag, 1);
    EXPECT_EQ(read_flag_value(), 1);   // so is an empty answer
    EXPECT_EQ(read_flag_value(), 1);
}
