// Reading check files (see check_file.hpp and docs/checking.md).
#include "check/check_file.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "api/kalvo3_api.h"
#include "core/micro_word.hpp"

namespace check {

namespace {

// ---- Tokens ----

struct token {
    enum kind_t { word, string, op } kind = word;
    std::string text;
    std::string raw;      // a string as written between its quotes (for patterns)
    std::string escape_error;   // a string's escape that is not one
};

bool is_op_char(char c) { return c == '=' || c == '<' || c == '>' || c == '~'; }

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits one line into words, quoted strings (escapes resolved) and the
// operators = <= >= < > ~; a ';' or '#' outside a string starts a comment.
// A string with an unknown escape is kept, with the error for its users.
bool tokenize(const std::string &line, std::vector<token> &out, std::string &error)
{
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            i++;
        } else if (c == ';' || c == '#') {
            break;
        } else if (c == '"') {
            token t{token::string, "", "", ""};
            i++;
            for (;;) {
                if (i >= line.size()) {
                    error = "the string has no closing '\"'";
                    return false;
                }
                char d = line[i++];
                if (d == '"') break;
                t.raw += d;
                if (d != '\\') {
                    t.text += d;
                    continue;
                }
                if (i >= line.size()) {
                    error = "a '\\' ends the line inside a string";
                    return false;
                }
                char e = line[i++];
                t.raw += e;
                switch (e) {
                case 'n': t.text += '\n'; break;
                case 'r': t.text += '\r'; break;
                case 't': t.text += '\t'; break;
                case '0': t.text += '\0'; break;
                case '\\': t.text += '\\'; break;
                case '"': t.text += '"'; break;
                case 'x':
                    if (i + 1 < line.size() && hex_value(line[i]) >= 0 && hex_value(line[i + 1]) >= 0) {
                        t.text += static_cast<char>(hex_value(line[i]) * 16 + hex_value(line[i + 1]));
                        t.raw += line.substr(i, 2);
                        i += 2;
                        break;
                    }
                    if (t.escape_error.empty()) t.escape_error = "\\x needs two hexadecimal digits";
                    break;
                default:
                    if (t.escape_error.empty())
                        t.escape_error = std::string("unknown escape '\\") + e + "' (use \\n \\r \\t \\0 \\\\ \\\" \\xHH)";
                }
            }
            out.push_back(t);
        } else if (is_op_char(c)) {
            token t{token::op, std::string(1, c), "", ""};
            i++;
            if ((c == '<' || c == '>') && i < line.size() && line[i] == '=') t.text += line[i++];
            out.push_back(t);
        } else {
            size_t start = i;
            while (i < line.size() && !strchr(" \t\r\";#", line[i]) && !is_op_char(line[i])) i++;
            out.push_back({token::word, line.substr(start, i - start), "", ""});
        }
    }
    return true;
}

// ---- Numbers ----

// Hexadecimal, as the console shows numbers: optional 0x, at most 16 digits.
bool parse_hex(const std::string &text, uint64_t &value, int &digits)
{
    size_t i = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    if (i == text.size() || text.size() - i > 16) return false;
    value = 0;
    digits = static_cast<int>(text.size() - i);
    for (; i < text.size(); i++) {
        int d = hex_value(text[i]);
        if (d < 0) return false;
        value = value * 16 + static_cast<uint64_t>(d);
    }
    return true;
}

