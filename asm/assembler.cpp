#include "asm/assembler.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "asm/micro_statement.hpp"
#include "asm/timing_check.hpp"
#include "core/micro_word.hpp"

namespace {

constexpr int MAX_INCLUDE_DEPTH = 16;
// Includes read in one assembly: a file that includes itself twice would
// otherwise be read 2^16 times within the depth limit.
constexpr int MAX_INCLUDES = 256;

std::string place_text(const source_position &p) { return p.file + ":" + std::to_string(p.line); }

}  // namespace

void assembler::assemble_file(const std::string &path)
{
    read_file(path, source_position{path, 0, 0}, 0);
    second_pass();
    report_timing();
}

void assembler::assemble_text(const std::string &name, std::string_view text)
{
    read_lines(name, text, 0);
    second_pass();
    report_timing();
}

// Every front end gets the timing check with the assembly, also when the
// source has errors: it looks at every word that assembled.
void assembler::report_timing()
{
    if (kind_ != source_kind::micro) return;
    for (const timing_warning &w : check_timing(words_, placed_, fields_set_)) {
        if (w.level != severity::note) {
            diag_.warning(w.where, w.reason);
            continue;
        }
        if (!marked_intended(w.second)) diag_.note(w.where, w.reason);
    }
}

// A note's line says the encoding is meant when its comment holds the mark.
bool assembler::marked_intended(uint32_t address) const
{
    auto line = word_lines_.find(address);
    if (line == word_lines_.end()) return false;
    const std::string &text = source_lines_[line->second].text;
    size_t comment = text.find(';');
    return comment != std::string::npos && text.find(TIMING_INTENDED_MARK, comment) != std::string::npos;
}

text_read read_bounded(std::istream &file, size_t limit, std::string &text)
{
    char piece[8192];
    while (file.read(piece, sizeof piece) || file.gcount() > 0) {
        text.append(piece, static_cast<size_t>(file.gcount()));
        if (text.size() > limit) return text_read::too_long;
    }
    return file.bad() ? text_read::failed : text_read::whole;
}

uint32_t assembler::limit() const { return kind_ == source_kind::micro ? CM_LIMIT : MM_LIMIT; }

void assembler::read_file(const std::string &path, const source_position &included_at, int depth)
{
    if (read_policy_) {
        if (std::string refused = read_policy_(path); !refused.empty()) {
            diag_.error(included_at, "'" + path + "': " + refused);
            return;
        }
    }
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) {
        diag_.error(included_at, "'" + path + "' is a directory, not a source file");
        return;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        diag_.error(included_at, "cannot open '" + path + "'");
        return;
    }
    std::string text;   // up to what is left of the bound
    text_read end = read_bounded(file, MAX_SOURCE_BYTES - source_bytes_, text);
    if (end == text_read::too_long) {
        diag_.error(included_at, "'" + path + "' goes past " + std::to_string(MAX_SOURCE_BYTES >> 20) +
                                     " MiB, the most source an assembly reads (its includes counted)");
        return;
    }
    if (end == text_read::failed) {
        diag_.error(included_at, "reading '" + path + "' failed");
        return;
    }
    source_bytes_ += text.size();
    read_lines(path, text, depth);
}

void assembler::read_lines(const std::string &name, std::string_view text, int depth)
{
    int number = 1;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        std::string_view shown = line;
        if (!shown.empty() && shown.back() == '\r') shown.remove_suffix(1);
        source_lines_.push_back({source_position{name, number, 0}, std::string(shown)});
        first_pass_line(source_position{name, number++, 0}, line, depth);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
}

// Labels and directives take effect at once; statements get their address
// and wait for the second pass.
void assembler::first_pass_line(const source_position &line, std::string_view text, int depth)
{
    std::optional<std::vector<token>> scanned = tokenize(text, line, diag_);
    if (!scanned) return;
    const std::vector<token> &tokens = lines_.emplace_back(std::move(*scanned));
    token_cursor cursor(tokens);
    while (cursor.peek().kind == token_kind::name && cursor.peek(1).text == ":") {
        const token &label = cursor.next();
        cursor.next();
        symbols_.define(label.text, address_, at_column(line, label.column), diag_);
        labels_.emplace_back(label.text, static_cast<uint32_t>(address_));
    }
    if (cursor.at_end()) return;
    if (cursor.peek().kind == token_kind::directive) {
        directive(cursor, tokens, line, depth);
        return;
    }
    source_position where = at_column(line, cursor.peek().column);
    if (kind_ == source_kind::data) {
        diag_.error(where, "a data source holds .WORD lines, not '" + cursor.peek().text + "'");
        return;
    }
    if (place(where)) pending_.push_back({line, &tokens, cursor.index(), static_cast<uint32_t>(address_)});
    address_++;
}

