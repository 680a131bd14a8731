#include "asm/disassembler.hpp"

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "asm/mnemonics.hpp"
#include "core/load_file.hpp"
#include "core/micro_word.hpp"

bool read_cm_load_file(const std::string &path, std::map<uint32_t, uint64_t> &words, diagnostics &diag)
{
    FILE *file = fopen(path.c_str(), "r");
    if (!file) {
        diag.error({path, 0, 0}, "cannot open the file");
        return false;
    }
    // The same reads as the Load command.
    bool has_header = false, is_cm = false;
    int number = 0;
    std::map<uint32_t, int> line_of;
    const load_read_end end = read_load_lines(file, [&](const char *line) {
        number++;
        if (!has_header) {
            has_header = true;
            is_cm = load_file_header(line) == LOAD_CM;
            return is_cm;
        }
        uint32_t address;
        uint64_t value;
        if (!load_file_line(LOAD_CM, line, address, value)) return true;   // no value column: nothing stored
        char text[64];
        snprintf(text, sizeof text, "0x%03X", address);
        if (address > CM_LIMIT) {
            diag.warning({path, number, 1}, std::string("address ") + text + " is beyond control memory: Load skips this line");
            return true;
        }
        auto [it, added] = line_of.try_emplace(address, number);
        if (!added) {
            diag.warning({path, number, 1}, std::string("address ") + text + " appears again: this word replaces the one of line " +
                                                std::to_string(it->second));
            it->second = number;
        }
        words[address] = value;
        return true;
    });
    fclose(file);
    if (end == LOAD_READ_TOO_LONG) {
        diag.error({path, number, 1}, "the line does not end within " + std::to_string(LOAD_LINE_LIMIT >> 20) + " MiB");
        return false;
    }
    if (!is_cm) {
        diag.error({path, 1, 1}, "not a CM load file: the first line must begin with CM");
        return false;
    }
    return true;
}

