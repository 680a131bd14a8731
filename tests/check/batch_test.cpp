// Grading a class: which files a student's grading may read, the records
// that carry results between processes, and a class whose processes crash,
// hang or run out of memory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "asm/assembler.hpp"
#include "check/batch.hpp"
#include "check/check_file.hpp"

namespace {

namespace fs = std::filesystem;

class temp_dir {
public:
    temp_dir()
    {
        char name[] = "/tmp/k3-batch-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~temp_dir() { fs::remove_all(path_); }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

TEST(Confinement, OnlyRegularFilesInsideTheStudentsDirectory)
{
    temp_dir t;
    const std::string anna = t / "anna", bob = t / "bob";
    fs::create_directories(anna + "/sub");
    fs::create_directories(bob);
    write(anna + "/mul.masm", "x\n");
    write(anna + "/sub/part.inc", "x\n");
    write(anna + "/Upper.masm", "x\n");
    write(bob + "/mul.masm", "x\n");
    ASSERT_EQ(mkfifo((anna + "/fifo.masm").c_str(), 0600), 0);
    fs::create_symlink("mul.masm", anna + "/inside.masm");
    fs::create_symlink("../bob/mul.masm", anna + "/classmate.masm");
    fs::create_symlink("/dev/zero", anna + "/zero.masm");
    fs::create_symlink("gone.masm", anna + "/dangling.masm");
    fs::create_symlink("fifo.masm", anna + "/to_fifo.masm");
    fs::create_directories(anna + "/dir.masm");

    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {anna + "/mul.masm", ""},
        {anna + "/sub/part.inc", ""},
        {anna + "/sub/../mul.masm", ""},
        {anna + "/inside.masm", ""},
        {anna + "/none.masm", "no such file"},
        {anna + "/upper.masm", "no such file (there is Upper.masm)"},
        {anna + "/none/x.masm", "no such file"},
        {anna + "/fifo.masm", "not a regular file (a FIFO)"},
        {anna + "/to_fifo.masm", "not a regular file (a FIFO)"},
        {anna + "/dir.masm", "not a regular file (a directory)"},
        {anna + "/../bob/mul.masm", "outside the directory"},
        {anna + "/sub/../../bob/mul.masm", "outside the directory"},
        {"/etc/hostname", "outside the directory"},
        {anna + "/classmate.masm", "outside the directory (a link leads out)"},
        {anna + "/zero.masm", "outside the directory (a link leads out)"},
        {anna + "/dangling.masm", "a link to a missing file"},
    };
    for (const auto &c : cases) EXPECT_EQ(check::confine(anna, c.path), c.reason) << c.path;
}

check::case_record sample_record(size_t index)
{
    check::case_record r;
    r.index = index;
    r.name = "5 times 3; with: \"all\" kinds\n of bytes \x01";
    r.report = "FAIL  5 times 3  (limit, 2000 steps)\n      mul.check:8: run: ...\n";
    r.ran = true;
    r.steps = 2000;
    r.end_note = "limit";
    r.reason = "12:34: a reason";
    r.warnings = "a.masm:2:3: warning: one\na.masm:5:1: warning: two\n";
    r.label_found = {true, false, true};
    r.label_sum = {291, 0, 18446744073709551615ull};
    return r;
}

TEST(Records, WhatAStudentsProcessSendsIsWhatTheGraderGets)
{
    check::case_record plain;
    check::case_record fault = sample_record(7);
    fault.ran = false;
    fault.check_fault = true;
    fault.fault = "mul.check:2: nothing.mm: cannot be opened\n";
    fault.label_found.clear();
    fault.label_sum.clear();
    const std::vector<check::case_record> sent = {sample_record(0), plain, fault};
    std::string bytes;
    for (const check::case_record &r : sent) bytes += check::encode_record(r);

    std::vector<check::case_record> got;
    ASSERT_TRUE(check::decode_records(bytes, got));
    ASSERT_EQ(got.size(), sent.size());
    auto fields = [](const check::case_record &r) {
        return std::tie(r.index, r.name, r.report, r.ran, r.passed, r.steps, r.end_note, r.reason, r.check_fault,
                        r.fault, r.warnings, r.label_found, r.label_sum);
    };
    for (size_t i = 0; i < sent.size(); i++) EXPECT_EQ(fields(got[i]), fields(sent[i])) << i;

    // A process that died while writing: the whole records before count,
    // the cut one does not; bytes that are no records are refused.
    const size_t first = check::encode_record(sent[0]).size();
    for (size_t cut : {first + 1, first + 5, bytes.size() - 1}) {
        got.clear();
        EXPECT_FALSE(check::decode_records(bytes.substr(0, cut), got)) << cut;
        EXPECT_EQ(got.size(), cut < first + check::encode_record(sent[1]).size() ? 1u : 2u) << cut;
    }
    for (const char *junk : {"x", "5:ab", "99999999999999999999:", "3:abc"}) {
        got.clear();
        EXPECT_FALSE(check::decode_records(junk, got)) << junk;
        EXPECT_TRUE(got.empty()) << junk;
    }
}

// A class whose grading goes wrong in the student's process: the report of
// a case named after a fault commits it there (the report is made in the
// student's process).
std::string faulty_report(const check::case_result &r)
{
    if (r.name == "crash") raise(SIGSEGV);
    if (r.name == "abort") abort();
    if (r.name == "hang") sleep(30);
    if (r.name == "hog")
        for (std::vector<std::string *> kept;;) kept.push_back(new std::string(1 << 20, 'x'));
    return r.name + "\n";
}

TEST(Processes, EveryStudentIsGradedWhateverHappensInAnother)
{
    temp_dir t;
    fs::create_directories(t / "a");
    fs::create_directories(t / "b");
    const struct {
        std::vector<const char *> cases;
        const char *problem;                // the student's
        std::vector<const char *> graded;   // the cases with a record
        double seconds = 10;
    } classes[] = {
        {{"one", "two", "three"}, "", {"one", "two", "three"}},
        {{"one", "crash", "three", "four"}, "crashed (signal 11) in case crash", {"one", "three", "four"}},
        {{"abort", "two"}, "crashed (signal 6) in case abort", {"two"}},
        {{"one", "hang", "three"}, "timed out (0.5 s) in case hang", {"one"}, 0.5},
#if !defined(__SANITIZE_ADDRESS__)
        {{"hog", "two"}, "out of memory in case hog", {"two"}},
#endif
    };
    for (const auto &c : classes) {
        std::string text = "limit 10\nexpect limit\n";
        for (const char *name : c.cases) text += std::string("case ") + name + "\n";
        check::check_file file;
        std::vector<std::string> errors;
        ASSERT_TRUE(check::read_check_text(t / "class.check", text, file, errors));
        check::batch_options options;
        options.jobs = 2;
        options.time_limit = c.seconds;
        options.memory_limit = 128u << 20;
        options.report = faulty_report;
        std::vector<check::student_result> got;
        std::string error;
        const std::vector<std::string> dirs = {t / "a", t / "none", t / "b"};
        ASSERT_TRUE(check::grade_class(
            file, dirs, options,
            [&](const check::student_result &s) {
                got.push_back(s);
                return true;
            },
            error))
            << error;
        ASSERT_EQ(got.size(), 3u) << c.problem;
        EXPECT_EQ(got[1].problem, "not a directory");
        EXPECT_TRUE(got[1].cases.empty());
        for (size_t s : {0u, 2u}) {
            EXPECT_EQ(got[s].dir, dirs[s]);
            EXPECT_EQ(got[s].problem, c.problem) << dirs[s];
            std::vector<std::string> names;
            for (const check::case_record &r : got[s].cases) {
                names.push_back(r.name);
                EXPECT_TRUE(r.passed) << r.name;
                EXPECT_EQ(r.report, r.name + "\n");
            }
            EXPECT_EQ(names, std::vector<std::string>(c.graded.begin(), c.graded.end())) << c.problem;
        }
    }
}

TEST(Processes, ResultsArriveInTheOrderOfTheDirectoriesAndCanBeStopped)
{
    temp_dir t;
    std::vector<std::string> dirs;
    for (int i = 0; i < 12; i++) {
        dirs.push_back(t / ("s" + std::to_string(i)));
        fs::create_directories(dirs.back());
    }
    check::check_file file;
    std::vector<std::string> errors;
    ASSERT_TRUE(check::read_check_text(t / "c.check", "limit 5\nexpect limit\n", file, errors));
    for (int jobs : {1, 3, 8}) {
        check::batch_options options;
        options.jobs = jobs;
        std::vector<std::string> order;
        std::string error;
        ASSERT_TRUE(check::grade_class(
            file, dirs, options,
            [&](const check::student_result &s) {
                order.push_back(s.dir);
                return order.size() < 7;   // the seventh stops the batch
            },
            error));
        EXPECT_EQ(order, std::vector<std::string>(dirs.begin(), dirs.begin() + 7)) << jobs;
    }
}

// Every case of a check names the same source: it is assembled once. The
// include is read by the first assembly only, so the second case runs
// although the include is gone by then.
TEST(Assembly, EachSourceIsAssembledOnceForAllCases)
{
    temp_dir t;
    fs::create_directories(t / "s");
    write(t / "s/mul.masm", "        .ORG 0\n        .INCLUDE \"body.inc\"\n");
    write(t / "s/body.inc", "start:  L=R1 R=R2 ALU=ADD TO=R3\ndone:   EX=HALT JUMP done\n");
    check::check_file file;
    std::vector<std::string> errors;
    ASSERT_TRUE(check::read_check_text(t / "c.check",
                                       "cm mul.masm\ncase a\nset R1 = 2\nset R2 = 3\nexpect R3 = 5\n"
                                       "case b\nset R1 = 7\nexpect R3 = 7\n",
                                       file, errors));
    check::run_options run;
    run.batch = true;
    run.student_dir = t / "s";
    check::case_result a = check::run_case(file, check::plan_case(file, file.cases[0]), run);
    EXPECT_TRUE(a.passed) << (a.problems.empty() ? "" : a.problems[0]);
    fs::remove(t / "s/body.inc");
    check::case_result b = check::run_case(file, check::plan_case(file, file.cases[1]), run);
    EXPECT_TRUE(b.passed) << (b.problems.empty() ? "" : b.problems[0]);

    // Another student's copy of the same text is assembled in that
    // student's directory, where the include is missing.
    fs::create_directories(t / "u");
    fs::copy_file(t / "s/mul.masm", t / "u/mul.masm");
    run.student_dir = t / "u";
    check::case_result c = check::run_case(file, check::plan_case(file, file.cases[0]), run);
    EXPECT_FALSE(c.ran);
    EXPECT_EQ(c.reason.rfind("did not assemble (", 0), 0u) << c.reason;
}

// The assembler asks its read policy before it opens an include, with the
// path it would open; a refusal is an error at the .INCLUDE line, and the
// file is never read.
TEST(Assembly, TheReadPolicyDecidesWhichIncludesAreRead)
{
    temp_dir t;
    write(t / "ok.inc", "        L=R1 TO=R2\n");
    write(t / "no.inc", "        L=R1 TO=R3\n");
    const std::string source = "        .ORG 0\n        .INCLUDE \"ok.inc\"\n  .INCLUDE \"no.inc\"\n";
    const struct {
        bool with_policy;
        std::vector<std::string> asked;
        int errors;
        std::string first;
    } cases[] = {
        {false, {}, 0, ""},
        {true,
         {t / "ok.inc", t / "no.inc"},
         1,
         t / "main.masm" + ":3:12: error: '" + (t / "no.inc") + "': refused here"},
    };
    for (const auto &c : cases) {
        diagnostics diag;
        assembler source_file(source_kind::micro, diag);
        std::vector<std::string> asked;
        if (c.with_policy)
            source_file.set_read_policy([&](const std::string &path) {
                asked.push_back(path);
                return path.find("no.inc") == std::string::npos ? std::string() : std::string("refused here");
            });
        source_file.assemble_text(t / "main.masm", source);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(diag.count(severity::error), c.errors);
        if (c.errors) {
            EXPECT_EQ(diag.messages()[0], c.first);
        }
        // The refused file placed no word.
        EXPECT_EQ(source_file.words().size(), c.errors ? 1u : 2u);
    }
}

}   // namespace
