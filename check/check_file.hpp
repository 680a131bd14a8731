// The check file: what kalvo3-check sets up before a run and what it expects
// afterwards, read from plain text (the format is in docs/checking.md).
//
// Lines before the first "case" line are common to every case; each "case"
// line opens a case with settings and expectations of its own. A file without
// any "case" line is one case.
#ifndef KALVO3_CHECK_FILE_HPP
#define KALVO3_CHECK_FILE_HPP

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace check {

// A file named by the check. `shared` ("@name"): always beside the check
// file, also in a batch run, where other names are looked up in each
// student's directory.
struct file_name {
    int line = 0;   // of the check file
    std::string name;
    bool shared = false;
};

// "cm FILE" / "mm FILE": a load file, or a source (.masm, .mdat) to assemble.
struct program_file {
    file_name file;
    bool cm = true;
};

// "cm ADDR = WORD ..." / "mm ADDR = WORD ...": consecutive words.
struct word_setting {
    int line = 0;
    bool cm = true;
    uint32_t address = 0;
    std::vector<uint64_t> values;
};

// "set REG = VALUE"; `reg` is the engine's register number.
struct register_setting {
    int line = 0;
    int reg = -1;
    uint32_t value = 0;
};

// A piece of the card deck: inline text, or a file.
struct card_piece {
    bool from_file = false;
    std::string text;   // the text, when not from a file
    file_name file;
};

enum class run_end { halt, error, limit, break_point };

// What an expectation compares: how the run ended, a register, MM words,
// the printer text (given, from a file, or matching a pattern), the steps.
enum class expect_kind { run, reg, mm, printer_text, printer_file, printer_pattern, steps };

struct expectation {
    expect_kind kind = expect_kind::run;
    int line = 0;               // 0: not written (the implicit "expect halt")
    run_end end = run_end::halt;
    uint32_t number = 0;        // error number, break address
    int reg = -1;
    uint32_t address = 0;      // first MM word
    uint32_t count = 0;        // words compared
    std::vector<uint32_t> values;   // one each, or a single value for the whole range
    int digits = 4;            // width to show values in
    std::string text;          // printer text or pattern
    file_name file;            // printer file
    std::string op;            // steps: "=", "<=", "<", ">=", ">"
    uint64_t steps = 0;
};

// The settings and expectations of the common part or of one case.
struct section {
    std::vector<program_file> programs;
    std::vector<file_name> symbols;
    std::vector<word_setting> words;
    std::vector<register_setting> registers;
    std::optional<uint32_t> start;
    std::optional<uint64_t> limit;
    bool has_cards = false;
    std::vector<card_piece> cards;
    std::vector<uint32_t> breaks;
    std::vector<expectation> expectations;
};

// What a student is shown of a case (in the JSON for a course's site and in
// the student's report): everything, a summary until the due date, or a
// summary only.
enum class visibility { visible, hidden, after_due_date };

// A run that goes on from where the run before stopped ("continue", as the
// console's Run with CNT), with words, registers and a deck changed first,
// and expectations of its own.
// Only words, registers, cards (a new deck, read from its start) and
// expectations are given for it; its end expectation comes first in a plan.
struct continued_run {
    int line = 0;   // of the "continue" line
    section own;
};

struct check_case {
    std::string name;
    int line = 0;
    section own;
    std::vector<continued_run> more;   // the runs after the first
    std::optional<uint32_t> points;
    std::optional<check::visibility> shown_as;
    std::string feedback;   // shown when the case fails
};

struct check_file {
    std::string path;   // as given
    std::string dir;    // its directory ("." for none)
    section common;
    uint32_t points = 1;                                // a case's points, unless it gives its own
    check::visibility shown_as = visibility::visible;   // likewise
    bool scored = false;                                // some line gives points or a visibility
    std::vector<check_case> cases;
};

// One case as it runs: the common part and the case's own merged.
struct case_plan {
    std::string name;
    int line = 0;
    std::vector<program_file> programs;
    std::vector<file_name> symbols;
    std::vector<word_setting> words;
    std::vector<register_setting> registers;
    uint32_t start = 0;
    uint64_t limit = 0;
    std::vector<card_piece> cards;
    std::vector<uint32_t> breaks;
    std::vector<expectation> expectations;   // the run's end first
    std::vector<continued_run> more;         // each with its run's end first
    uint32_t points = 1;
    check::visibility shown_as = visibility::visible;
    std::string feedback;
};

// How a pattern (expect printer ~) is compiled, where it is read and where
// it is matched: ECMAScript syntax, matched in time polynomial in the line's
// length (the library's backtracking matcher takes exponential time on
// patterns such as (a|a)*b); back-references, which need backtracking, are
// refused.
constexpr std::regex_constants::syntax_option_type PATTERN_SYNTAX =
    std::regex_constants::ECMAScript | std::regex_constants::__polynomial;

constexpr uint32_t MAX_POINTS = 1000000;

// "visible", "hidden", "after_due_date": as the JSON writes it.
const char *visibility_name(visibility v);

constexpr uint64_t DEFAULT_LIMIT = 10000000;
constexpr size_t MAX_CHECK_FILE_BYTES = 1 << 20;

// Reads check-file text; `path` names it in messages ("PATH:LINE: ...").
// Returns false with every error of the file in `errors`.
bool read_check_text(const std::string &path, const std::string &text, check_file &out,
                     std::vector<std::string> &errors);
// Reads the file itself: a missing file, a directory, a binary or a huge
// file is an error.
bool read_check_file(const std::string &path, check_file &out, std::vector<std::string> &errors);

case_plan plan_case(const check_file &file, const check_case &one);

// Reads a whole file of at most `limit` bytes that holds no NUL byte. On
// failure `error` says why: "PATH: ..." or "PATH:LINE: ...".
bool read_text_file(const std::string &path, size_t limit, std::string &text, std::string &error);

// Whether a file name ends with `extension` (given in lower case), in any
// case: ".masm" and ".mdat" sources are assembled before they are loaded.
bool has_extension(const std::string &name, const char *extension);

// `text` in double quotes, with escapes for line ends, tabs, quotes and
// backslashes; any other byte below 0x20 or from 0x7F on is written by the
// printf format `byte_escape` ("\\x%02X").
std::string quoted(const std::string &text, const char *byte_escape);

// Text shown in messages: escapes for line ends, quotes, control bytes.
std::string shown(const std::string &text, size_t limit = 200);

}  // namespace check

#endif
