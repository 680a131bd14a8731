// Assembling source text in-process for the assembler tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "asm/assembler.hpp"

struct assembly {
    std::map<uint32_t, uint64_t> words;
    std::vector<std::string> messages;   // "t.masm:line:column: error: reason"
    bool ok;
    std::vector<diagnostic> records;   // the same messages as records
};

inline assembly assemble_source(const std::string &text, source_kind kind = source_kind::micro,
                                 const std::string &name = "t.masm")
{
    diagnostics diag;
    assembler a(kind, diag);
    a.assemble_text(name, text);
    return {a.words(), diag.messages(), !diag.has_errors(), diag.records()};
}

// The word of a one-line microprogram that must assemble without a message.
inline uint64_t word_of(const std::string &line)
{
    assembly a = assemble_source(line);
    EXPECT_TRUE(a.messages.empty()) << line << ": " << (a.messages.empty() ? "" : a.messages[0]);
    return a.words.count(0) ? a.words.at(0) : ~uint64_t{0};
}