void assembler::directive(token_cursor &cursor, const std::vector<token> &tokens, const source_position &line,
                          int depth)
{
    const token &name = cursor.next();
    source_position where = at_column(line, name.column);
    if (same_keyword(name.text, ".WORD")) {
        if (kind_ == source_kind::micro)
            diag_.error(where, ".WORD belongs in data sources (kalvo3-asm --data)");
        else
            data_items(cursor, tokens, line);
        return;
    }
    if (same_keyword(name.text, ".ORG")) {
        const token &first = cursor.peek();
        std::optional<int64_t> origin = parse_expression(cursor, symbols_, name_scope::lines_above, line, diag_);
        if (!origin) return;
        if (*origin < 0 || *origin > limit()) {
            diag_.error(at_column(line, first.column),
                        "origin " + hex_text(*origin, 3) + " is outside the memory (0.." + hex_text(limit(), 3) + ")");
            return;
        }
        address_ = *origin;
    } else if (same_keyword(name.text, ".EQU")) {
        const token &constant = cursor.next();
        if (constant.kind != token_kind::name) {
            diag_.error(at_column(line, constant.column), "a name is expected after .EQU");
            return;
        }
        std::optional<int64_t> value = parse_expression(cursor, symbols_, name_scope::lines_above, line, diag_);
        if (!value) return;
        symbols_.define(constant.text, *value, at_column(line, constant.column), diag_);
        constants_[source_lines_.size() - 1] = *value;
    } else if (same_keyword(name.text, ".INCLUDE")) {
        const token &file = cursor.next();
        if (file.kind != token_kind::string) {
            diag_.error(at_column(line, file.column), "a file name in double quotes is expected after .INCLUDE");
            return;
        }
        if (depth >= MAX_INCLUDE_DEPTH) {
            diag_.error(where, "includes nested too deeply (does a file include itself?)");
            return;
        }
        if (includes_ >= MAX_INCLUDES) {   // said once; the includes after it are not read
            if (includes_++ == MAX_INCLUDES)
                diag_.error(where, "more than " + std::to_string(MAX_INCLUDES) +
                                       " includes in one assembly (does a file include itself?)");
            return;
        }
        includes_++;
        std::filesystem::path path = std::filesystem::path(line.file).parent_path() / file.text;
        if (include_files_) {
            auto text = include_files_->find(path.string());
            if (text == include_files_->end())
                diag_.error(at_column(line, file.column), "cannot open '" + path.string() + "'");
            else
                read_lines(path.string(), text->second, depth + 1);
        } else {
            read_file(path.string(), at_column(line, file.column), depth + 1);
        }
    } else {
        diag_.error(where, "unknown directive '" + name.text + "' (.ORG, .EQU, .INCLUDE, .WORD)");
        return;
    }
    if (!cursor.at_end())
        diag_.error(at_column(line, cursor.peek().column), "unexpected '" + cursor.peek().text + "' after " + name.text);
}

// .WORD item, item, ...: a string places its characters now; an expression
// waits for the second pass. Items are separated by commas, which no
// expression contains.
void assembler::data_items(token_cursor &cursor, const std::vector<token> &tokens, const source_position &line)
{
    do {
        source_position where = at_column(line, cursor.peek().column);
        if (cursor.at_end() || cursor.at_punct(",")) {
            diag_.error(where, "a value is missing in the .WORD list");
            return;
        }
        if (cursor.peek().kind == token_kind::string &&
            (cursor.peek(1).text == "," || cursor.peek(1).kind == token_kind::end)) {
            for (char c : cursor.next().text) {
                if (place(where)) words_[static_cast<uint32_t>(address_)] = static_cast<unsigned char>(c);
                address_++;
            }
            continue;
        }
        if (place(where)) pending_.push_back({line, &tokens, cursor.index(), static_cast<uint32_t>(address_)});
        address_++;
        while (!cursor.at_end() && !cursor.at_punct(",")) cursor.next();
    } while (cursor.accept_punct(","));
}

// Claims the current address for the word that starts at `where`.
bool assembler::place(const source_position &where)
{
    if (address_ > limit()) {
        diag_.error(where, "address " + hex_text(address_, 3) + " is beyond the memory (0.." + hex_text(limit(), 3) + ")");
        return false;
    }
    auto [it, added] = placed_.try_emplace(static_cast<uint32_t>(address_), where);
    if (!added) {
        diag_.error(where, "address " + hex_text(address_, 3) + " already holds the word of " + place_text(it->second));
        return false;
    }
    word_lines_[static_cast<uint32_t>(address_)] = source_lines_.size() - 1;
    return true;
}

void assembler::second_pass()
{
    for (const pending &p : pending_) {
        if (kind_ == source_kind::data) {
            data_value(p);
            continue;
        }
        token_cursor cursor(*p.tokens, p.first);
        uint64_t fields = 0;
        if (std::optional<uint64_t> word = encode_micro_instruction(cursor, p.address, symbols_, p.line, diag_, &fields)) {
            words_[p.address] = *word;
            fields_set_[p.address] = fields;
        }
    }
}

std::vector<std::pair<std::string, uint32_t>> assembler::labels() const
{
    std::vector<std::pair<std::string, uint32_t>> sorted = labels_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
    return sorted;
}

void assembler::data_value(const pending &item)
{
    token_cursor cursor(*item.tokens, item.first);
    const token &first = cursor.peek();
    std::optional<int64_t> value = parse_expression(cursor, symbols_, name_scope::whole_file, item.line, diag_);
    if (!value) return;
    if (!cursor.at_end() && !cursor.at_punct(",")) {
        diag_.error(at_column(item.line, cursor.peek().column), "',' or the end of the line expected, not '" + cursor.peek().text + "'");
        return;
    }
    if (*value < -0x8000 || *value > 0xFFFF) {
        diag_.error(at_column(item.line, first.column), "value " + std::to_string(*value) + " does not fit 16 bits (-32768..65535)");
        return;
    }
    words_[item.address] = static_cast<uint64_t>(*value) & 0xFFFF;
}