namespace {

std::string format(const char *pattern, long long value)
{
    char text[64];
    snprintf(text, sizeof text, pattern, value);
    return text;
}

// One micro-instruction in source form, its sequence target still an address.
struct word_source {
    std::vector<std::string> clauses;
    std::string sequence;   // the sequence clause up to its target
    int64_t target = -1;    // the address the sequence clause names, if any
    std::vector<std::string> escapes;
};

// The clause for one field code: nothing for the default, the mnemonic, or a
// numeric escape for a code without one.
std::string field_clause(const field_mnemonics &table, int code)
{
    if (code == field_of(DEFAULT_MICRO_WORD, table.field)) return "";
    if (table.names[code]) return std::string(table.keyword) + "=" + table.names[code];
    return std::string(table.field.name) + "=" + std::to_string(code);
}

// The sequence clause of a word whose TSF and ADF are still free (not part of
// an R=# or R=## constant) as far as the flags say. Returns false when the
// sequence function has no clause that gives back exactly these fields; it is
// then written as numbers. A clause claims the fields it writes.
bool decode_sequence(word_source &s, uint32_t address, int sqf, int tsf, int adf, bool &tsf_free, bool &adf_free)
{
    switch (sqf) {
    case SQF_JUMP:   // TSF, ADF: the whole address
    case SQF_CALL:
        if (!tsf_free || !adf_free) return false;
        s.sequence = sqf == SQF_JUMP ? "JUMP " : "CALL ";
        s.target = tsf << 9 | adf;
        tsf_free = adf_free = false;
        return true;
    case SQF_RETURN: s.sequence = "RETURN"; return true;
    case SQF_JUMP_IF_TRUE:   // TSF the test, ADF the address within the page
    case SQF_JUMP_IF_FALSE:
    case SQF_RESTART_IF_TRUE: {
        if (!tsf_free || !adf_free || !TEST_CONDITIONS[tsf]) return false;
        std::string test = TEST_CONDITIONS[tsf];
        s.sequence = sqf == SQF_JUMP_IF_TRUE    ? "IF " + test + " JUMP "
                     : sqf == SQF_JUMP_IF_FALSE ? "IF NOT " + test + " JUMP "
                                                : "IF " + test + " RESTART ELSE ";
        s.target = (address & ~0x1FFu) | static_cast<uint32_t>(adf);
        tsf_free = adf_free = false;
        return true;
    }
    case SQF_DISPATCH_OP:   // only when the table gives back every bit
    case SQF_DISPATCH_RX:
    case SQF_DISPATCH_RXRY: {
        bool uses_tsf = sqf != SQF_DISPATCH_OP;
        if (!adf_free || (uses_tsf && !tsf_free)) return false;
        uint32_t table = dispatch_table(sqf, tsf, adf);
        int table_tsf, table_adf;
        dispatch_fields(sqf, table, table_tsf, table_adf);
        if (table_adf != adf || (uses_tsf && table_tsf != tsf)) return false;
        s.sequence = sqf == SQF_DISPATCH_OP ? "DISPATCH OP " : sqf == SQF_DISPATCH_RX ? "DISPATCH RX " : "DISPATCH RXRY ";
        s.target = table;
        tsf_free = tsf_free && !uses_tsf;
        adf_free = false;
        return true;
    }
    case SQF_CONTINUE: return true;   // the default
    default: return false;            // reserved
    }
}

word_source decode(uint32_t address, uint64_t word)
{
    word_source s;
    int rbf = field_of(word, FIELD_RBF);
    int tsf = field_of(word, FIELD_TSF), adf = field_of(word, FIELD_ADF);
    bool tsf_free = true, adf_free = true;

    for (const field_mnemonics *table : CLAUSE_FIELDS) {
        std::string clause;
        if (table == &RIGHT_BUS && rbf == RBF_ADF_CONSTANT) {
            clause = format("R=#0x%03llX", adf);
            adf_free = false;
        } else if (table == &RIGHT_BUS && rbf == RBF_WORD_CONSTANT) {
            clause = format("R=##0x%04llX", static_cast<long long>(word & 0xFFFF));
            tsf_free = adf_free = false;
        } else if (table == &EXTRA_FUNCTION && rbf == RBF_WORD_CONSTANT) {
            continue;   // EXF is part of the constant
        } else {
            clause = field_clause(*table, field_of(word, table->field));
        }
        if (!clause.empty()) s.clauses.push_back(clause);
    }

    int sqf = field_of(word, FIELD_SQF);
    if (!decode_sequence(s, address, sqf, tsf, adf, tsf_free, adf_free))
        s.escapes.push_back("SQF=" + std::to_string(sqf));
    if (tsf_free && tsf) s.escapes.push_back("TSF=" + std::to_string(tsf));
    if (adf_free && adf) s.escapes.push_back(format("ADF=0x%03llX", adf));
    if (word >> 40) s.escapes.push_back(format("HI=0x%06llX", static_cast<long long>(word >> 40)));
    return s;
}

// The label of each address that needs one: its given name, else L_xxx
// (made unique against the given names).
std::map<uint32_t, std::string> label_names(const std::set<uint32_t> &targets, const std::map<uint32_t, uint64_t> &words,
                                            const std::map<uint32_t, std::string> &names)
{
    std::map<uint32_t, std::string> labels;
    std::set<std::string> given;
    for (const auto &[address, name] : names)
        if (words.count(address)) {
            labels[address] = name;
            given.insert(name);
        }
    for (uint32_t address : targets) {
        if (labels.count(address)) continue;
        std::string name = format("L_%03llX", address);
        while (given.count(name)) name += "_";
        labels[address] = name;
    }
    return labels;
}

}  // namespace

std::string disassemble(const std::map<uint32_t, uint64_t> &words, const std::map<uint32_t, std::string> &names)
{
    std::map<uint32_t, word_source> sources;
    std::set<uint32_t> labels;   // targets that hold a word
    for (auto [address, word] : words) {
        word_source s = decode(address, word);
        if (s.target >= 0 && words.count(static_cast<uint32_t>(s.target))) labels.insert(static_cast<uint32_t>(s.target));
        sources.emplace(address, s);
    }
    std::map<uint32_t, std::string> label_of = label_names(labels, words, names);

    std::string out;
    int64_t next = 0;   // the address the next line would get
    for (auto &[address, s] : sources) {
        if (address != next) out += format("        .ORG 0x%03llX\n", address);
        next = address + 1;

        std::string text;
        for (const std::string &clause : s.clauses) text += clause + " ";
        if (s.target >= 0)
            text += s.sequence + (label_of.count(static_cast<uint32_t>(s.target)) ? label_of.at(static_cast<uint32_t>(s.target))
                                                                                   : format("0x%03llX", s.target)) + " ";
        else if (!s.sequence.empty())
            text += s.sequence + " ";
        for (const std::string &escape : s.escapes) text += escape + " ";
        if (text.empty()) text = "NOP ";
        text.pop_back();

        char comment[64];
        snprintf(comment, sizeof comment, "; %03X  %010llX", address, static_cast<unsigned long long>(words.at(address)));
        std::string label = label_of.count(address) ? label_of.at(address) + ":" : "";
        if (label.size() > 7) {   // too long for the column: on a line of its own, naming the next word
            out += label + "\n";
            label.clear();
        }
        label.resize(8, ' ');
        text.resize(std::max<size_t>(text.size() + 1, 48), ' ');
        out += label + text + comment + "\n";
    }
    return out;
}
