// Errors and warnings of the assembler, each one line:
// "file:line:column: error: reason" (or "warning:").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct source_position {
    std::string file;
    int line = 0;     // from 1; 0 for a message about the whole file
    int column = 0;   // from 1
};

class diagnostics {
public:
    void error(const source_position &where, const std::string &reason);
    void warning(const source_position &where, const std::string &reason);
    // From now on every warning is reported, and counts, as an error.
    void treat_warnings_as_errors() { warnings_are_errors_ = true; }

    bool has_errors() const { return error_count_ > 0; }
    const std::vector<std::string> &messages() const { return messages_; }

private:
    void add(const source_position &where, const char *kind, const std::string &reason);

    std::vector<std::string> messages_;
    int error_count_ = 0;
    bool warnings_are_errors_ = false;
};

// A number for a message: hexadecimal with at least `digits` digits, as
// 0x01F or -0x001.
std::string hex_text(int64_t value, int digits);

// The position of `column` on the line that `line` names.
source_position at_column(const source_position &line, int column);
