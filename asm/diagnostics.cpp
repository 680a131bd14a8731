#include "asm/diagnostics.hpp"

#include <cstdio>
#include <utility>

void diagnostics::error(const source_position &where, const std::string &reason)
{
    add(where, "error", reason);
    error_count_++;
}

void diagnostics::warning(const source_position &where, const std::string &reason)
{
    if (warnings_are_errors_)
        error(where, reason);
    else
        add(where, "warning", reason);
}

void diagnostics::add(const source_position &where, const char *kind, const std::string &reason)
{
    // Appended piece by piece: g++ 12 warns falsely on `"literal" + std::string` here.
    std::string message = where.file;
    if (where.line > 0)
        message.append(":").append(std::to_string(where.line)).append(":").append(std::to_string(where.column));
    message.append(": ").append(kind).append(": ").append(reason);
    messages_.push_back(std::move(message));
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
