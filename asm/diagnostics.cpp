#include "asm/diagnostics.hpp"

#include <cstdio>

void diagnostics::error(const source_position &where, const std::string &reason)
{
    add(where, "error", reason);
    error_count_++;
}

void diagnostics::warning(const source_position &where, const std::string &reason)
{
    add(where, "warning", reason);
}

void diagnostics::add(const source_position &where, const char *kind, const std::string &reason)
{
    std::string place = where.file;
    if (where.line > 0) place += ":" + std::to_string(where.line) + ":" + std::to_string(where.column);
    messages_.push_back(place + ": " + kind + ": " + reason);
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
