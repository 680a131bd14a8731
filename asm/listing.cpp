#include "asm/listing.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "core/micro_word.hpp"

namespace {

// Labels, joined by blanks, by address.
std::map<uint32_t, std::string> labels_by_address(const assembler &source)
{
    std::map<uint32_t, std::string> labels;
    for (const auto &[name, address] : source.labels()) {
        std::string &text = labels[address];
        text += (text.empty() ? "" : " ") + name;
    }
    return labels;
}

// The ten fields of a CM word: nine codes in decimal and ADF in hexadecimal.
const char FIELDS_HEADING[] = "LB RB AL SH SB MM SQ TS EX ADF";

std::string field_columns(uint64_t word)
{
    std::string text;
    for (const micro_field &field : MICRO_FIELDS) {
        char part[8];
        if (field.low_bit == FIELD_ADF.low_bit)
            snprintf(part, sizeof part, "%03X", field_of(word, field));
        else
            snprintf(part, sizeof part, "%2d ", field_of(word, field));
        text += part;
    }
    return text;
}

// The columns of one word: address, word and, for data, the value; for CM
// words with `fields`, the fields.
std::string word_columns(source_kind kind, uint32_t address, uint64_t word, bool fields)
{
    char text[64];
    if (kind == source_kind::micro) {
        snprintf(text, sizeof text, "%03X  %010llX", address, static_cast<unsigned long long>(word));
        return fields ? text + std::string("  ") + field_columns(word) : text;
    }
    char shown[4] = "";
    if (word >= 0x20 && word < 0x7F) snprintf(shown, sizeof shown, "'%c'", static_cast<char>(word));
    snprintf(text, sizeof text, "%04X  %04X  %5u %-3s", address, static_cast<unsigned>(word),
             static_cast<unsigned>(word), shown);
    return text;
}

// One row: the word's columns, the labels, the line number and the text.
std::string listing_row(const std::string &columns, const std::string &label, const std::string &number,
                        const std::string &text)
{
    std::string row = columns + "  " + label;
    row.resize(std::max(row.size(), columns.size() + 14), ' ');
    row += std::string(number.size() < 5 ? 5 - number.size() : 0, ' ') + number;
    if (!text.empty()) row += "  " + text;
    while (!row.empty() && row.back() == ' ') row.pop_back();
    return row + "\n";
}

// "12" in the file `file`, else "other.inc:12".
std::string place_text(const source_position &where, const std::string &file)
{
    return where.file == file ? std::to_string(where.line) : where.file + ":" + std::to_string(where.line);
}

// The names with their values, definitions and uses.
std::string symbol_table_text(const assembler &source)
{
    const auto &entries = source.symbols().entries();
    if (entries.empty()) return "";
    size_t width = 4;
    for (const auto &[name, symbol] : entries) width = std::max(width, name.size());
    auto row = [&](const std::string &name, const std::string &value, const std::string &defined,
                   const std::string &uses) {
        std::string text = name + std::string(width - name.size() + 2, ' ') + value;
        text.resize(width + 2 + 10, ' ');
        text += defined;
        text.resize(std::max(text.size() + 2, width + 2 + 10 + 20), ' ');
        text += uses;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text + "\n";
    };
    std::string out = "\n; symbols\n";
    out += row("NAME", "VALUE", "DEFINED", "USED ON LINES");
    for (const auto &[name, symbol] : entries) {
        const std::string &file = symbol.where.file;
        std::string uses;
        const source_position *previous = nullptr;
        for (const source_position &use : symbol.uses) {
            if (previous && use.line == previous->line && use.file == previous->file)
                continue;   // one line, named once
            if (!uses.empty()) uses += ' ';
            uses += place_text(use, file);
            previous = &use;
        }
        out += row(name, hex_text(symbol.value, source.kind() == source_kind::micro ? 3 : 4),
                   file + ":" + std::to_string(symbol.where.line), uses);
    }
    return out;
}

}  // namespace

std::string listing_text(const assembler &source, const listing_options &options)
{
    const std::vector<assembler::source_line> &lines = source.source_lines();
    std::map<uint32_t, std::string> labels = labels_by_address(source);
    bool fields = options.fields && source.kind() == source_kind::micro;
    std::string blank(word_columns(source.kind(), 0, 0, fields).size(), ' ');

    // The words of each line, in address order.
    std::map<size_t, std::vector<uint32_t>> words_of_line;
    for (auto [address, line] : source.word_lines()) words_of_line[line].push_back(address);

    // The messages by file and line; those about no line come first.
    std::map<std::pair<std::string, int>, std::vector<const diagnostic *>> messages;
    std::string unplaced;
    if (options.messages) {
        std::set<std::pair<std::string, int>> read;
        for (const assembler::source_line &line : lines) read.insert({line.where.file, line.where.line});
        for (const diagnostic &record : options.messages->records()) {
            if (read.count({record.where.file, record.where.line}))
                messages[{record.where.file, record.where.line}].push_back(&record);
            else
                unplaced += "*** " + diagnostic_text(record) + "\n";
        }
    }

    std::string heading = source.kind() == source_kind::micro ? "ADR  WORD" : "ADDR  WORD  VALUE";
    if (fields) heading += std::string("        ") + FIELDS_HEADING;
    heading.resize(blank.size(), ' ');
    std::string out = "; listing of " + (lines.empty() ? std::string() : lines[0].where.file) + "\n";
    out += unplaced;
    out += listing_row(heading, "LABEL", "LINE", "SOURCE");
    std::string file = lines.empty() ? std::string() : lines[0].where.file;
    for (size_t i = 0; i < lines.size(); i++) {
        const assembler::source_line &line = lines[i];
        if (line.where.file != file) {
            file = line.where.file;
            out += "; file " + file + "\n";
        }
        auto placed = words_of_line.find(i);
        auto constant = source.constants().find(i);
        if (placed == words_of_line.end()) {
            std::string columns = blank;
            if (constant != source.constants().end()) {
                std::string value = "= " + hex_text(constant->second, 4);
                columns.replace(source.kind() == source_kind::micro ? 5 : 6, value.size(), value);
            }
            out += listing_row(columns, "", std::to_string(line.where.line), line.text);
        } else {
            bool first = true;
            for (uint32_t address : placed->second) {
                auto word = source.words().find(address);
                std::string columns =
                    word == source.words().end() ? blank : word_columns(source.kind(), address, word->second, fields);
                auto label = labels.find(address);
                out += listing_row(columns, label == labels.end() ? "" : label->second,
                                   first ? std::to_string(line.where.line) : "", first ? line.text : "");
                first = false;
            }
        }
        // Under the first reading of the line only (a file included many
        // times would repeat them all each time).
        auto said = messages.find({line.where.file, line.where.line});
        if (said != messages.end()) {
            for (const diagnostic *record : said->second) out += "*** " + diagnostic_text(*record) + "\n";
            messages.erase(said);
        }
    }
    return out + symbol_table_text(source);
}

