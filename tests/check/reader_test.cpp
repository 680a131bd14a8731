// The check-file reader: what a good file sets up for each case, and the
// message (with its line) for each kind of mistake.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "api/kalvo3_api.h"
#include "check/check_file.hpp"
#include "check/runner.hpp"

namespace {

using check::expect_kind;

TEST(CheckReader, CommonPartAndCasesMerge)
{
    const char *text =
        "# a comment\n"
        "cm prog.masm   ; the program\n"
        "mm @shared/data.mm\n"
        "start 010\n"
        "limit 5000\n"
        "cards \"ab\\n\" \"c\\x41\"\n"
        "expect error 12\n"
        "expect R3 = 00F\n"
        "\n"
        "case first\n"
        "  set r1=12\n"
        "  expect mm 0040..0042 = 7\n"
        "case second one\n"
        "  start 020\n"
        "  limit 9\n"
        "  cards file \"deck 2.txt\"\n"
        "  mm 0100 = 1 2 3\n"
        "  expect break 033\n"
        "  expect printer \"x\" \"y\\\"\"\n"
        "  expect printer ~ \"^a\\d+\\.$\"\n"
        "  expect steps <= 40\n";
    check::check_file file;
    std::vector<std::string> errors;
    ASSERT_TRUE(check::read_check_text("dir/t.check", text, file, errors)) << errors[0];
    EXPECT_EQ(file.dir, "dir");
    ASSERT_EQ(file.cases.size(), 2u);

    check::case_plan a = check::plan_case(file, file.cases[0]);
    EXPECT_EQ(a.name, "first");
    ASSERT_EQ(a.programs.size(), 2u);
    EXPECT_TRUE(a.programs[0].cm);
    EXPECT_FALSE(a.programs[0].file.shared);
    EXPECT_FALSE(a.programs[1].cm);
    EXPECT_TRUE(a.programs[1].file.shared);
    EXPECT_EQ(a.programs[1].file.name, "shared/data.mm");
    EXPECT_EQ(a.start, 0x10u);
    EXPECT_EQ(a.limit, 5000u);
    ASSERT_EQ(a.cards.size(), 2u);
    EXPECT_EQ(a.cards[0].text + a.cards[1].text, "ab\ncA");
    ASSERT_EQ(a.registers.size(), 1u);
    EXPECT_EQ(a.registers[0].reg, k3_register("R1"));
    EXPECT_EQ(a.registers[0].value, 0x12u);
    ASSERT_EQ(a.expectations.size(), 3u);   // the end first, then in file order
    EXPECT_EQ(a.expectations[0].end, check::run_end::error);
    EXPECT_EQ(a.expectations[0].number, 12u);
    EXPECT_EQ(a.expectations[1].kind, expect_kind::reg);
    EXPECT_EQ(a.expectations[1].digits, 3);
    EXPECT_EQ(a.expectations[2].kind, expect_kind::mm);
    EXPECT_EQ(a.expectations[2].count, 3u);
    EXPECT_EQ(a.expectations[2].line, 12);

    // A case's own start, limit, cards and end replace the common ones.
    check::case_plan b = check::plan_case(file, file.cases[1]);
    EXPECT_EQ(b.start, 0x20u);
    EXPECT_EQ(b.limit, 9u);
    ASSERT_EQ(b.cards.size(), 1u);
    EXPECT_TRUE(b.cards[0].from_file);
    EXPECT_EQ(b.cards[0].file.name, "deck 2.txt");
    EXPECT_EQ(b.expectations[0].end, check::run_end::break_point);
    EXPECT_EQ(b.breaks, std::vector<uint32_t>{0x33});   // set by the expectation
    ASSERT_EQ(b.words.size(), 1u);
    EXPECT_EQ(b.words[0].values.size(), 3u);
    ASSERT_EQ(b.expectations.size(), 5u);
    EXPECT_EQ(b.expectations[2].text, "xy\"");
    EXPECT_EQ(b.expectations[3].text, "^a\\d+\\.$");   // a pattern keeps its escapes
    EXPECT_EQ(b.expectations[4].op, "<=");
    EXPECT_EQ(b.expectations[4].steps, 40u);
}

TEST(CheckReader, FileWithoutCasesIsOneCaseExpectingAHalt)
{
    check::check_file file;
    std::vector<std::string> errors;
    ASSERT_TRUE(check::read_check_text("sum.check", "cm sum.cm\nexpect R0 = 3\n", file, errors));
    ASSERT_EQ(file.cases.size(), 1u);
    check::case_plan p = check::plan_case(file, file.cases[0]);
    EXPECT_EQ(p.name, "sum");
    EXPECT_EQ(p.limit, check::DEFAULT_LIMIT);
    ASSERT_EQ(p.expectations.size(), 2u);
    EXPECT_EQ(p.expectations[0].kind, expect_kind::run);
    EXPECT_EQ(p.expectations[0].end, check::run_end::halt);
}

// Reads `text` as t.check: accepted when `message` is "", else refused with
// that message alone.
void expect_read(const char *text, const char *message)
{
    check::check_file file;
    std::vector<std::string> errors;
    const bool read = check::read_check_text("t.check", text, file, errors);
    if (*message == '\0') {
        EXPECT_TRUE(read) << text << (errors.empty() ? "" : errors[0]);
        return;
    }
    EXPECT_FALSE(read) << text;
    ASSERT_EQ(errors.size(), 1u) << text;
    EXPECT_EQ(errors[0], message);
}

TEST(CheckReader, MistakesAreReportedWithTheirLines)
{
    const struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"frob x\n", "t.check:1: unknown directive 'frob' (case, cm, mm, set, start, limit, cards, break, symbols, "
                     "expect, continue, points, hidden, visibility, feedback)"},
        {"\n\nset R9 = 1\n",
         "t.check:3: 'R9' is no register (R0..R7, PC, IR, MAR, CMAR, C, FSR, the buses, the flags...)"},
        {"set ADF = 1\n", "t.check:1: ADF cannot be set"},
        {"set R1 1\n", "t.check:1: '=' is expected before '1'"},
        {"set R1 = 1 2\n", "t.check:1: unexpected '2' at the end of the line"},
        {"start 1000\n", "t.check:1: '1000' is not a CM address (000..FFF) (hexadecimal, at most FFF)"},
        {"limit 0\n", "t.check:1: the step limit must be 1 to 4294967295"},
        {"limit ten\n", "t.check:1: 'ten' is not a step limit (decimal)"},
        {"cards abc\n", "t.check:1: the card text is given in quotes: cards \"TEXT\" (or cards file NAME)"},
        {"cards \"a\\q\"\n", "t.check:1: unknown escape '\\q' (use \\n \\r \\t \\0 \\\\ \\\" \\xHH)"},
        {"cards \"abc\n", "t.check:1: the string has no closing '\"'"},
        {"cm prog.mdat\n", "t.check:1: prog.mdat is a main-memory data source: name it with mm"},
        {"mm prog.masm\n", "t.check:1: prog.masm is a microprogram source: name it with cm"},
        {"mm 0100 =\n", "t.check:1: the words are missing after '='"},
        {"mm FFFF = 1 2\n", "t.check:1: the words run past the end of the memory"},
        {"mm 0100 = 10000\n", "t.check:1: '10000' is not an MM word (hexadecimal, at most FFFF)"},
        {"cm\n", "t.check:1: a file name is missing"},
        {"case\n", "t.check:1: the case has no name"},
        {"case a\ncase b\ncase a\n", "t.check:3: a case named 'a' is already on line 1"},
        {"expect halt now\n", "t.check:1: unexpected 'now' at the end of the line"},
        {"expect error 0\n", "t.check:1: error numbers are 1 to 99"},
        {"expect steps 5\n", "t.check:1: a comparison is expected after steps: = <= < >= >"},
        {"expect mm 0040..003F = 0\n",
         "t.check:1: '0040..003F' is not an MM range: FIRST..LAST, hexadecimal, FIRST <= LAST"},
        {"expect mm 0040..0042 = 1 2\n",
         "t.check:1: the range 0040..0042 holds 3 words but 2 are given (give one for all, or one each)"},
        {"expect printer ~ \"(\"\n", "t.check:1: the pattern \"(\" is not a regular expression"},
        {"expect printer hello\n",
         "t.check:1: the printer text is given in quotes: expect printer \"TEXT\" (or file NAME, or ~ \"PATTERN\")"},
        {"expect\n",
         "t.check:1: what to expect (halt, error, limit, break, a register, mm, printer, steps) is missing"},
        {"= 5\n",
         "t.check:1: a line begins with a directive: case, cm, mm, set, start, limit, cards, break, symbols or expect"},
        // Runs that go on, points, visibility, feedback.
        {"continue\n", "t.check:1: continue belongs to a case: it goes on from where the case's run stopped"},
        {"case a\nexpect R1 = 1\ncontinue\n",
         "t.check:3: continue follows an expectation of how the run before ended (expect error 12, expect break ADDR, "
         "expect limit, expect halt)"},
        {"case a\nexpect error 12\ncontinue\ncontinue\n",
         "t.check:4: continue follows an expectation of how the run before ended (expect error 12, expect break ADDR, "
         "expect limit, expect halt)"},
        {"case a\nexpect halt\ncontinue now\n", "t.check:3: unexpected 'now' at the end of the line"},
        {"case a\nexpect error 12\ncontinue\ncm b.cm\n",
         "t.check:4: a file is loaded before the first run: after continue only words are stored (cm ADDR = WORD ...)"},
        {"case a\nexpect error 12\ncontinue\nlimit 5\n",
         "t.check:4: 'limit' is given before the first run: after continue come words (cm/mm ADDR = ...), set, cards "
         "and expect"},
        {"case a\nexpect error 12\ncontinue\nstart 010\n",
         "t.check:4: 'start' is given before the first run: after continue come words (cm/mm ADDR = ...), set, cards "
         "and expect"},
        {"points many\n", "t.check:1: 'many' is not a number of points (decimal)"},
        {"points 1000001\n", "t.check:1: points are 0 to 1000000"},
        {"case a\npoints 2 3\n", "t.check:2: unexpected '3' at the end of the line"},
        {"visibility secret\n", "t.check:1: 'secret' is no visibility (visible, hidden or after_due_date)"},
        {"hidden yes\n", "t.check:1: unexpected 'yes' at the end of the line"},
        {"feedback \"x\"\n", "t.check:1: feedback belongs to a case: the text shown when that case fails"},
        {"case a\nfeedback look\n", "t.check:2: the feedback is given in quotes: feedback \"TEXT\""},
    };
    for (const auto &c : cases) expect_read(c.text, c.message);

    // Every mistake of a file is reported, each with its own line.
    check::check_file file;
    std::vector<std::string> errors;
    EXPECT_FALSE(check::read_check_text("t.check", "cm a.cm\nstart x\ncase a\nexpect R1 = 1\nbreak 2000\n", file, errors));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].substr(0, 10), "t.check:2:");
    EXPECT_EQ(errors[1].substr(0, 10), "t.check:5:");
}

