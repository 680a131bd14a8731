// Running one case of a check file on the engine and comparing the machine
// with the case's expectations.
#ifndef KALVO3_CHECK_RUNNER_HPP
#define KALVO3_CHECK_RUNNER_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "check/check_file.hpp"

namespace check {

struct label {
    std::string name;
    uint32_t address = 0;   // in CM
};

struct case_result {
    std::string name;
    bool ran = false;          // every file loaded and the run made
    bool passed = false;
    bool check_fault = false;  // a file the check itself supplies is bad
    std::vector<std::string> problems;      // why the case could not run
    std::string reason;                     // the first, when it is the student's: for a grade sheet
    std::vector<std::string> differences;   // expected against got, one each
    std::vector<std::string> warnings;      // the assembler's, as kalvo3-asm prints them
    uint32_t steps = 0;
    std::string ended;             // "halt", "error 12", "limit", "break 010"; "error 12, then halt"
    int runs = 0;                  // the case's runs made
    bool end_as_expected = true;   // every run made ended as its case expected
    uint32_t points = 1;           // the case's, earned when it passes
    visibility shown_as = visibility::visible;
    std::string feedback;                   // the case's text for a student when it fails
    std::vector<uint64_t> profile;          // executions per CM word (4096, then beyond)
    std::vector<label> labels;              // of the microprogram, in address order
    std::string source;                     // the microprogram's source, when one was assembled
    std::vector<int> source_lines;          // its line of each CM word (0: none), when there is a source
    std::vector<std::string> notes;         // what the run did that no expectation asked (words never placed)
};

struct run_options {
    bool batch = false;          // names without '@' are in `student_dir`
    std::string student_dir;
    bool profile = false;
};

case_result run_case(const check_file &file, const case_plan &plan, const run_options &options);

// Where a CM word is, for a person: its label and offset and its source
// line ("loop+2, mul.masm:14"), or "" when neither is known.
std::string where_in(const case_result &r, uint32_t address);

// The source line that placed a CM word ("mul.masm:14"), or "" when that is
// not known.
std::string source_line(const case_result &r, uint32_t address);

// Executions per label: the words from a label's address up to the next
// label's; words before the first label are not counted.
std::vector<uint64_t> label_counts(const std::vector<label> &labels, const std::vector<uint64_t> &profile);

// Appends the labels of a symbol file's text (read as kalvo3-asm reads one;
// a label may be given twice) with their CM addresses; at the first line that
// gives none, false with `error` naming it.
bool read_labels(const std::string &text, const std::string &path, std::vector<label> &out, std::string &error);

}  // namespace check

#endif