void write_load_file(FILE *stream, const assembler &source, load_target target)
{
    write_load_header(stream, target);
    for (auto [address, word] : source.words()) {
        if (target == LOAD_MM)
            write_mm_line(stream, address, static_cast<uint16_t>(word));
        else
            write_cm_line(stream, address, word);
    }
}

std::string symbol_file_text(const assembler &source)
{
    const std::vector<assembler::source_line> &lines = source.source_lines();
    bool micro = source.kind() == source_kind::micro;
    std::string out = std::string("; labels of ") + (lines.empty() ? "" : lines[0].where.file.c_str()) + " and their " +
                      (micro ? "CM" : "MM") + " addresses\n";
    for (const auto &[name, address] : source.labels()) {
        char text[16];
        snprintf(text, sizeof text, micro ? " 0x%03X\n" : " 0x%04X\n", address);
        out += name + text;
    }
    return out;
}

namespace {

bool is_name_start(char c) { return isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool is_name_char(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One line "label address [; comment]": false with `reason` and `column`
// set when it is malformed.
bool symbol_line(const std::string &text, std::string &name, uint32_t &address, std::string &reason, size_t &column)
{
    size_t i = 0;
    while (i < text.size() && is_blank(text[i])) i++;
    if (i == text.size() || text[i] == ';' || text[i] == '#') return true;   // blank or comment: name stays empty
    column = i;
    if (!is_name_start(text[i])) {
        reason = "a label is expected";
        return false;
    }
    size_t start = i;
    while (i < text.size() && is_name_char(text[i])) i++;
    name = text.substr(start, i - start);
    while (i < text.size() && is_blank(text[i])) i++;
    column = i;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) i += 2;
    size_t digits = 0;
    uint32_t value = 0;   // stops growing once past 0xFFFF
    for (; i < text.size() && hex_digit(text[i]) >= 0; i++, digits++)
        if (value <= 0xFFFF) value = value * 16 + static_cast<uint32_t>(hex_digit(text[i]));
    if (digits == 0 || value > 0xFFFF || (i < text.size() && is_name_char(text[i]))) {
        reason = "a hexadecimal address 0..0xFFFF is expected after '" + name + "'";
        return false;
    }
    address = value;
    while (i < text.size() && is_blank(text[i])) i++;
    if (i < text.size() && text[i] != ';') {
        column = i;
        reason = "unexpected text after the address";
        name.clear();
        return false;
    }
    return true;
}

}  // namespace

int read_symbol_text(const std::string &text, const std::string &path, std::vector<symbol_entry> &labels,
                     repeated_labels repeats, diagnostics &diag)
{
    std::map<std::string, int> line_of;
    int number = 0;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        number++;
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string name, reason;
        uint32_t address = 0;
        size_t column = 0;
        if (!symbol_line(line, name, address, reason, column)) {
            diag.error({path, number, static_cast<int>(column) + 1}, reason);
            return number;
        }
        if (name.empty()) continue;
        auto [it, added] = line_of.try_emplace(name, number);
        if (!added && repeats == repeated_labels::error) {
            diag.error({path, number, static_cast<int>(line.find_first_not_of(" \t")) + 1},
                       "'" + name + "' is given again (first on line " + std::to_string(it->second) + ")");
            return number;
        }
        labels.push_back({name, address, number});
    }
    return 0;
}

bool read_symbol_file(const std::string &path, std::map<uint32_t, std::string> &names, diagnostics &diag)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        diag.error({path, 0, 0}, "is a directory, not a symbol file");
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        diag.error({path, 0, 0}, "cannot open the file");
        return false;
    }
    std::string text;
    text_read end = read_bounded(file, MAX_SOURCE_BYTES, text);
    if (end == text_read::too_long) {
        diag.error({path, 0, 0}, "the file goes past " + std::to_string(MAX_SOURCE_BYTES >> 20) + " MiB");
        return false;
    }
    if (end == text_read::failed) {
        diag.error({path, 0, 0}, "reading the file failed");
        return false;
    }
    std::vector<symbol_entry> labels;
    if (read_symbol_text(text, path, labels, repeated_labels::error, diag) != 0) return false;
    for (const symbol_entry &label : labels) names.try_emplace(label.address, label.name);
    return true;
}
