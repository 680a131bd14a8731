// The assembler: source lines, labels, directives and the two passes, for
// microprograms (CM words) and for main-memory data (MM words).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "asm/diagnostics.hpp"
#include "asm/expression.hpp"
#include "asm/lexer.hpp"

enum class source_kind {
    micro,   // one micro-instruction per line, CM addresses
    data,    // .WORD lines, MM addresses
};

class assembler {
public:
    assembler(source_kind kind, diagnostics &diag) : kind_(kind), diag_(diag) {}

    // Assembles the file at `path`, with everything it includes.
    void assemble_file(const std::string &path);
    // Assembles `text` as if it were the file `name` (includes are looked up
    // beside `name`).
    void assemble_text(const std::string &name, std::string_view text);

    // The words by address; complete only when the diagnostics hold no error.
    const std::map<uint32_t, uint64_t> &words() const { return words_; }
    // Where each word was placed: file, line and column of its statement or item.
    const std::map<uint32_t, source_position> &placed() const { return placed_; }
    // The labels and the addresses they name, in the order they were defined.
    const std::vector<std::pair<std::string, uint32_t>> &labels() const { return labels_; }

private:
    // A statement or data item whose value waits for the second pass, when
    // every label is known.
    struct pending {
        source_position line;
        const std::vector<token> *tokens;   // the line's, kept in lines_
        size_t first;                       // the statement's or item's first token
        uint32_t address;
    };

    void read_file(const std::string &path, const source_position &included_at, int depth);
    void read_lines(const std::string &name, std::string_view text, int depth);
    void first_pass_line(const source_position &line, std::string_view text, int depth);
    void directive(token_cursor &cursor, const std::vector<token> &tokens, const source_position &line, int depth);
    void data_items(token_cursor &cursor, const std::vector<token> &tokens, const source_position &line);
    bool place(const source_position &where);
    void second_pass();
    void data_value(const pending &item);

    uint32_t limit() const;

    source_kind kind_;
    diagnostics &diag_;
    symbol_table symbols_;
    int64_t address_ = 0;                           // where the next word goes
    std::map<uint32_t, source_position> placed_;   // who placed each word
    std::deque<std::vector<token>> lines_;        // tokens of the lines with pending parts
    std::vector<pending> pending_;
    std::map<uint32_t, uint64_t> words_;
    std::vector<std::pair<std::string, uint32_t>> labels_;
};
