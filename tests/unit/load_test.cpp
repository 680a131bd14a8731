// Load-file parsing (header and data lines) and whole-memory loads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "console/load.hpp"
#include "core/machine_state.hpp"
#include "tests/unit/stdin_feed.hpp"

namespace {

struct parsed {
    bool has_value;
    uint32_t address;
    uint64_t value;
};

parsed parse(load_target target, const char *line)
{
    parsed p{false, 0xDEAD, 0xDEAD};
    p.has_value = load_file_line(target, line, p.address, p.value);
    return p;
}

}  // namespace

TEST(LoadFileHeader, OnlyUpperCaseNameInColumnsZeroAndOne)
{
    EXPECT_EQ(load_file_header("CM\n"), LOAD_CM);
    EXPECT_EQ(load_file_header("CM microprogram, anything may follow\n"), LOAD_CM);
    EXPECT_EQ(load_file_header("CMM\n"), LOAD_CM);
    EXPECT_EQ(load_file_header("MM"), LOAD_MM);
    EXPECT_EQ(load_file_header("MMCM\n"), LOAD_MM);

    EXPECT_EQ(load_file_header("cm\n"), LOAD_INVALID);
    EXPECT_EQ(load_file_header("Cm\n"), LOAD_INVALID);
    EXPECT_EQ(load_file_header("C\n"), LOAD_INVALID);
    EXPECT_EQ(load_file_header("C"), LOAD_INVALID);
    EXPECT_EQ(load_file_header("MC\n"), LOAD_INVALID);
    EXPECT_EQ(load_file_header(" CM\n"), LOAD_INVALID);
    EXPECT_EQ(load_file_header("\n"), LOAD_INVALID);
    EXPECT_EQ(load_file_header(""), LOAD_INVALID);
}

TEST(LoadFileLine, ValueReadFromItsFixedColumn)
{
    parsed p = parse(LOAD_CM, "001  12345ABCDE  comment\n");
    EXPECT_TRUE(p.has_value);
    EXPECT_EQ(p.address, 0x001u);
    EXPECT_EQ(p.value, 0x12345ABCDEu);

    // Two address digits: the value starts in column 4 and loses its first digit.
    p = parse(LOAD_CM, "10  1234567890\n");
    EXPECT_EQ(p.address, 0x10u);
    EXPECT_EQ(p.value, 0x234567890u);

    // Whatever stands between the address and the value column is ignored.
    p = parse(LOAD_CM, "7xx  0000000ABC\n");
    EXPECT_EQ(p.address, 7u);
    EXPECT_EQ(p.value, 0xABCu);

    // MM: column 6, and the value as the unsigned 32-bit conversion gives it.
    p = parse(LOAD_MM, "0100  ABCD\n");
    EXPECT_EQ(p.address, 0x100u);
    EXPECT_EQ(p.value, 0xABCDu);
    p = parse(LOAD_MM, "0101  12345\n");
    EXPECT_EQ(p.value, 0x12345u);
    p = parse(LOAD_MM, "0102  -1\n");
    EXPECT_EQ(p.value, 0xFFFFFFFFu);
    // Column 5 of an MM line is not the value column.
    p = parse(LOAD_MM, "0103 1234\n");
    EXPECT_EQ(p.value, 0x234u);

    // The address: leading white space skipped, no digits gives 0, no range check.
    EXPECT_EQ(parse(LOAD_CM, "  5  0000000001\n").address, 5u);
    EXPECT_EQ(parse(LOAD_CM, "xyz  0000000001\n").address, 0u);
    EXPECT_EQ(parse(LOAD_CM, "1000  0000000001\n").address, 0x1000u);
    EXPECT_EQ(parse(LOAD_MM, "-1    0001\n").address, 0xFFFFFFFFu);
}

TEST(LoadFileLine, CmValueKeepsEveryBit)
{
    EXPECT_EQ(parse(LOAD_CM, "000  FFFFFFFFFF\n").value, 0xFFFFFFFFFFu);
    EXPECT_EQ(parse(LOAD_CM, "000  1FFFFFFFFFF\n").value, 0x1FFFFFFFFFFu);
    EXPECT_EQ(parse(LOAD_CM, "000  -1\n").value, UINT64_MAX);
    EXPECT_EQ(parse(LOAD_CM, "000  123456789ABCDEF0123\n").value, uint64_t{INT64_MAX});
}

TEST(LoadFileLine, LineEndingBeforeItsValueColumnHasNoValue)
{
    // Fewer characters than the value column, the newline counted.
    for (const char *line : {"", "\n", "0\n", "010\n", "0010", "\r\n"}) {
        EXPECT_FALSE(parse(LOAD_CM, line).has_value) << line;
        EXPECT_FALSE(parse(LOAD_MM, line).has_value) << line;
    }
    EXPECT_FALSE(parse(LOAD_MM, "0010\n").has_value);
    EXPECT_FALSE(parse(LOAD_MM, "00010").has_value);

    // A line that reaches its value column has a value field, empty here.
    parsed p = parse(LOAD_CM, "0010\n");
    EXPECT_TRUE(p.has_value);
    EXPECT_EQ(p.address, 0x10u);
    EXPECT_EQ(p.value, 0u);
    p = parse(LOAD_MM, "0010 \n");
    EXPECT_TRUE(p.has_value);
    EXPECT_EQ(p.value, 0u);

    // The invalid target has no data lines.
    EXPECT_FALSE(parse(LOAD_INVALID, "000  1234567890\n").has_value);
}