// Values the machine cannot hold are a slip of the check, not a grade: a
// register keeps what the console's Change keeps (MAR and CMAR all 32 bits).
TEST(CheckReader, ValuesTheMachineCannotHold)
{
    const struct {
        const char *text;
        const char *message;   // "" for a line that is accepted
    } cases[] = {
        {"set R5 = 12345\n", "t.check:1: '12345' does not fit R5 (at most FFFF)"},
        {"\nexpect R5 = 12345\n", "t.check:2: '12345' does not fit R5 (at most FFFF)"},
        {"set C = 100\n", "t.check:1: '100' does not fit C (at most FF)"},
        {"expect FSR = 10\n", "t.check:1: '10' does not fit FSR (at most F)"},
        {"set ZER = 2\n", "t.check:1: '2' does not fit ZER (0 or 1)"},
        {"expect T = 0x2\n", "t.check:1: '0x2' does not fit T (0 or 1)"},
        {"set MEMCYCLE = 3\n", "t.check:1: '3' does not fit MEMCYCLE (at most 2)"},
        {"set SP = 9\n", "t.check:1: '9' does not fit SP (at most 8)"},
        {"set S3 = 10000\n", "t.check:1: '10000' does not fit S3 (at most FFFF)"},
        {"expect error 99\n",
         "t.check:1: the machine has no error 99 (it has 1, 2, 3, 4, 5, 7, 8, 9, 12, 14, 15, 16, 17, 18)"},
        {"case a\nexpect error 6\n",
         "t.check:2: the machine has no error 6 (it has 1, 2, 3, 4, 5, 7, 8, 9, 12, 14, 15, 16, 17, 18)"},
        {"set R5 = FFFF\nexpect R5 = 0FFFF\n", ""},
        {"set CMAR = 1000\nset MAR = 12345678\nexpect CMAR = FFFFFFFF\n", ""},
        {"set ZER = 1\nset SP = 8\nset MEMCYCLE = 2\nset C = FF\n", ""},
        {"expect error 4\nexpect error 18\n", ""},
    };
    for (const auto &c : cases) expect_read(c.text, c.message);

    // Reading the widths leaves the machine as it was.
    k3_power_on();
    k3_set(k3_register("R5"), 0x1234);
    check::check_file file;
    std::vector<std::string> errors;
    ASSERT_TRUE(check::read_check_text("t.check", "set R5 = 1\nexpect R5 = 2\n", file, errors));
    EXPECT_EQ(k3_get(k3_register("R5")), 0x1234u);
}

