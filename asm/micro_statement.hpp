// One micro-instruction statement: its clauses turned into the 40-bit word.
#pragma once

#include <cstdint>
#include <optional>

#include "asm/diagnostics.hpp"
#include "asm/expression.hpp"
#include "asm/lexer.hpp"

// Encodes the clauses from the cursor to the end of the line into the word
// placed at `address`. Reports every error and warning; gives nothing after
// an error. `fields_set`, when given, receives the bits of the fields that
// the clauses set.
std::optional<uint64_t> encode_micro_instruction(token_cursor &cursor, uint32_t address, symbol_table &symbols,
                                                 const source_position &line, diagnostics &diag,
                                                 uint64_t *fields_set = nullptr);
