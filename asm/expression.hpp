// Names and the expressions that use them: numbers, characters, labels and
// constants combined with +, - and parentheses.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "asm/diagnostics.hpp"
#include "asm/lexer.hpp"

// Labels and constants: one set of names, each defined once.
class symbol_table {
public:
    struct symbol {
        int64_t value;
        source_position where;               // of the definition
        std::vector<source_position> uses;   // the expressions that name it, in reading order
    };

    // Defines `name`; reports a name that is already defined.
    void define(const std::string &name, int64_t value, const source_position &where, diagnostics &diag);
    const int64_t *find(const std::string &name) const;
    // Records that an expression at `where` names `name` (for cross-references).
    void use(const std::string &name, const source_position &where);
    // Every name, in name order.
    const std::map<std::string, symbol> &entries() const { return symbols_; }

private:
    std::map<std::string, symbol> symbols_;
};

// Where an expression stands decides what an unknown name means.
enum class name_scope {
    whole_file,   // every label of the file is known
    lines_above,  // .ORG and .EQU: only names of earlier lines are
};

// Reads one expression from the cursor. Reports what is wrong and gives
// nothing when it is malformed, names an unknown symbol or overflows.
std::optional<int64_t> parse_expression(token_cursor &cursor, symbol_table &symbols, name_scope scope,
                                        const source_position &line, diagnostics &diag);
