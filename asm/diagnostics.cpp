#include "asm/diagnostics.hpp"

#include <cstdio>
#include <utility>

const char *severity_name(severity level)
{
    switch (level) {
    case severity::error: return "error";
    case severity::warning: return "warning";
    case severity::note: return "note";
    }
    return "error";
}

std::string diagnostic_text(const diagnostic &record)
{
    // Appended piece by piece: g++ 12 warns falsely on `"literal" + std::string` here.
    std::string text = record.where.file;
    if (record.where.line > 0)
        text.append(":")
            .append(std::to_string(record.where.line))
            .append(":")
            .append(std::to_string(record.where.column));
    text.append(": ").append(severity_name(record.level)).append(": ").append(record.reason);
    return text;
}

void diagnostics::error(const source_position &where, const std::string &reason)
{
    add(severity::error, where, reason);
}

void diagnostics::warning(const source_position &where, const std::string &reason)
{
    add(warnings_are_errors_ ? severity::error : severity::warning, where, reason);
}

void diagnostics::note(const source_position &where, const std::string &reason) { add(severity::note, where, reason); }

void diagnostics::add(severity level, const source_position &where, const std::string &reason)
{
    records_.push_back({level, where, reason});
    counts_[static_cast<int>(level)]++;
}

std::vector<std::string> diagnostics::messages() const
{
    std::vector<std::string> lines;
    for (const diagnostic &record : records_) lines.push_back(diagnostic_text(record));
    return lines;
}

source_position at_column(const source_position &line, int column)
{
    return {line.file, line.line, column};
}

std::string hex_text(int64_t value, int digits)
{
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char text[32];
    snprintf(text, sizeof text, "%s0x%0*llX", value < 0 ? "-" : "", digits, static_cast<unsigned long long>(magnitude));
    return text;
}