TEST(LoadFileLine, ShortLineNeverReadsAnEarlierLinesText)
{
    // The buffer as a line reader leaves it: a short line written over a
    // longer one, whose text still stands after the short line's end.
    char buffer[64] = "002  2222222222\n";
    strcpy(buffer, "00A\n");
    ASSERT_EQ(buffer[5], '2');
    EXPECT_FALSE(parse(LOAD_CM, buffer).has_value);
    EXPECT_FALSE(parse(LOAD_MM, buffer).has_value);

    // A NUL byte inside a line ends its text for the loader too.
    const char with_nul[] = "00B\0  3333333333\n";
    EXPECT_FALSE(parse(LOAD_CM, with_nul).has_value);
}

// The line reader hands on each line's first 511 characters before reading
// more of it: a visitor that stops at a piece leaves the rest unread (the
// header of an endless stream), and one that goes on has the rest of the line
// skipped, up to the bound past which the reading ends.
TEST(LoadFileLines, PiecesAndTheBoundOfALine)
{
    const std::string piece(LOAD_LINE_SIZE - 1, 'x');
    const std::string past_bound(LOAD_LINE_LIMIT, ' ');
    const struct {
        std::string text;
        int stop_after;   // lines visited before the visitor says stop, 0: never
        std::vector<std::string> lines;
        load_read_end end;
        long left;   // bytes left unread
    } cases[] = {
        {"CM\n1\r2\r\n3", 0, {"CM\n", "1\r", "2\r\n", "3"}, LOAD_READ_END, 0},
        {piece + "yz\n4\n", 0, {piece, "4\n"}, LOAD_READ_END, 0},
        {piece + "yz\n4\n", 1, {piece}, LOAD_READ_STOPPED, 5},
        {"MM" + past_bound + "\n5\n", 0, {"MM" + std::string(LOAD_LINE_SIZE - 3, ' ')}, LOAD_READ_TOO_LONG, 5},
        {"MM" + past_bound.substr(3) + "\n5\n",
         0,
         {"MM" + std::string(LOAD_LINE_SIZE - 3, ' '), "5\n"},
         LOAD_READ_END,
         0},
    };
    for (const auto &c : cases) {
        FILE *file = fmemopen(const_cast<char *>(c.text.data()), c.text.size(), "r");
        ASSERT_NE(file, nullptr);
        std::vector<std::string> lines;
        const load_read_end end = read_load_lines(file, [&](const char *line) {
            lines.emplace_back(line);
            return c.stop_after == 0 || static_cast<int>(lines.size()) < c.stop_after;
        });
        EXPECT_EQ(end, c.end) << c.text.substr(0, 40);
        EXPECT_EQ(lines, c.lines) << c.text.substr(0, 40);
        EXPECT_EQ(static_cast<long>(c.text.size()) - ftell(file), c.left) << c.text.substr(0, 40);
        fclose(file);
    }
}

namespace {

// A fresh working directory for the files of one test.
class LoadCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        home_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() /
               ("kalvo3_load_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
        clear_control_memory();
        clear_main_memory();
        M.stop_flag = 0;
    }
    void TearDown() override
    {
        std::filesystem::current_path(home_);
        std::filesystem::remove_all(dir_);
    }

    static void write_file(const char *name, const std::string &text)
    {
        FILE *file = fopen(name, "w");
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }

    // The Load command answered with name; returns what it printed.
    static std::string load(const std::string &name)
    {
        StdinFeed feed(name + "\n");
        StdoutCapture out;
        load_command();
        return out.text();
    }

private:
    std::filesystem::path home_, dir_;
};

}  // namespace

TEST_F(LoadCommand, EveryWordOfBothMemories)
{
    std::string cm = "CM all words\n";
    char line[64];
    for (int address = 0; address < CM_WORDS; address++) {
        snprintf(line, sizeof line, "%03X  %010llX\n", address,
                 0x1000000001ull * static_cast<unsigned>(address + 1));
        cm += line;
    }
    std::string mm = "MM all words\n";
    for (int address = 0; address < MM_WORDS; address++) {
        snprintf(line, sizeof line, "%04X  %04X\n", address, address ^ 0x5A5A);
        mm += line;
    }
    write_file("all.cm", cm);
    write_file("all.mm", mm);

    auto start = std::chrono::steady_clock::now();
    std::string said = load("all.cm") + load("all.mm");
    auto elapsed = std::chrono::steady_clock::now() - start;
    RecordProperty("load_microseconds",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));

    EXPECT_EQ(said, "LOAD\n  FILE NAME=?  LOADING 'all.cm'\n LOADED TO CM\n"
                    "LOAD\n  FILE NAME=?  LOADING 'all.mm'\n LOADED TO MM\n");
    EXPECT_EQ(M.stop_flag, 0);
    int wrong = 0;
    for (int address = 0; address < CM_WORDS; address++)
        wrong += M.CM[address] != 0x1000000001ull * static_cast<unsigned>(address + 1);
    for (int address = 0; address < MM_WORDS; address++)
        wrong += M.MM[address] != (address ^ 0x5A5A);
    EXPECT_EQ(wrong, 0);
}
