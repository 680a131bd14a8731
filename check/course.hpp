// What a course makes of a class's results: points, what each student is
// shown, one JSON document for a course's site, a text report per student,
// and cells a spreadsheet takes as they are meant.
#ifndef KALVO3_CHECK_COURSE_HPP
#define KALVO3_CHECK_COURSE_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "check/check_file.hpp"

namespace check {

struct graded_case {
    std::string name;
    bool ran = false;
    bool passed = false;
    uint32_t points = 1;   // the case's; earned when it passed
    visibility shown_as = visibility::visible;
    std::string feedback;   // shown when it failed
    std::string text;       // the case's lines of the printed results
    bool warned = false;    // the assembler warned about the program it ran
    uint32_t taken = 0;     // points taken for the warnings

    uint32_t score() const { return passed ? points - taken : 0; }
};

// What the assembler's warnings cost a case (--warnings): the case fails, or
// earns `points` fewer (never below 0); nothing when neither is set.
struct warning_rule {
    bool fail = false;
    uint32_t points = 0;
};

// Applies the rule to a case whose program the assembler warned about, and
// says so under the case.
void count_warnings(graded_case &c, const warning_rule &rule);

struct graded_student {
    std::string dir;
    std::string problem;                 // "" for none
    std::vector<graded_case> cases;      // every case of the check, in order
    std::vector<std::string> warnings;   // the assembler's, once each

    uint64_t score() const;
    uint64_t max_score() const;
};

// What a student is shown of one case: its results and the feedback when it
// failed; of a hidden case whether it passed, and the feedback.
std::string case_output(const graded_case &c);

// A JSON string, quotes included; bytes beyond ASCII are taken as Latin-1,
// so any bytes make valid JSON.
std::string json_string(const std::string &text);

// {"students": [{"student", "score", "max_score", "problem", "tests": [...]}]}
std::string course_json(const std::vector<graded_student> &students);

// The text report handed back to one student: their cases (hidden ones
// summarised), the points, the problem and the assembler's warnings.
std::string student_report(const std::string &check, const graded_student &s);

// The report's file name for a student's directory: its path, '/' as '_'.
std::string report_file_name(const std::string &dir);

// A CSV cell: quoted when it must be; text that a spreadsheet would take
// for a formula (=, +, - or @ first) behind a "'", numbers left as they are.
std::string csv_cell(const std::string &text);

}   // namespace check

#endif
