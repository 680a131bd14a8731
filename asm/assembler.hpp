// The assembler: source lines, labels, directives and the two passes, for
// microprograms (CM words) and for main-memory data (MM words).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asm/diagnostics.hpp"
#include "asm/expression.hpp"
#include "asm/lexer.hpp"

enum class source_kind {
    micro,   // one micro-instruction per line, CM addresses
    data,    // .WORD lines, MM addresses
};

// The most source text one assembly reads from files, its includes counted.
constexpr size_t MAX_SOURCE_BYTES = size_t{16} << 20;

// How reading a whole file ended.
enum class text_read { whole, too_long, failed };

// Reads `file` to its end into `text`, in pieces, and stops as soon as
// `text` holds more than `limit` bytes: an endless stream (a pipe, a device)
// ends as too long, not in exhausted memory.
text_read read_bounded(std::istream &file, size_t limit, std::string &text);

class assembler {
public:
    assembler(source_kind kind, diagnostics &diag) : kind_(kind), diag_(diag) {}

    // Assembles the file at `path`, with everything it includes; a
    // microprogram's words are then checked for timing (warnings).
    void assemble_file(const std::string &path);
    // Assembles `text` as if it were the file `name` (includes are looked up
    // beside `name`).
    void assemble_text(const std::string &name, std::string_view text);

    // Includes are read from `files` (by the name the .INCLUDE line gives,
    // joined to the including file's directory) instead of from the disk;
    // a name not there cannot be opened. The map must outlive the assembly.
    void include_from(const std::map<std::string, std::string> *files) { include_files_ = files; }

    source_kind kind() const { return kind_; }

    // Asked before any file is read, the assembled file itself and every
    // include: "" lets the file be read, anything else is the reason it is
    // not, reported as an error where the file was named.
    using read_policy = std::function<std::string(const std::string &path)>;
    void set_read_policy(read_policy policy) { read_policy_ = std::move(policy); }

    // The words by address; complete only when the diagnostics hold no error
    // (with errors: every word that assembled).
    const std::map<uint32_t, uint64_t> &words() const { return words_; }

    // What placed the words, for listings, symbol files and the timing check;
    // like words(), complete only without errors.
    struct source_line {
        source_position where;   // file and line (column 0)
        std::string text;        // without the line end
    };
    // Every line read, in reading order: an .INCLUDE line comes before the
    // lines of its file.
    const std::vector<source_line> &source_lines() const { return source_lines_; }
    // For each word, the index in source_lines() of the line that placed it.
    const std::map<uint32_t, size_t> &word_lines() const { return word_lines_; }
    // For each word, where its statement or data item starts.
    const std::map<uint32_t, source_position> &placed() const { return placed_; }
    // For each micro-instruction, the bits of the fields that its clauses
    // set; the other fields hold their defaults.
    const std::map<uint32_t, uint64_t> &fields_set() const { return fields_set_; }
    // The labels and constants with where each is defined and used.
    const symbol_table &symbols() const { return symbols_; }
    // The value of each .EQU, by the index in source_lines() of its line.
    const std::map<size_t, int64_t> &constants() const { return constants_; }
    // The labels (not the .EQU constants) with their addresses, in address
    // order; labels of one address in the order of their lines.
    std::vector<std::pair<std::string, uint32_t>> labels() const;

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
    void report_timing();
    bool marked_intended(uint32_t address) const;
    void data_value(const pending &item);

    uint32_t limit() const;

    source_kind kind_;
    diagnostics &diag_;
    read_policy read_policy_;
    symbol_table symbols_;
    int64_t address_ = 0;                           // where the next word goes
    std::map<uint32_t, source_position> placed_;   // who placed each word
    std::deque<std::vector<token>> lines_;        // tokens of the lines with pending parts
    std::vector<pending> pending_;
    std::map<uint32_t, uint64_t> words_;
    std::vector<source_line> source_lines_;
    std::map<uint32_t, size_t> word_lines_;
    std::map<uint32_t, uint64_t> fields_set_;
    std::map<size_t, int64_t> constants_;
    const std::map<std::string, std::string> *include_files_ = nullptr;
    int includes_ = 0;                                       // .INCLUDE lines read so far
    std::vector<std::pair<std::string, uint32_t>> labels_;   // in the order of definition
    size_t source_bytes_ = 0;                                // read from files so far, includes counted
};
