// Grading a class: each student's directory in a process of its own, with a
// wall-clock limit and a memory cap, several at once; the results come back
// to the grading process as records through a pipe.
#ifndef KALVO3_CHECK_BATCH_HPP
#define KALVO3_CHECK_BATCH_HPP

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "check/check_file.hpp"
#include "check/runner.hpp"

namespace check {

// Why the file `path` may not be read for the student whose directory is
// `dir`: "" when it is a regular file inside the directory (links resolved),
// else the reason ("no such file", "outside the directory", "not a regular
// file (a FIFO)", ...). Nothing is read, and a FIFO or device is never
// opened for reading.
std::string confine(const std::string &dir, const std::string &path);

// One case of one student, as the grading process keeps it.
struct case_record {
    size_t index = 0;   // of the case in the check file
    std::string name;
    std::string report;   // the case's lines of the printed results
    bool ran = false;
    bool passed = false;
    uint64_t steps = 0;
    std::string end_note;            // how the run ended, when not as the case expected ("limit")
    std::string reason;              // why it did not run, for the sheet ("did not assemble (...)")
    bool check_fault = false;        // a file of the check itself is bad
    std::string fault;               // then its messages, one a line
    std::string warnings;            // the assembler's, one a line
    std::vector<bool> label_found;   // per --labels name
    std::vector<uint64_t> label_sum;
};

// Records as bytes and back: length-prefixed fields, nothing parsed from
// printed text. `decode_records` returns false for bytes that are not whole
// records (a process that died while writing); the whole records before are
// kept.
std::string encode_record(const case_record &r);
bool decode_records(const std::string &bytes, std::vector<case_record> &out);

struct student_result {
    std::string dir;
    std::vector<case_record> cases;   // the graded ones, in case order
    std::string problem;              // why the student's grading stopped: "timed out (10 s)", ...
};

struct batch_options {
    int jobs = 1;                                             // students graded at once
    double time_limit = 10;                                   // seconds of wall clock per student
    uint64_t memory_limit = 512ull << 20;                     // address space per student; 0 for none
    bool profile = false;                                     // profiles in the runs
    std::vector<std::string> labels;                          // --labels
    std::function<std::string(const case_result &)> report;   // a case's lines of the results
};

// Grades every directory; `done` gets each student's result in the order of
// `dirs`, as soon as it and all before it are complete (so the output of
// several jobs is the output of one), and returns false to stop the batch.
// Returns false with `error` when a process cannot be started.
bool grade_class(const check_file &file, const std::vector<std::string> &dirs, const batch_options &options,
                 const std::function<bool(const student_result &)> &done, std::string &error);

}   // namespace check

#endif
