// Fuzz target: arbitrary bytes as the text of a check file, read by
// kalvo3-check's reader; each case of a file that reads without errors is
// planned and run as kalvo3-check runs it (the scratch directory holds the
// examples' load files and sources, so a case can name them).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "check/check_file.hpp"
#include "check/runner.hpp"
#include "fuzz/fuzz_session.hpp"

namespace {

// A file of many cases runs them all in kalvo3-check; here the first few
// are enough to reach the runner's every comparison.
constexpr size_t MAX_CASES_RUN = 4;
constexpr uint64_t MAX_STEPS = 1000;

}   // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_session_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > check::MAX_CHECK_FILE_BYTES) return -1;   // read_check_file refuses these
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (text.find('\0') != std::string::npos) return -1;   // and these
    check::check_file file;
    std::vector<std::string> errors;
    if (!check::read_check_text("fuzz.check", text, file, errors)) return 0;
    check::run_options options;
    options.profile = size % 2 == 1;
    for (size_t i = 0; i < file.cases.size() && i < MAX_CASES_RUN; i++) {
        check::case_plan plan = check::plan_case(file, file.cases[i]);
        plan.limit = std::min<uint64_t>(plan.limit, MAX_STEPS);   // the C interface's runs have no fuzz cap
        const check::case_result result = check::run_case(file, plan, options);
        if (result.profile.size()) check::label_counts(result.labels, result.profile);
    }
    return 0;
}