bool parse_decimal(const std::string &text, uint64_t &value)
{
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

std::string lower(std::string text)
{
    for (char &c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The largest value a register keeps as it is given: what k3_set stores
// decides, so the check and the machine never disagree about a width (a
// flag keeps 0 and 1, the cycle states 0..2, MAR and CMAR all 32 bits).
uint32_t largest_kept(int reg)
{
    const uint32_t was = k3_get(reg);
    k3_set(reg, UINT32_MAX);
    uint32_t largest = k3_get(reg);
    if (largest != UINT32_MAX)   // a mask, or a count with a bound of its own
        for (uint32_t v = largest + 1; v < 256; v++) {
            k3_set(reg, v);
            if (k3_get(reg) == v) largest = v;
        }
    k3_set(reg, was);
    return largest;
}

// An error number the machine reports: one its message table has a text for.
bool machine_error(uint64_t number) { return number <= INT32_MAX && *k3_error_text(static_cast<int>(number)) != '\0'; }

// ---- Patterns ----

// What the library's regular expressions can take: it compiles a pattern by
// recursive descent, a level or more per group and per term, and matches by
// recursion through the compiled states, where a counted repetition ({n})
// is n copies. A pattern is bounded in its nesting and in its size with the
// repetitions written out; a printer line is short, so a larger pattern
// could not match one anyway.
constexpr int MAX_PATTERN_DEPTH = 32;
constexpr size_t MAX_PATTERN_SIZE = 1000;

// Why `pattern` is beyond those bounds, or "" when it is not. Only the
// structure is looked at; whether the pattern is a regular expression at all
// the library decides.
std::string pattern_bound_problem(const std::string &pattern)
{
    // The size of each open group so far, and of the last atom (for a
    // repetition after it); sizes are capped just past the bound.
    constexpr size_t over = MAX_PATTERN_SIZE + 1;
    std::vector<size_t> groups{0};
    size_t last = 0;
    auto add = [&](size_t size) {
        last = std::min(size, over);
        groups.back() = std::min(groups.back() + last, over);
    };
    for (size_t i = 0; i < pattern.size(); i++) {
        const char c = pattern[i];
        if (c == '\\') {
            i++;
            add(1);
        } else if (c == '[') {   // a class is one atom; '(' and '{' inside it are plain
            for (i++; i < pattern.size() && pattern[i] != ']'; i++)
                if (pattern[i] == '\\') i++;
            add(1);
        } else if (c == '(') {
            if (static_cast<int>(groups.size()) > MAX_PATTERN_DEPTH)
                return "nested more than " + std::to_string(MAX_PATTERN_DEPTH) + " groups deep";
            groups.push_back(0);
            const bool marked = i + 2 < pattern.size() && pattern[i + 1] == '?';   // (?: (?= (?!
            if (marked && std::string_view(":=!").find(pattern[i + 2]) != std::string_view::npos) i += 2;
        } else if (c == ')' && groups.size() > 1) {
            const size_t size = std::max<size_t>(groups.back(), 1);
            groups.pop_back();
            add(size);
        } else if (c == '{') {   // {n}, {n,} or {n,m}: n, n + 1 or m copies in all
            size_t j = i + 1, n = 0, m = 0;
            bool digits = false, comma = false, upper = false;
            for (; j < pattern.size() && (isdigit(static_cast<unsigned char>(pattern[j])) || pattern[j] == ','); j++) {
                if (pattern[j] == ',') {
                    if (comma) break;
                    comma = true;
                } else {
                    size_t &count = comma ? m : n;
                    count = std::min(count * 10 + static_cast<size_t>(pattern[j] - '0'), over);
                    (comma ? upper : digits) = true;
                }
            }
            if (!digits || j >= pattern.size() || pattern[j] != '}') {
                add(1);   // no repetition: the library decides what it is
                continue;
            }
            const size_t copies = std::max<size_t>(upper ? std::max(n, m) : comma ? n + 1 : n, 1);
            const size_t more = last > 0 && copies - 1 > over / last ? over : last * (copies - 1);
            groups.back() = std::min(groups.back() + more, over);
            last = std::min(last * copies, over);
            i = j;
        } else if (c != '*' && c != '+' && c != '?' && c != '|' && c != '^' && c != '$') {
            add(1);
        }
        size_t total = 0;
        for (size_t size : groups) total += size;
        if (total > MAX_PATTERN_SIZE)
            return "larger than " + std::to_string(MAX_PATTERN_SIZE) +
                   " characters with its counted repetitions ({n}) written out";
    }
    if (pattern.size() > MAX_PATTERN_SIZE)
        return std::to_string(pattern.size()) + " characters long (at most " + std::to_string(MAX_PATTERN_SIZE) + ")";
    return "";
}

// ---- The reader ----

class reader {
public:
    reader(const std::string &path, check_file &out, std::vector<std::string> &errors)
        : path_(path), out_(out), errors_(errors) {}

    void line(int number, const std::string &text)
    {
        line_ = number;
        toks_.clear();
        at_ = 0;
        std::string error;
        if (!tokenize(text, toks_, error)) return fail(error);
        if (toks_.empty()) return;
        std::string directive = lower(toks_[0].text);
        at_ = 1;
        if (toks_[0].kind != token::word) return fail("a line begins with a directive: case, cm, mm, set, start, limit, cards, break, symbols or expect");
        if (directive == "case") return open_case();
        if (directive == "points" || directive == "hidden" || directive == "visibility" || directive == "feedback")
            return scoring(directive);
        if (directive == "continue") return continue_run();
        const bool continued = !out_.cases.empty() && !out_.cases.back().more.empty();
        section &s = out_.cases.empty() ? out_.common
                     : continued        ? out_.cases.back().more.back().own
                                        : out_.cases.back().own;
        if (continued &&
            (directive == "symbols" || directive == "start" || directive == "limit" || directive == "break"))
            return fail("'" + directive +
                        "' is given before the first run: after continue come words (cm/mm ADDR = ...), set, cards "
                        "and expect");
        if (directive == "cm" || directive == "mm") return memory(s, directive == "cm", !continued);
        if (directive == "symbols") {
            file_name f;
            if (!file(f) || !at_end()) return;
            s.symbols.push_back(f);
            return;
        }
        if (directive == "set") return set(s);
        if (directive == "start") {
            uint32_t a;
            if (!address(a, CM_LIMIT, "a CM address (000..FFF)") || !at_end()) return;
            s.start = a;
            return;
        }
        if (directive == "limit") {
            uint64_t n;
            if (!decimal(n, "a step limit (decimal)") || !at_end()) return;
            if (n == 0 || n > UINT32_MAX) return fail("the step limit must be 1 to 4294967295");
            s.limit = n;
            return;
        }
        if (directive == "cards") return cards(s);
        if (directive == "break") {
            uint32_t a;
            if (!address(a, CM_LIMIT, "a CM address (000..FFF)") || !at_end()) return;
            s.breaks.push_back(a);
            return;
        }
        if (directive == "expect") return expect(s);
        fail("unknown directive '" + toks_[0].text +
             "' (case, cm, mm, set, start, limit, cards, break, symbols, expect, continue, points, hidden, "
             "visibility, feedback)");
    }

private:
    void fail(const std::string &message)
    {
        errors_.push_back(path_ + ":" + std::to_string(line_) + ": " + message);
    }

    bool more() const { return at_ < toks_.size(); }
    const token &peek() const { return toks_[at_]; }

    bool at_end()
    {
        if (!more()) return true;
        fail("unexpected '" + peek().text + "' at the end of the line");
        return false;
    }

    bool next_word(std::string &word, const char *what)
    {
        if (!more() || peek().kind != token::word) {
            fail(std::string(what) + " is missing" + (more() ? " before '" + peek().text + "'" : ""));
            return false;
        }
        word = toks_[at_++].text;
        return true;
    }

    bool skip_op(const char *op)
    {
        if (more() && peek().kind == token::op && peek().text == op) {
            at_++;
            return true;
        }
        fail(std::string("'") + op + "' is expected" + (more() ? " before '" + peek().text + "'" : " here"));
        return false;
    }

    // The text of a string token, its escapes resolved.
    bool cooked(const token &t, std::string &text)
    {
        if (!t.escape_error.empty()) {
            fail(t.escape_error);
            return false;
        }
        text = t.text;
        return true;
    }

    bool hex(uint64_t &value, int &digits, uint64_t max, const char *what)
    {
        std::string word;
        if (!next_word(word, what)) return false;
        if (!parse_hex(word, value, digits) || value > max) {
            char limit[32];
            snprintf(limit, sizeof limit, "%llX", static_cast<unsigned long long>(max));
            fail("'" + word + "' is not " + what + " (hexadecimal, at most " + limit + ")");
            return false;
        }
        return true;
    }

    bool address(uint32_t &a, uint32_t max, const char *what)
    {
        uint64_t v;
        int digits;
        if (!hex(v, digits, max, what)) return false;
        a = static_cast<uint32_t>(v);
        return true;
    }

    bool decimal(uint64_t &n, const char *what)
    {
        std::string word;
        if (!next_word(word, what)) return false;
        if (!parse_decimal(word, n)) {
            fail("'" + word + "' is not " + what);
            return false;
        }
        return true;
    }

    bool file(file_name &f)
    {
        if (!more() || peek().kind == token::op) {
            fail("a file name is missing");
            return false;
        }
        f.line = line_;
        if (!cooked(toks_[at_++], f.name)) return false;
        f.shared = false;
        if (!f.name.empty() && f.name[0] == '@') {
            f.shared = true;
            f.name.erase(0, 1);
        }
        if (f.name.empty()) {
            fail("a file name is missing");
            return false;
        }
        return true;
    }

    void open_case()
    {
        std::string name;
        for (; more(); at_++) name += (name.empty() ? "" : " ") + peek().text;
        if (name.empty()) return fail("the case has no name");
        for (const check_case &c : out_.cases)
            if (c.name == name) return fail("a case named '" + name + "' is already on line " + std::to_string(c.line));
        out_.cases.push_back({name, line_, {}, {}, {}, {}, {}});
    }

    // "continue": the case goes on from where its last run stopped. That run
    // says how it is to end, so a stop that was not meant is never continued.
    void continue_run()
    {
        if (!at_end()) return;
        if (out_.cases.empty()) return fail("continue belongs to a case: it goes on from where the case's run stopped");
        check_case &c = out_.cases.back();
        const section &before = c.more.empty() ? c.own : c.more.back().own;
        bool ended = false;
        for (const expectation &e : before.expectations) ended = ended || e.kind == expect_kind::run;
        if (!ended)
            return fail("continue follows an expectation of how the run before ended (expect error 12, expect "
                        "break ADDR, expect limit, expect halt)");
        c.more.push_back({line_, {}});
    }

    // "points N", "hidden", "visibility WORD", "feedback "TEXT"": before the
    // first case they are every case's, in a case its own.
    void scoring(const std::string &directive)
    {
        check_case *c = out_.cases.empty() ? nullptr : &out_.cases.back();
        out_.scored = out_.scored || directive != "feedback";
        if (directive == "points") {
            uint64_t n;
            if (!decimal(n, "a number of points (decimal)") || !at_end()) return;
            if (n > MAX_POINTS) return fail("points are 0 to " + std::to_string(MAX_POINTS));
            if (c)
                c->points = static_cast<uint32_t>(n);
            else
                out_.points = static_cast<uint32_t>(n);
            return;
        }
        if (directive == "hidden" || directive == "visibility") {
            visibility v = visibility::hidden;
            if (directive == "visibility") {
                std::string word;
                if (!next_word(word, "visible, hidden or after_due_date")) return;
                word = lower(word);
                if (word == "visible")
                    v = visibility::visible;
                else if (word == "hidden")
                    v = visibility::hidden;
                else if (word == "after_due_date")
                    v = visibility::after_due_date;
                else
                    return fail("'" + word + "' is no visibility (visible, hidden or after_due_date)");
            }
            if (!at_end()) return;
            if (c)
                c->shown_as = v;
            else
                out_.shown_as = v;
            return;
        }
        if (!c) return fail("feedback belongs to a case: the text shown when that case fails");
        if (!more() || peek().kind != token::string) return fail("the feedback is given in quotes: feedback \"TEXT\"");
        std::string text;
        for (std::string piece; more() && peek().kind == token::string; at_++) {
            if (!cooked(peek(), piece)) return;
            text += piece;
        }
        if (!at_end()) return;
        c->feedback += text;
    }

    // "cm FILE", "cm ADDR = WORD ...", and the same for mm; a file only
    // where `files` allows it (before the first run).
    void memory(section &s, bool cm, bool files)
    {
        bool words = toks_.size() > 2 && toks_[2].kind == token::op;
        if (!words) {
            program_file p{{}, cm};
            if (!file(p.file) || !at_end()) return;
            if (cm && has_extension(p.file.name, ".mdat"))
                return fail(p.file.name + " is a main-memory data source: name it with mm");
            if (!cm && has_extension(p.file.name, ".masm"))
                return fail(p.file.name + " is a microprogram source: name it with cm");
            if (!files)
                return fail(
                    std::string("a file is loaded before the first run: after continue only words are stored (") +
                    (cm ? "cm" : "mm") + " ADDR = WORD ...)");
            s.programs.push_back(p);
            return;
        }
        word_setting w{line_, cm, 0, {}};
        if (!address(w.address, cm ? CM_LIMIT : MM_LIMIT,
                     cm ? "a CM address (000..FFF)" : "an MM address (0000..FFFF)"))
            return;
        if (!skip_op("=")) return;
        while (more()) {
            uint64_t v;
            int digits;
            if (!hex(v, digits, cm ? UINT64_MAX : 0xFFFF, cm ? "a CM word" : "an MM word")) return;
            w.values.push_back(v);
        }
        if (w.values.empty()) return fail("the words are missing after '='");
        if (w.address + w.values.size() - 1 > (cm ? CM_LIMIT : MM_LIMIT))
            return fail("the words run past the end of the memory");
        s.words.push_back(w);
    }

    bool register_name(int &reg)
    {
        std::string name;
        if (!next_word(name, "a register name")) return false;
        reg = k3_register(name.c_str());
        if (reg < 0) {
            fail("'" + name + "' is no register (R0..R7, PC, IR, MAR, CMAR, C, FSR, the buses, the flags...)");
            return false;
        }
        return true;
    }

    // A value the register cannot hold would be cut by the machine (set) or
    // could never be there (expect).
    bool fits(int reg, uint64_t value, const std::string &written)
    {
        const uint32_t largest = largest_kept(reg);
        if (value <= largest) return true;
        char limit[32];
        snprintf(limit, sizeof limit, largest == 1 ? "0 or 1" : "at most %X", largest);
        fail("'" + written + "' does not fit " + k3_register_name(reg) + " (" + limit + ")");
        return false;
    }

    void set(section &s)
    {
        register_setting r{line_, -1, 0};
        if (!register_name(r.reg)) return;
        if (!k3_register_writable(r.reg)) return fail(std::string(k3_register_name(r.reg)) + " cannot be set");
        if (!skip_op("=")) return;
        uint64_t v;
        int digits;
        if (!hex(v, digits, UINT32_MAX, "a value") || !at_end() || !fits(r.reg, v, toks_[at_ - 1].text)) return;
        r.value = static_cast<uint32_t>(v);
        s.registers.push_back(r);
    }

    void cards(section &s)
    {
        if (!more()) return fail("the card text is missing: cards \"TEXT\" or cards file NAME");
        if (peek().kind == token::word && lower(peek().text) == "file") {
            at_++;
            card_piece p;
            p.from_file = true;
            if (!file(p.file) || !at_end()) return;
            s.has_cards = true;
            s.cards.push_back(p);
            return;
        }
        std::vector<card_piece> pieces;
        for (; more(); at_++) {
            if (peek().kind != token::string)
                return fail("the card text is given in quotes: cards \"TEXT\" (or cards file NAME)");
            card_piece p;
            if (!cooked(peek(), p.text)) return;
            pieces.push_back(p);
        }
        s.has_cards = true;
        s.cards.insert(s.cards.end(), pieces.begin(), pieces.end());
    }

    void expect(section &s)
    {
        expectation e;
        e.line = line_;
        std::string what;
        if (!next_word(what, "what to expect (halt, error, limit, break, a register, mm, printer, steps)")) return;
        std::string key = lower(what);
        if (key == "halt" || key == "limit") {
            e.end = key == "halt" ? run_end::halt : run_end::limit;
        } else if (key == "error") {
            e.end = run_end::error;
            uint64_t n;
            if (!decimal(n, "an error number (decimal)")) return;
            if (n == 0 || n > 99) return fail("error numbers are 1 to 99");
            if (!machine_error(n)) {
                std::string known;
                for (uint64_t k = 1; k <= 99; k++)
                    if (machine_error(k)) known += (known.empty() ? "" : ", ") + std::to_string(k);
                return fail("the machine has no error " + std::to_string(n) + " (it has " + known + ")");
            }
            e.number = static_cast<uint32_t>(n);
        } else if (key == "break") {
            e.end = run_end::break_point;
            if (!address(e.number, CM_LIMIT, "a CM address (000..FFF)")) return;
        } else if (key == "mm") {
            return expect_words(s, e);
        } else if (key == "printer") {
            return expect_printer(s, e);
        } else if (key == "steps") {
            e.kind = expect_kind::steps;
            if (!more() || peek().kind != token::op || peek().text == "~")
                return fail("a comparison is expected after steps: = <= < >= >");
            e.op = toks_[at_++].text;
            if (!decimal(e.steps, "a step count (decimal)") || !at_end()) return;
            s.expectations.push_back(e);
            return;
        } else {
            at_--;
            e.kind = expect_kind::reg;
            if (!register_name(e.reg) || !skip_op("=")) return;
            uint64_t v;
            if (!hex(v, e.digits, UINT32_MAX, "a value") || !fits(e.reg, v, toks_[at_ - 1].text)) return;
            e.values.push_back(static_cast<uint32_t>(v));
            if (!at_end()) return;
            s.expectations.push_back(e);
            return;
        }
        if (!at_end()) return;
        e.kind = expect_kind::run;
        s.expectations.push_back(e);
    }

    // "expect mm ADDR = V V ..." or "expect mm FIRST..LAST = V".
    void expect_words(section &s, expectation &e)
    {
        e.kind = expect_kind::mm;
        std::string range;
        if (!next_word(range, "an MM address")) return;
        size_t dots = range.find("..");
        uint64_t first, last;
        int digits;
        if (!parse_hex(range.substr(0, dots), first, digits) || first > 0xFFFF)
            return fail("'" + range + "' is not an MM address (0000..FFFF) or range (0040..0058)");
        last = first;
        if (dots != std::string::npos &&
            (!parse_hex(range.substr(dots + 2), last, digits) || last > 0xFFFF || last < first))
            return fail("'" + range + "' is not an MM range: FIRST..LAST, hexadecimal, FIRST <= LAST");
        if (!skip_op("=")) return;
        e.digits = 1;
        while (more()) {
            uint64_t v;
            if (!hex(v, digits, 0xFFFF, "an MM word")) return;
            e.values.push_back(static_cast<uint32_t>(v));
            e.digits = std::max(e.digits, digits);
        }
        if (e.values.empty()) return fail("the words are missing after '='");
        e.address = static_cast<uint32_t>(first);
        if (dots == std::string::npos) {
            if (first + e.values.size() - 1 > 0xFFFF) return fail("the words run past the end of the memory");
            e.count = static_cast<uint32_t>(e.values.size());
        } else {
            e.count = static_cast<uint32_t>(last - first + 1);
            if (e.values.size() != 1 && e.values.size() != e.count)
                return fail("the range " + range + " holds " + std::to_string(e.count) + " words but " +
                            std::to_string(e.values.size()) + " are given (give one for all, or one each)");
        }
        s.expectations.push_back(e);
    }

    // "expect printer "TEXT"", "expect printer file NAME", "expect printer ~ "PATTERN"".
    void expect_printer(section &s, expectation &e)
    {
        if (more() && peek().kind == token::op && peek().text == "~") {
            at_++;
            e.kind = expect_kind::printer_pattern;
            if (!more() || peek().kind != token::string) return fail("the pattern is given in quotes: expect printer ~ \"PATTERN\"");
            e.text = toks_[at_++].raw;   // the pattern's own escapes
            if (std::string problem = pattern_bound_problem(e.text); !problem.empty())
                return fail("the pattern " + shown(e.text, 40) + " is " + problem);
            // The library reports a bad pattern by an exception: only here.
            try {
                std::regex pattern(e.text, PATTERN_SYNTAX);
            } catch (const std::regex_error &) {
                return fail("the pattern " + shown(e.text) + " is not a regular expression");
            }
        } else if (more() && peek().kind == token::word && lower(peek().text) == "file") {
            at_++;
            e.kind = expect_kind::printer_file;
            if (!file(e.file)) return;
        } else {
            e.kind = expect_kind::printer_text;
            if (!more() || peek().kind != token::string)
                return fail("the printer text is given in quotes: expect printer \"TEXT\" (or file NAME, or ~ \"PATTERN\")");
            for (std::string piece; more() && peek().kind == token::string; at_++) {
                if (!cooked(peek(), piece)) return;
                e.text += piece;
            }
        }
        if (!at_end()) return;
        s.expectations.push_back(e);
    }

    std::string path_;
    check_file &out_;
    std::vector<std::string> &errors_;
    int line_ = 0;
    std::vector<token> toks_;
    size_t at_ = 0;
};

bool is_end(const expectation &e) { return e.kind == expect_kind::run; }

// A run's expectations, its end first: the last end that `sections` name,
// else a halt (shown at `line`); then the others in order.
std::vector<expectation> end_first(std::initializer_list<const section *> sections, int line)
{
    expectation end;
    end.line = line;
    for (const section *s : sections)
        for (const expectation &e : s->expectations)
            if (is_end(e)) end = e;
    std::vector<expectation> out{end};
    for (const section *s : sections)
        for (const expectation &e : s->expectations)
            if (!is_end(e)) out.push_back(e);
    return out;
}

}  // namespace

bool read_check_text(const std::string &path, const std::string &text, check_file &out,
                     std::vector<std::string> &errors)
{
    out = check_file{};
    out.path = path;
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    out.dir = dir.empty() ? "." : dir.string();
    const size_t before = errors.size();
    reader r(path, out, errors);
    size_t start = 0;
    for (int number = 1; start < text.size(); number++) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        r.line(number, text.substr(start, end - start));
        start = end + 1;
    }
    if (errors.size() == before && out.cases.empty()) {
        // No case line: the whole file is one case, named after the file.
        std::string name = std::filesystem::path(path).stem().string();
        out.cases.push_back({name.empty() ? "check" : name, 0, out.common, {}, {}, {}, {}});
        out.common = section{};
    }
    return errors.size() == before;
}

bool read_check_file(const std::string &path, check_file &out, std::vector<std::string> &errors)
{
    std::string text, error;
    if (!read_text_file(path, MAX_CHECK_FILE_BYTES, text, error)) {
        errors.push_back(error);
        return false;
    }
    return read_check_text(path, text, out, errors);
}

case_plan plan_case(const check_file &file, const check_case &one)
{
    const section &c = file.common, &o = one.own;
    case_plan p;
    p.name = one.name;
    p.line = one.line;
    auto join = [](auto &to, const auto &a, const auto &b) {
        to = a;
        to.insert(to.end(), b.begin(), b.end());
    };
    join(p.programs, c.programs, o.programs);
    join(p.symbols, c.symbols, o.symbols);
    join(p.words, c.words, o.words);
    join(p.registers, c.registers, o.registers);
    join(p.breaks, c.breaks, o.breaks);
    p.start = o.start ? *o.start : c.start ? *c.start : 0;
    p.limit = o.limit ? *o.limit : c.limit ? *c.limit : DEFAULT_LIMIT;
    p.cards = o.has_cards ? o.cards : c.cards;

    // How the run ends: the case's own expectation, else the common one,
    // else a halt. It is compared first.
    p.expectations = end_first({&c, &o}, one.line);
    if (p.expectations[0].end == run_end::break_point) p.breaks.push_back(p.expectations[0].number);
    for (const continued_run &run : one.more) {   // likewise, each continued run on its own
        p.more.push_back(run);
        p.more.back().own.expectations = end_first({&run.own}, run.line);
    }
    p.points = one.points ? *one.points : file.points;
    p.shown_as = one.shown_as ? *one.shown_as : file.shown_as;
    p.feedback = one.feedback;
    return p;
}

bool read_text_file(const std::string &path, size_t limit, std::string &text, std::string &error)
{
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) {
        error = path + ": is a directory, not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be opened (" + strerror(errno) + ")";
        return false;
    }
    // In pieces, so that a small file costs what it holds, not the limit.
    text.clear();
    char piece[65536];
    while (text.size() <= limit && in) {
        in.read(piece, static_cast<std::streamsize>(std::min(sizeof piece, limit + 1 - text.size())));
        text.append(piece, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        error = path + ": cannot be read";
        return false;
    }
    auto line_of = [&](size_t at) { return std::to_string(1 + std::count(text.begin(), text.begin() + static_cast<long>(at), '\n')); };
    size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        error = path + ":" + line_of(nul) + ": a binary file (it holds a NUL byte), not text";
        return false;
    }
    if (text.size() > limit) {
        error = path + ":" + line_of(limit) + ": the file is too large (more than " + std::to_string(limit) + " bytes)";
        return false;
    }
    return true;
}

const char *visibility_name(visibility v)
{
    switch (v) {
    case visibility::visible: return "visible";
    case visibility::hidden: return "hidden";
    case visibility::after_due_date: return "after_due_date";
    }
    return "visible";
}

bool has_extension(const std::string &name, const char *extension)
{
    const size_t n = strlen(extension);
    return name.size() >= n && lower(name.substr(name.size() - n)) == extension;
}

std::string quoted(const std::string &text, const char *byte_escape)
{
    std::string out = "\"";
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char escape[8];
                snprintf(escape, sizeof escape, byte_escape, c);
                out += escape;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string shown(const std::string &text, size_t limit)
{
    if (text.size() <= limit) return quoted(text, "\\x%02X");
    return quoted(text.substr(0, limit), "\\x%02X") + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace check
