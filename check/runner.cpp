// Running a case: power on, load the files, set the machine up, run, compare.
#include "check/runner.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include "api/assembly_policy.hpp"
#include "api/kalvo3_api.h"
#include "asm/diagnostics.hpp"
#include "asm/listing.hpp"
#include "check/batch.hpp"
#include "core/load_file.hpp"
#include "core/micro_word.hpp"

namespace check {

namespace {

constexpr size_t MAX_INPUT_BYTES = 16 << 20;   // a load file of the whole MM is under 1 MiB
constexpr size_t MAX_PATTERN_TEXT = 64 << 10;  // printer text matched against a pattern
constexpr size_t MAX_PATTERN_LINE = 256;        // and each of its lines
constexpr size_t MAX_SHOWN = 20;               // differences shown per expectation

std::string hex(uint64_t value, int digits)
{
    char text[32];
    snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string steps_text(uint32_t steps) { return std::to_string(steps) + (steps == 1 ? " step" : " steps"); }

class case_runner {
public:
    case_runner(const check_file &file, const case_plan &plan, const run_options &options, case_result &result)
        : file_(file), plan_(plan), options_(options), r_(result) {}

    void run()
    {
        r_.name = plan_.name;
        r_.points = plan_.points;
        r_.shown_as = plan_.shown_as;
        r_.feedback = plan_.feedback;
        k3_power_on();
        for (const program_file &p : plan_.programs)
            if (!load_program(p)) return;
        for (const file_name &f : plan_.symbols)
            if (!load_symbols(f)) return;
        std::stable_sort(r_.labels.begin(), r_.labels.end(),
                         [](const label &a, const label &b) { return a.address < b.address; });
        if (!settle(plan_.words, plan_.registers, &plan_.start, true, plan_.cards)) return;
        for (uint32_t address : plan_.breaks)
            if (!break_at(address)) return;

        k3_console_clear();
        k3_profile_clear();
        run_once(plan_.expectations);
        // The runs after the first go on from where the one before stopped,
        // as the console's Run with CNT: only after the end it expected.
        for (const continued_run &next : plan_.more) {
            if (!r_.end_as_expected) break;
            const section &s = next.own;
            if (!settle(s.words, s.registers, nullptr, s.has_cards, s.cards)) break;
            const expectation &stop = s.expectations[0];
            if (stop.end == run_end::break_point && !break_at(stop.number)) break;
            run_once(s.expectations);
        }
        note_unplaced();
        if (options_.profile) r_.profile.assign(k3_profile(), k3_profile() + 4097);
        r_.passed = r_.differences.empty() && r_.problems.empty();
    }

private:
    // Words, registers and the card deck, before a run; the start address
    // before the first only (a continued run goes on from CMAR).
    bool settle(const std::vector<word_setting> &words, const std::vector<register_setting> &registers,
                const uint32_t *start, bool new_deck, const std::vector<card_piece> &cards)
    {
        for (const word_setting &w : words)
            for (size_t i = 0; i < w.values.size(); i++) {
                uint32_t at = w.address + static_cast<uint32_t>(i);
                if (w.cm) {
                    k3_cm_set(at, static_cast<uint32_t>(w.values[i] >> 32), static_cast<uint32_t>(w.values[i]));
                    if (at < CM_WORDS) placed_[at] = true;
                } else {
                    k3_mm_set(at, static_cast<uint32_t>(w.values[i]));
                }
            }
        if (start) k3_set(k3_register("CMAR"), *start);
        for (const register_setting &s : registers) k3_set(s.reg, s.value);
        if (!new_deck) return true;
        std::string deck;
        for (const card_piece &p : cards) {
            if (!p.from_file) {
                deck += p.text;
                continue;
            }
            std::string text;
            if (!read_named(p.file, text)) return false;
            deck += text;
        }
        k3_cards_set(deck.data(), static_cast<uint32_t>(deck.size()));
        return true;
    }

    // The CM words a load file's text places: each data line, read as the
    // machine's loader reads it.
    void mark_placed(const std::string &text)
    {
        for (size_t start = text.find('\n'); start != std::string::npos && start + 1 < text.size();) {
            const size_t begin = start + 1, end = std::min(text.find('\n', begin), text.size());
            // With its newline, and cut where the loader cuts a line.
            const std::string line = text.substr(begin, std::min<size_t>(end - begin + 1, LOAD_LINE_SIZE - 1));
            uint32_t address;
            uint64_t value;
            if (load_file_line(LOAD_CM, line.c_str(), address, value) && address < CM_WORDS) placed_[address] = true;
            start = end < text.size() ? end : std::string::npos;
        }
    }

    // The words the runs executed that nothing placed: a program that ran
    // off its end, or jumped where it holds nothing.
    void note_unplaced()
    {
        const uint64_t *counts = k3_profile();
        uint32_t words = 0, first = 0;
        uint64_t executions = 0;
        for (uint32_t a = 0; a < CM_WORDS; a++)
            if (counts[a] && !placed_[a]) {
                if (words++ == 0) first = a;
                executions += counts[a];
            }
        if (words == 0) return;
        r_.notes.push_back("the run executed " + std::to_string(words) + (words == 1 ? " word" : " words") +
                           " the program never placed (" + std::to_string(executions) + " times), the first at " +
                           hex(first, 3) + ", after " + where_of_placed(first));
    }

    // The placed word before `address`, for a note: where the program ran off.
    std::string where_of_placed(uint32_t address) const
    {
        for (uint32_t a = address; a-- > 0;)
            if (placed_[a]) {
                const std::string at = where_in(r_, a);
                return hex(a, 3) + (at.empty() ? "" : " (" + at + ")");
            }
        return "nothing";
    }

    // ", CMAR 004 (loop+2, mul.masm:14)": where the machine stands.
    std::string cmar_text() const { return ", CMAR " + hex(cmar_, 3) + where_text(); }

    std::string where_text() const
    {
        std::string at = cmar_ < CM_WORDS && !placed_[cmar_] ? "a word the program never placed" : where_in(r_, cmar_);
        return at.empty() ? "" : " (" + at + ")";
    }

    bool break_at(uint32_t address)
    {
        if (k3_break_set(address)) return true;
        r_.problems.push_back(file_.path + ": more break points than the machine holds (32)");
        r_.check_fault = true;
        return false;
    }

    // One run from the present CMAR, and its expectations compared.
    void run_once(const std::vector<expectation> &expectations)
    {
        stop_ = k3_run(static_cast<uint32_t>(plan_.limit), 1);   // the profile also finds words never placed
        r_.ran = true;
        run_steps_ = k3_steps();
        r_.steps += run_steps_;
        error_ = k3_last_error();
        cmar_ = k3_get(k3_register("CMAR"));
        const std::string ended = stop_ == K3_STOP_HALT    ? "halt"
                                  : stop_ == K3_STOP_ERROR ? "error " + std::to_string(error_)
                                  : stop_ == K3_STOP_BREAK ? "break " + hex(cmar_, 3)
                                                           : "limit";
        r_.ended += (r_.ended.empty() ? "" : ", then ") + ended;
        r_.runs++;
        for (const expectation &e : expectations) compare(e);
    }

    // ---- Files ----

    std::string path_of(const file_name &f, bool &check_side) const
    {
        check_side = !options_.batch || f.shared;
        std::filesystem::path name(f.name);
        if (name.is_absolute()) return f.name;
        const std::string &base = check_side ? file_.dir : options_.student_dir;
        return base == "." ? f.name : (std::filesystem::path(base) / name).string();
    }

    // A problem with a file: the case does not run. A file the check
    // supplies itself makes the check bad.
    void problem(bool check_side, const std::string &message)
    {
        r_.problems.push_back(message);
        if (check_side) r_.check_fault = true;
        else if (r_.reason.empty())
            r_.reason = "cannot be loaded (" + message + ")";
    }

    bool read_named(const file_name &f, std::string &text)
    {
        bool check_side;
        std::string path = path_of(f, check_side), error;
        if (!check_side) {   // a student's file: inside the student's directory, and a regular file
            const std::string refused = std::filesystem::path(f.name).is_absolute()
                                            ? "outside the directory"
                                            : confine(options_.student_dir, path);
            if (!refused.empty()) {
                if (r_.reason.empty()) r_.reason = path + ": " + refused;
                problem(false, file_.path + ":" + std::to_string(f.line) + ": " + path + ": " + refused);
                return false;
            }
        }
        if (read_text_file(path, MAX_INPUT_BYTES, text, error)) return true;
        problem(check_side, file_.path + ":" + std::to_string(f.line) + ": " + error);
        return false;
    }

    // What assembling a source gave. Every case of a check names the same
    // sources, so each is assembled once and the result kept (a batch keeps
    // one student's sources in the student's own process).
    struct assembly {
        int errors = 0;
        std::vector<diagnostic> records;
        std::string load_file, labels;
        std::vector<int> lines;   // of each CM word, for a microprogram
    };

    const assembly &assembled(const std::string &path, const std::string &text, bool data, bool check_side) const
    {
        static std::map<std::string, assembly> kept;   // by where, kind and text
        const std::string root = check_side ? std::string() : options_.student_dir;
        std::string key = root + '\0' + path + '\0' + (data ? 'd' : 'm') + text;
        auto found = kept.find(key);
        if (found != kept.end()) return found->second;
        // A student's includes stay in the student's directory too.
        k3_set_assembly_read_policy(check_side ? assembler::read_policy()
                                               : [root](const std::string &at) { return confine(root, at); });
        assembly a;
        a.errors = k3_assemble(path.c_str(), text.c_str(), data);
        for (int i = 0; i < k3_diagnostic_count(); i++) a.records.push_back(assembler_record(i));
        if (a.errors == 0) {
            a.load_file = k3_assembly_load_file();
            a.labels = k3_assembly_labels();
            if (!data)
                for (uint32_t at = 0; at < CM_WORDS; at++) a.lines.push_back(k3_assembly_line(at));
        }
        k3_set_assembly_read_policy(nullptr);
        return kept.emplace(std::move(key), std::move(a)).first->second;
    }

    bool load_program(const program_file &p)
    {
        bool check_side;
        std::string path = path_of(p.file, check_side), text;
        if (!read_named(p.file, text)) return false;
        const bool micro = has_extension(path, ".masm"), data = has_extension(path, ".mdat");
        if (micro || data) {
            const assembly &a = assembled(path, text, data, check_side);
            if (a.errors > 0 && !check_side && r_.reason.empty()) r_.reason = "did not assemble";
            const size_t before = r_.problems.size();
            for (const diagnostic &record : a.records) {
                if (record.level == severity::error)
                    problem(check_side, diagnostic_text(record));
                else if (record.level == severity::warning)
                    r_.warnings.push_back(diagnostic_text(record));
            }
            if (a.errors > 0) {
                if (r_.problems.size() == before) problem(check_side, path + ": does not assemble");
                if (r_.reason == "did not assemble") r_.reason += " (" + r_.problems[before] + ")";
                return false;
            }
            text = a.load_file;
            if (micro) {
                std::string error;
                read_labels(a.labels, path, r_.labels, error);
                r_.source = path;
                r_.source_lines = a.lines;
            }
        }
        if (text.empty()) {
            problem(check_side, path + ":1: the file is empty: a load file begins with a CM or MM line");
            return false;
        }
        k3_console_clear();
        const int memory = k3_load_text(text.c_str());
        if (memory == 0) {
            problem(check_side, path + ":1: not a load file: the first line must begin with CM or MM");
            return false;
        }
        if (memory != (p.cm ? 1 : 2)) {
            problem(check_side, path + ":1: a " + (memory == 1 ? "CM" : "MM") + " load file, named with " +
                                    (p.cm ? "cm" : "mm") + " in " + file_.path + ":" + std::to_string(p.file.line));
            return false;
        }
        if (k3_last_error() == 0) {
            if (p.cm) mark_placed(text);
            return true;
        }
        problem(check_side, path + ":" + std::to_string(k3_last_error_line()) + ": " + error_report(k3_last_error()));
        return false;
    }

    // Record `i` of the last assembly, as the interface hands it out.
    static diagnostic assembler_record(int i)
    {
        const int level = k3_diagnostic_severity(i);
        diagnostic record{level == K3_SEVERITY_ERROR     ? severity::error
                          : level == K3_SEVERITY_WARNING ? severity::warning
                                                         : severity::note,
                          {k3_diagnostic_file(i), k3_diagnostic_line(i), k3_diagnostic_column(i)},
                          k3_diagnostic_message(i)};
        return record;
    }

    bool load_symbols(const file_name &f)
    {
        bool check_side;
        std::string path = path_of(f, check_side), text, error;
        if (!read_named(f, text)) return false;
        if (read_labels(text, path, r_.labels, error)) return true;
        problem(check_side, error);
        return false;
    }

    // An error number and the machine's message for it: "ERROR n: MESSAGE".
    static std::string error_report(int number)
    {
        return "ERROR " + std::to_string(number) + ": " + k3_error_text(number);
    }

    // ---- Comparing ----

    void differ(const expectation &e, const std::string &what)
    {
        std::string where = file_.path + (e.line > 0 ? ":" + std::to_string(e.line) : "") + ": ";
        r_.differences.push_back(where + what);
    }

    std::string got_end() const
    {
        const std::string cmar = cmar_text();
        switch (stop_) {
        case K3_STOP_HALT: return "halt after " + steps_text(run_steps_) + cmar;
        case K3_STOP_ERROR:
            return "error " + std::to_string(error_) + ": " + k3_error_text(error_) + " after " +
                   steps_text(run_steps_) + cmar;
        case K3_STOP_BREAK: return "break at " + hex(cmar_, 3) + " after " + steps_text(run_steps_) + where_text();
        default: return "the step limit (" + steps_text(run_steps_) + ")" + cmar;
        }
    }

    void compare(const expectation &e)
    {
        switch (e.kind) {
        case expect_kind::run: {
            bool ok = false;
            std::string want;
            switch (e.end) {
            case run_end::halt: ok = stop_ == K3_STOP_HALT; want = "halt"; break;
            case run_end::limit: ok = stop_ == K3_STOP_LIMIT; want = "the step limit"; break;
            case run_end::error:
                ok = stop_ == K3_STOP_ERROR && error_ == static_cast<int>(e.number);
                want = "error " + std::to_string(e.number);
                break;
            case run_end::break_point:
                ok = stop_ == K3_STOP_BREAK && cmar_ == e.number;
                want = "break at " + hex(e.number, 3);
                break;
            }
            r_.end_as_expected = ok;
            if (!ok) differ(e, "run: expected " + want + ", got " + got_end());
            break;
        }
        case expect_kind::reg: {
            uint32_t got = k3_get(e.reg);
            if (got != e.values[0])
                differ(e, std::string(k3_register_name(e.reg)) + ": expected " + hex(e.values[0], e.digits) +
                              ", got " + hex(got, e.digits));
            break;
        }
        case expect_kind::mm: {
            size_t wrong = 0;
            for (uint32_t i = 0; i < e.count; i++) {
                uint32_t want = e.values.size() == 1 ? e.values[0] : e.values[i];
                uint32_t got = k3_mm_get(e.address + i);
                if (got == want) continue;
                if (++wrong <= MAX_SHOWN)
                    differ(e, "mm " + hex(e.address + i, 4) + ": expected " + hex(want, e.digits) + ", got " +
                                  hex(got, e.digits));
            }
            if (wrong > MAX_SHOWN) differ(e, "mm: " + std::to_string(wrong - MAX_SHOWN) + " more words differ");
            break;
        }
        case expect_kind::printer_text: compare_printer(e, e.text); break;
        case expect_kind::printer_file: {
            std::string text;
            if (read_named(e.file, text)) compare_printer(e, text);
            break;
        }
        case expect_kind::printer_pattern: compare_pattern(e); break;
        case expect_kind::steps: {
            const uint64_t s = run_steps_, n = e.steps;
            bool ok = e.op == "=" ? s == n : e.op == "<=" ? s <= n : e.op == "<" ? s < n : e.op == ">=" ? s >= n : s > n;
            const char *said = e.op == "=" ? "" : e.op == "<=" ? "at most " : e.op == "<" ? "fewer than "
                             : e.op == ">=" ? "at least " : "more than ";
            if (!ok) differ(e, "steps: expected " + std::string(said) + std::to_string(n) + ", got " + std::to_string(s));
            break;
        }
        }
    }

    // Some line of the printer text, without its line end, matches. The
    // library's matcher backtracks by recursion, so the lines it is given
    // are kept short.
    void compare_pattern(const expectation &e)
    {
        std::string got(k3_printer_text(), k3_printer_length());
        if (got.size() > MAX_PATTERN_TEXT) {
            differ(e, "printer: " + std::to_string(got.size()) + " bytes printed, too many to match a pattern (at most " +
                          std::to_string(MAX_PATTERN_TEXT) + ")");
            return;
        }
        const std::regex pattern(e.text, PATTERN_SYNTAX);
        int number = 0;
        for (size_t start = 0; start < got.size();) {
            number++;
            size_t end = got.find('\n', start);
            if (end == std::string::npos) end = got.size();
            if (end - start > MAX_PATTERN_LINE) {
                differ(e, "printer line " + std::to_string(number) + ": " + std::to_string(end - start) +
                              " characters, too many to match a pattern (at most " + std::to_string(MAX_PATTERN_LINE) + ")");
                return;
            }
            if (std::regex_search(got.begin() + static_cast<long>(start), got.begin() + static_cast<long>(end), pattern))
                return;
            start = end + 1;
        }
        differ(e, "printer: expected a line matching " + shown(e.text) + ", got " + shown(got));
    }

    // Line by line, each line with its line end, so that a missing last
    // line end shows too.
    void compare_printer(const expectation &e, const std::string &want)
    {
        std::string got(k3_printer_text(), k3_printer_length());
        if (got == want) return;
        auto lines = [](const std::string &text) {
            std::vector<std::string> out;
            for (size_t start = 0; start < text.size();) {
                size_t end = text.find('\n', start);
                end = end == std::string::npos ? text.size() : end + 1;
                out.push_back(text.substr(start, end - start));
                start = end;
            }
            return out;
        };
        std::vector<std::string> a = lines(want), b = lines(got);
        size_t wrong = 0;
        for (size_t i = 0; i < std::max(a.size(), b.size()); i++) {
            if (i < a.size() && i < b.size() && a[i] == b[i]) continue;
            if (++wrong > MAX_SHOWN) continue;
            std::string line = "printer line " + std::to_string(i + 1) + ": expected ";
            line += i < a.size() ? shown(a[i]) : "no line";
            line += ", got ";
            line += i < b.size() ? shown(b[i]) : "no line";
            differ(e, line);
        }
        if (wrong > MAX_SHOWN) differ(e, "printer: " + std::to_string(wrong - MAX_SHOWN) + " more lines differ");
    }

    const check_file &file_;
    const case_plan &plan_;
    const run_options &options_;
    case_result &r_;
    std::vector<bool> placed_ = std::vector<bool>(CM_WORDS, false);   // CM words a file or a setting placed
    int stop_ = 0;
    uint32_t run_steps_ = 0;   // of the last run; r_.steps sums the case's runs
    int error_ = 0;
    uint32_t cmar_ = 0;
};

}  // namespace

case_result run_case(const check_file &file, const case_plan &plan, const run_options &options)
{
    case_result result;
    case_runner(file, plan, options, result).run();
    return result;
}

std::string where_in(const case_result &r, uint32_t address)
{
    std::string at;
    const label *near = nullptr;
    for (const label &l : r.labels)
        if (l.address <= address && (!near || l.address >= near->address)) near = &l;
    if (near) {
        char offset[16];
        snprintf(offset, sizeof offset, "+%X", address - near->address);
        at = near->name + (address == near->address ? "" : offset);
    }
    const std::string line = source_line(r, address);
    if (!line.empty()) at += (at.empty() ? "" : ", ") + line;
    return at;
}

std::string source_line(const case_result &r, uint32_t address)
{
    if (address >= r.source_lines.size() || r.source_lines[address] <= 0) return "";
    return std::filesystem::path(r.source).filename().string() + ":" + std::to_string(r.source_lines[address]);
}

std::vector<uint64_t> label_counts(const std::vector<label> &labels, const std::vector<uint64_t> &profile)
{
    std::vector<uint64_t> counts(labels.size(), 0);
    if (profile.empty()) return counts;
    for (size_t i = 0; i < labels.size(); i++) {
        uint32_t end = CM_WORDS;
        for (size_t j = i + 1; j < labels.size(); j++)
            if (labels[j].address > labels[i].address) {
                end = labels[j].address;
                break;
            }
        for (uint32_t a = labels[i].address; a < end && a < CM_WORDS; a++) counts[i] += profile[a];
    }
    return counts;
}

bool read_labels(const std::string &text, const std::string &path, std::vector<label> &out, std::string &error)
{
    diagnostics diag;   // its messages are not shown: the check says it its own way
    std::vector<symbol_entry> labels;
    int bad = read_symbol_text(text, path, labels, repeated_labels::allowed, diag);
    for (const symbol_entry &l : labels) {
        if (l.address > CM_LIMIT) {   // the labels come before the first malformed line
            bad = l.line;
            break;
        }
        out.push_back({l.name, l.address});
    }
    if (bad == 0) return true;
    error = path + ":" + std::to_string(bad) + ": expected a label and its CM address (NAME 0x1A2)";
    return false;
}

}  // namespace check