// Patterns within the bounds are read, and the largest of them compile and
// match a printer line of the longest kind without exhausting the stack;
// patterns past them are refused at their line, before the library sees them.
TEST(CheckReader, PatternsAreBoundedInDepthAndSize)
{
    auto repeated = [](const std::string &piece, int times) {
        std::string text;
        for (int i = 0; i < times; i++) text += piece;
        return text;
    };
    const std::string deep32 = repeated("(", 32) + "a" + repeated(")", 32);
    const struct {
        std::string pattern;
        const char *problem;    // nullptr: accepted
        bool matches = false;   // when accepted: whether a line of 256 a's matches
    } cases[] = {
        {deep32, nullptr, true},
        {repeated("(", 33) + "a" + repeated(")", 33), "is nested more than 32 groups deep"},
        {repeated("(", 20000) + "a" + repeated(")", 20000), "is nested more than 32 groups deep"},
        {repeated("(", 40), "is nested more than 32 groups deep"},   // unclosed: depth counts as it opens
        {"[" + repeated("(", 40) + "]a", nullptr},                   // '(' in a class opens no group
        {repeated("\\(", 40), nullptr},                              // nor an escaped one
        {"(?:x?){1000}", nullptr, true},
        {"(?:x?){1001}", "is larger than 1000 characters with its counted repetitions ({n}) written out"},
        {"(?:ab){500}", nullptr},
        {"(?:ab){501}", "is larger than 1000 characters"},
        {"((a{10}){10}){10}", nullptr},
        {"((a{10}){10}){11}", "is larger than 1000 characters"},
        {"x{2,1000}", nullptr},
        {"x{1001,}", "is larger than 1000 characters"},
        {"x{999999999999999999999999}", "is larger than 1000 characters"},   // no overflow to a small count
        {repeated("a", 1000), nullptr},
        {repeated("a", 1001), "is larger than 1000 characters"},
        {"^" + repeated("a*", 499) + "$", nullptr, true},
        {"(a|a)*b", nullptr},   // no exponential time on 256 a's
        {"(a*)*b", nullptr},
        {"(a)\\1", "is not a regular expression"},   // a back-reference would need it
        {"^" + repeated("a*", 500) + "$", "is 1002 characters long (at most 1000)"},
    };
    const std::string line(256, 'a');
    for (const auto &c : cases) {
        check::check_file file;
        std::vector<std::string> errors;
        const std::string text = "\nexpect printer ~ \"" + c.pattern + "\"\n";
        const bool read = check::read_check_text("t.check", text, file, errors);
        if (!c.problem) {
            EXPECT_TRUE(read) << c.pattern << ": " << (errors.empty() ? "" : errors[0]);
            // What the runner does with an accepted pattern.
            EXPECT_EQ(std::regex_search(line, std::regex(c.pattern, check::PATTERN_SYNTAX)), c.matches) << c.pattern;
            continue;
        }
        EXPECT_FALSE(read) << c.pattern.substr(0, 80);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind("t.check:2: the pattern \"", 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find(c.problem), std::string::npos) << errors[0];
    }
}

