// Errors, warnings and notes of the assembler, as records: a severity, where
// (file, line, column) and the reason. Front ends read the records; the text
// form, one line each, is "file:line:column: error: reason" (or "warning:",
// "note:").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct source_position {
    std::string file;
    int line = 0;     // from 1; 0 for a message about the whole file
    int column = 0;   // from 1
};

enum class severity : int {
    error = 0,
    warning = 1,   // the machine will do something no program means
    note = 2,      // worth a look; also a real technique, never counted as an error
};
constexpr int SEVERITIES = 3;

// "error", "warning" or "note".
const char *severity_name(severity level);

struct diagnostic {
    severity level;
    source_position where;
    std::string reason;
};

// One line of text for a record: "file:line:column: error: reason".
std::string diagnostic_text(const diagnostic &record);

class diagnostics {
public:
    void error(const source_position &where, const std::string &reason);
    void warning(const source_position &where, const std::string &reason);
    void note(const source_position &where, const std::string &reason);
    // From now on every warning is reported, and counts, as an error (notes
    // stay notes).
    void treat_warnings_as_errors() { warnings_are_errors_ = true; }

    bool has_errors() const { return count(severity::error) > 0; }
    int count(severity level) const { return counts_[static_cast<int>(level)]; }
    // Every record, in the order reported.
    const std::vector<diagnostic> &records() const { return records_; }
    // The records' text lines, in the same order.
    std::vector<std::string> messages() const;

private:
    void add(severity level, const source_position &where, const std::string &reason);

    std::vector<diagnostic> records_;
    std::array<int, SEVERITIES> counts_{};
    bool warnings_are_errors_ = false;
};

// A number for a message: hexadecimal with at least `digits` digits, as
// 0x01F or -0x001.
std::string hex_text(int64_t value, int digits);

// The position of `column` on the line that `line` names.
source_position at_column(const source_position &line, int column);
