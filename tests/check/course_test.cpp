// Checks for a course: cases of several runs (continued as the console's Run
// with CNT), points, what a student is shown, and the JSON and CSV cells.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "check/check_file.hpp"
#include "check/course.hpp"
#include "check/runner.hpp"

namespace {

using check::run_end;
using check::visibility;

check::check_file read_ok(const std::string &text)
{
    check::check_file file;
    std::vector<std::string> errors;
    EXPECT_TRUE(check::read_check_text("t.check", text, file, errors)) << (errors.empty() ? "" : errors[0]);
    return file;
}

TEST(CourseReader, RunsPointsVisibilityAndFeedbackOfACase)
{
    const check::check_file file = read_ok("cm p.cm\n"
                                           "points 3\n"
                                           "visibility after_due_date\n"
                                           "case plain\n"
                                           "case continued\n"
                                           "  points 0\n"
                                           "  hidden\n"
                                           "  feedback \"read \" \"the end\"\n"
                                           "  cards \"ab\"\n"
                                           "  expect R1 = 1\n"
                                           "  expect error 12\n"
                                           "  continue\n"
                                           "  set R3 = 0100\n"
                                           "  mm 0100 = 0041\n"
                                           "  cards \"c\"\n"
                                           "  expect printer \"x\"\n"
                                           "  expect break 010\n"
                                           "  continue\n"
                                           "  expect R2 = 0\n");   // no end named: a halt
    EXPECT_TRUE(file.scored);
    const check::case_plan plain = check::plan_case(file, file.cases[0]);
    EXPECT_EQ(plain.points, 3u);
    EXPECT_EQ(plain.shown_as, visibility::after_due_date);
    EXPECT_TRUE(plain.more.empty());

    const check::case_plan p = check::plan_case(file, file.cases[1]);
    EXPECT_EQ(p.points, 0u);
    EXPECT_EQ(p.shown_as, visibility::hidden);
    EXPECT_EQ(p.feedback, "read the end");
    ASSERT_EQ(p.expectations.size(), 2u);
    EXPECT_EQ(p.expectations[0].end, run_end::error);   // the first run's end first
    ASSERT_EQ(p.more.size(), 2u);
    const check::section &second = p.more[0].own;
    EXPECT_EQ(p.more[0].line, 12);
    ASSERT_EQ(second.registers.size(), 1u);
    EXPECT_EQ(second.registers[0].value, 0x100u);
    ASSERT_EQ(second.words.size(), 1u);
    EXPECT_FALSE(second.words[0].cm);
    EXPECT_TRUE(second.has_cards);
    ASSERT_EQ(second.expectations.size(), 2u);
    EXPECT_EQ(second.expectations[0].kind, check::expect_kind::run);   // the end first
    EXPECT_EQ(second.expectations[0].end, run_end::break_point);
    EXPECT_EQ(second.expectations[0].number, 0x10u);
    EXPECT_EQ(second.expectations[1].kind, check::expect_kind::printer_text);
    const check::section &third = p.more[1].own;
    ASSERT_EQ(third.expectations.size(), 2u);
    EXPECT_EQ(third.expectations[0].end, run_end::halt);
    EXPECT_EQ(third.expectations[0].line, 18);   // the implicit halt is shown at its continue line
    EXPECT_EQ(third.expectations[1].kind, check::expect_kind::reg);

    // A check without points or visibility keeps its old grade sheet.
    EXPECT_FALSE(read_ok("case a\nfeedback \"f\"\n").scored);
    EXPECT_EQ(check::plan_case(read_ok("case a\n"), read_ok("case a\n").cases[0]).points, 1u);
}

// The card-reversing assignment's students against runs that go on after
// the end of the deck.
TEST(CourseRuns, ACaseGoesOnFromWhereTheMachineStopped)
{
    const std::string two_cards = "cards \"ab\\ncd\"\nexpect error 12\nexpect printer \"ba\\n\"\ncontinue\n";
    const struct {
        const char *student;
        std::string text;
        bool passed;
        const char *ended;
    } cases[] = {
        {"correct", two_cards + "expect halt\nexpect printer \"ba\\ndc\\n\"\n", true, "error 12, then halt"},
        {"skips_end", two_cards + "expect halt\n", false, "error 12, then error 12"},
        {"halts_early", two_cards + "expect halt\nexpect printer \"ba\\ndc\\n\"\n", false, "error 12, then halt"},
        // A run that did not end as expected is not continued.
        {"correct", "cards \"ab\"\nexpect halt\ncontinue\nexpect halt\n", false, "error 12"},
        // Registers and words changed between the runs: the last line is
        // printed from R3 - 1 down to R4, from the words in memory.
        {"correct", "cards \"xyz\"\nexpect error 12\ncontinue\nset R4 = 0101\nexpect printer \"zy\\n\"\n", true,
         "error 12, then halt"},
        {"correct", "cards \"xy\"\nexpect error 12\ncontinue\nmm 0100 = 0041\nexpect printer \"yA\\n\"\n", true,
         "error 12, then halt"},
        // Steps are the run's own.
        {"correct", two_cards + "expect steps < 30\n", true, "error 12, then halt"},
        {"correct", two_cards + "expect steps > 30\n", false, "error 12, then halt"},
    };
    for (const auto &c : cases) {
        const check::check_file file = read_ok("cm reverse.masm\ncase c\n" + c.text);
        check::run_options run;
        run.batch = true;
        run.student_dir = std::string(KALVO3_TESTS_CHECK) + "/course/" + c.student;
        const check::case_result r = check::run_case(file, check::plan_case(file, file.cases[0]), run);
        EXPECT_TRUE(r.ran) << c.student << ": " << c.text;
        EXPECT_EQ(r.passed, c.passed) << c.student << ": " << c.text;
        EXPECT_EQ(r.ended, c.ended) << c.student << ": " << c.text;
    }
}

TEST(CourseWhere, LabelOffsetAndSourceLine)
{
    check::case_result r;
    r.labels = {{"loop", 0x10}, {"done", 0x20}};
    r.source = "class/anna/mul.masm";
    r.source_lines.assign(0x1000, 0);
    r.source_lines[0x12] = 7;
    r.source_lines[0x05] = 2;
    const struct {
        uint32_t address;
        const char *where;
    } cases[] = {
        {0x12, "loop+2, mul.masm:7"}, {0x10, "loop"}, {0x2A, "done+A"},
        {0x05, "mul.masm:2"},         {0x04, ""},     {0xFFF, "done+FDF"},
    };
    for (const auto &c : cases) EXPECT_EQ(check::where_in(r, c.address), c.where) << std::hex << c.address;
}

// A stop is shown where it is; a program that runs into words it never
// placed (a NOP where its halt should be) is told so.
TEST(CourseWhere, StopsAndWordsNeverPlaced)
{
    char name[] = "/tmp/k3-where-XXXXXX";
    const std::string dir = mkdtemp(name);
    std::ofstream(dir + "/p.masm") << "start:  R=#5 TO=R1\n        NOP\n";
    std::ofstream(dir + "/h.masm") << "start:  R=#5 TO=R1\ndone:   EX=HALT JUMP done\n";
    // p.masm's words by hand, and a short line that the loader reads as a 0 placed at 002.
    std::ofstream(dir + "/short.cm") << "CM\n000  FAFC6F1E05\n001  FFFFEF1E00\n0002\n";
    const struct {
        const char *check, *difference, *note;
    } cases[] = {
        {"cm p.masm\nlimit 100\n", "run: expected halt, got the step limit (100 steps), CMAR 001 (start+1, p.masm:2)",
         "the run executed 1 word the program never placed (33 times), the first at 002, after 001 (start+1, "
         "p.masm:2)"},
        {"cm p.masm\nlimit 100\ncm 003 = FFFFEF1E00\nstart 003\n",
         "run: expected halt, got the step limit (100 steps), CMAR 002 (a word the program never placed)",
         "the run executed 2 words the program never placed (33 times), the first at 002, after 001 (start+1, "
         "p.masm:2)"},
        {"cm h.masm\nexpect R1 = 6\n", "R1: expected 6, got 5", ""},
        {"cm short.cm\nlimit 100\n", "run: expected halt, got the step limit (100 steps), CMAR 001", ""},
        {"cm h.masm\ncase c\nexpect break 001\ncontinue\nexpect R1 = 5\nexpect limit\n",
         "run: expected the step limit, got break at 001 after 1 step (done, h.masm:2)", ""},
    };
    for (const auto &c : cases) {
        const check::check_file file = read_ok(c.check);
        check::run_options run;
        run.batch = true;
        run.student_dir = dir;
        const check::case_result r = check::run_case(file, check::plan_case(file, file.cases[0]), run);
        ASSERT_EQ(r.differences.size(), 1u) << c.check;
        EXPECT_EQ(r.differences[0].substr(r.differences[0].find(": ") + 2), c.difference) << c.check;
        EXPECT_EQ(r.notes.empty() ? "" : r.notes[0], c.note) << c.check;
    }
    std::filesystem::remove_all(dir);
}

TEST(CourseOutput, ScoresAndWhatAStudentIsShown)
{
    check::graded_student s;
    s.dir = "class/anna";
    s.warnings = {"a.masm:3:1: warning: w"};
    s.cases = {
        {"one", true, true, 2, visibility::visible, "", "PASS  one\n      a.masm:3:1: warning: w\n"},
        {"two", true, false, 3, visibility::visible, "fb", "FAIL  two\n      detail\n      feedback: fb\n"},
        {"secret", true, false, 5, visibility::hidden, "think of the end", "FAIL  secret\n      hidden detail\n"},
        {"later", true, true, 1, visibility::after_due_date, "", "PASS  later\n"},
    };
    EXPECT_EQ(s.score(), 3u);
    EXPECT_EQ(s.max_score(), 11u);
    EXPECT_EQ(check::case_output(s.cases[1]), s.cases[1].text);
    EXPECT_EQ(check::case_output(s.cases[2]), "failed\nthink of the end\n");

    const std::string report = check::student_report("t.check", s);
    EXPECT_NE(report.find("Score: 3 of 11 points\n"), std::string::npos) << report;
    EXPECT_NE(report.find("[0/3] FAIL  two\n      detail\n      feedback: fb\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("hidden detail"), std::string::npos) << report;
    EXPECT_NE(report.find("A hidden case failed: think of the end\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Hidden cases: 0 of 1 passed, 0 of 5 points\n"), std::string::npos) << report;
    EXPECT_NE(report.find("[2/2] PASS  one\n[0/3]"), std::string::npos) << "warnings said once: " << report;
    EXPECT_NE(report.find("The assembler's warnings:\n  a.masm:3:1: warning: w\n"), std::string::npos) << report;

    const std::string json = check::course_json({s});
    EXPECT_NE(json.find("\"score\": 3, \"max_score\": 11, \"problem\": null"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"name\": \"secret\", \"score\": 0, \"max_score\": 5, \"output\": \"failed\\nthink of the "
                        "end\\n\", \"visibility\": \"hidden\"}"),
              std::string::npos)
        << json;
    EXPECT_EQ(check::course_json({}), "{\"students\": []}\n");
}

TEST(CourseOutput, WhatTheAssemblersWarningsCost)
{
    const struct {
        bool warned, passed;
        check::warning_rule rule;
        bool passed_after;
        uint32_t score;   // of 3 points
        const char *added;
    } cases[] = {
        {true, true, {}, true, 3, ""},
        {true, true, {true, 0}, false, 0, "      failed: the assembler warned about the program\n      feedback: fb\n"},
        {true, true, {false, 1}, true, 2, "      1 point taken: the assembler warned about the program\n"},
        {true, true, {false, 5}, true, 0, "      3 points taken: the assembler warned about the program\n"},
        {false, true, {true, 0}, true, 3, ""},     // no warning, nothing taken
        {true, false, {false, 2}, false, 0, ""},   // a failed case has nothing to lose
    };
    for (const auto &c : cases) {
        check::graded_case g{
            "a", true, c.passed, 3, visibility::visible, "fb", c.passed ? "PASS  a\n" : "FAIL  a\n", c.warned, 0};
        check::count_warnings(g, c.rule);
        EXPECT_EQ(g.passed, c.passed_after) << c.added;
        EXPECT_EQ(g.score(), c.score) << c.added;
        EXPECT_EQ(g.text, std::string(c.passed_after ? "PASS  a\n" : "FAIL  a\n") + c.added);
    }
}

TEST(CourseOutput, TextCellsAndNames)
{
    const struct {
        const char *in, *json, *csv;
    } cases[] = {
        {"plain", "\"plain\"", "plain"},
        {"a \"q\" \\", "\"a \\\"q\\\" \\\\\"", "\"a \"\"q\"\" \\\""},
        {"l1\nl2\t\r", "\"l1\\nl2\\t\\r\"", "\"l1\nl2\t\r\""},
        {"\x01\x7f\xe9", "\"\\u0001\\u007f\\u00e9\"", "\x01\x7f\xe9"},
        {"=SUM(A1)", "\"=SUM(A1)\"", "'=SUM(A1)"},
        {"+1+1", "\"+1+1\"", "'+1+1"},
        {"@x", "\"@x\"", "'@x"},
        {"-cmd,x", "\"-cmd,x\"", "\"'-cmd,x\""},
        {"-5", "\"-5\"", "-5"},   // a number stays a number
        {"+2.5", "\"+2.5\"", "+2.5"},
        {"-", "\"-\"", "-"},   // the sheet's "no such label"
        {"", "\"\"", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(check::json_string(c.in), c.json) << c.in;
        EXPECT_EQ(check::csv_cell(c.in), c.csv) << c.in;
    }
    const struct {
        const char *dir, *file;
    } names[] = {
        {"class/anna", "class_anna.txt"},
        {"anna/", "anna.txt"},
        {"/abs/bob", "abs_bob.txt"},
        {"..", "student.txt"},
        {".", "student.txt"},
        {"../x/y", "x_y.txt"},
    };
    for (const auto &n : names) EXPECT_EQ(check::report_file_name(n.dir), n.file) << n.dir;
}

}   // namespace