TEST(CheckReader, FilesThatAreNoCheckFiles)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kalvo3_reader_test";
    std::filesystem::create_directories(dir);
    const std::string binary = (dir / "binary.check").string(), huge = (dir / "huge.check").string();
    std::ofstream(binary, std::ios::binary) << std::string("case a\nexpect halt\x00\n", 19);
    std::ofstream(huge, std::ios::binary) << std::string(check::MAX_CHECK_FILE_BYTES / 2, '\n') << "; "
                                          << std::string(check::MAX_CHECK_FILE_BYTES, 'x');
    const struct {
        std::string path, message;
    } cases[] = {
        {dir.string(), dir.string() + ": is a directory, not a file"},
        {(dir / "missing.check").string(), (dir / "missing.check").string() + ": cannot be opened (No such file or directory)"},
        {binary, binary + ":2: a binary file (it holds a NUL byte), not text"},
        {huge, huge + ":524289: the file is too large (more than 1048576 bytes)"},
    };
    for (const auto &c : cases) {
        check::check_file file;
        std::vector<std::string> errors;
        EXPECT_FALSE(check::read_check_file(c.path, file, errors));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], c.message);
    }
    std::filesystem::remove_all(dir);
}

TEST(CheckReader, SymbolFilesAndLabelCounts)
{
    std::vector<check::label> labels;
    std::string error;
    ASSERT_TRUE(check::read_labels("; labels of mul.masm\nstart 0x000\n\nloop   0x002 ; the loop\ndone 5\n", "mul.sym",
                                   labels, error));
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[1].name, "loop");
    EXPECT_EQ(labels[1].address, 2u);

    // A label counts its word and the words up to the next label.
    std::vector<uint64_t> profile(4097, 0);
    profile[0] = 1, profile[1] = 1, profile[2] = 10, profile[4] = 10, profile[5] = 1, profile[7] = 100;
    EXPECT_EQ(check::label_counts(labels, profile), (std::vector<uint64_t>{2, 20, 101}));

    labels.clear();
    EXPECT_FALSE(check::read_labels("start 0x000\nloop\n", "mul.sym", labels, error));
    EXPECT_EQ(error, "mul.sym:2: expected a label and its CM address (NAME 0x1A2)");
    EXPECT_FALSE(check::read_labels("far 0x1000\n", "mul.sym", labels, error));
    EXPECT_EQ(error, "mul.sym:1: expected a label and its CM address (NAME 0x1A2)");
}

TEST(CheckReader, SourceExtensionsInAnyCase)
{
    const struct {
        const char *name, *extension;
        bool has;
    } cases[] = {
        {"mul.masm", ".masm", true},  {"MUL.MASM", ".masm", true}, {"dir/Mul.MaSm", ".masm", true},
        {".masm", ".masm", true},     {"masm", ".masm", false},    {"mul.masm.bak", ".masm", false},
        {"mul.mdat", ".masm", false}, {"mul.MDAT", ".mdat", true}, {"", ".mdat", false},
    };
    for (const auto &c : cases) EXPECT_EQ(check::has_extension(c.name, c.extension), c.has) << c.name;
}

TEST(CheckReader, LabelCountsStopAtTheEndOfControlMemory)
{
    // The last label counts up to the last CM word; runs beyond it are not its.
    const std::vector<check::label> labels{{"low", 0x000}, {"top", 0xFFE}};
    std::vector<uint64_t> profile(4097, 0);
    profile[0x000] = 1, profile[0xFFD] = 2, profile[0xFFE] = 30, profile[0xFFF] = 400, profile[4096] = 5000;
    EXPECT_EQ(check::label_counts(labels, profile), (std::vector<uint64_t>{3, 430}));
}

}  // namespace
