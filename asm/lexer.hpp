// Splitting one source line into tokens.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "asm/diagnostics.hpp"

enum class token_kind {
    name,        // label, constant or keyword: a letter or _, then letters, digits, _
    directive,   // "." and letters: .ORG, .EQU, .INCLUDE, .WORD
    number,      // decimal, 0x hexadecimal, 0b binary, or a 'c' character
    string,      // "text", escapes decoded
    punct,       // : = # ## + - ( ) ,
    end,         // end of the line or start of its comment
};

struct token {
    token_kind kind;
    std::string text;    // as written; for a string, the decoded characters
    int64_t value = 0;   // of a number
    int column = 0;      // from 1
};

// The tokens of `text`, ending with an `end` token; nothing (after reporting
// the first malformed part) when the line cannot be read.
std::optional<std::vector<token>> tokenize(std::string_view text, const source_position &line,
                                           diagnostics &diag);

// Keywords are compared without regard to case.
bool same_keyword(std::string_view a, std::string_view b);

// Reads tokens one after another; the last one (`end`) is never passed.
class token_cursor {
public:
    explicit token_cursor(const std::vector<token> &tokens, size_t start = 0)
        : tokens_(tokens), index_(start) {}

    const token &peek(size_t ahead = 0) const;
    const token &next();
    bool at_end() const { return peek().kind == token_kind::end; }
    bool at_punct(std::string_view text) const;
    bool at_keyword(std::string_view keyword) const;
    // Moves past the next token when it is that punctuation or keyword.
    bool accept_punct(std::string_view text);
    bool accept_keyword(std::string_view keyword);
    size_t index() const { return index_; }

private:
    const std::vector<token> &tokens_;
    size_t index_;
};
