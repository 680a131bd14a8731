#include "asm/lexer.hpp"

#include <cctype>

namespace {

bool is_name_start(char c) { return isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool is_name_part(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

int digit_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Scans one line, keeping its position for the messages.
class scanner {
public:
    scanner(std::string_view text, const source_position &line, diagnostics &diag)
        : text_(text), line_(line), diag_(diag) {}

    std::optional<std::vector<token>> run();

private:
    char at(size_t i) const { return i < text_.size() ? text_[i] : '\0'; }
    bool fail(size_t where, const std::string &reason)
    {
        diag_.error(at_column(line_, static_cast<int>(where) + 1), reason);
        return false;
    }
    bool number(token &t);
    bool quoted(token &t);
    bool escaped_char(char &c);

    std::string_view text_;
    const source_position &line_;
    diagnostics &diag_;
    size_t pos_ = 0;
};

std::optional<std::vector<token>> scanner::run()
{
    std::vector<token> tokens;
    if (size_t nul = text_.find('\0'); nul != std::string_view::npos) {
        fail(nul, "a NUL byte: a source is text");
        return std::nullopt;
    }
    for (;;) {
        while (at(pos_) == ' ' || at(pos_) == '\t' || at(pos_) == '\r' || at(pos_) == '\n') pos_++;
        token t{token_kind::end, "", 0, static_cast<int>(pos_) + 1};
        char c = at(pos_);
        if (c == '\0' || c == ';') {
            tokens.push_back(t);
            return tokens;
        }
        size_t start = pos_;
        if (is_name_start(c) || (c == '.' && is_name_start(at(pos_ + 1)))) {
            t.kind = c == '.' ? token_kind::directive : token_kind::name;
            pos_++;
            while (is_name_part(at(pos_))) pos_++;
        } else if (isdigit(static_cast<unsigned char>(c))) {
            if (!number(t)) return std::nullopt;
        } else if (c == '\'' || c == '"') {
            if (!quoted(t)) return std::nullopt;
        } else if (c == '#' && at(pos_ + 1) == '#') {
            t.kind = token_kind::punct;
            pos_ += 2;
        } else if (std::string_view(":=#+-(),").find(c) != std::string_view::npos) {
            t.kind = token_kind::punct;
            pos_++;
        } else {
            fail(pos_, std::string("unexpected character '") + c + "'");
            return std::nullopt;
        }
        if (t.kind != token_kind::string) t.text = std::string(text_.substr(start, pos_ - start));
        tokens.push_back(t);
    }
}

bool scanner::number(token &t)
{
    size_t start = pos_;
    int base = 10;
    if (at(pos_) == '0' && (at(pos_ + 1) == 'x' || at(pos_ + 1) == 'X')) base = 16;
    if (at(pos_) == '0' && (at(pos_ + 1) == 'b' || at(pos_ + 1) == 'B')) base = 2;
    if (base != 10) pos_ += 2;
    size_t digits = pos_;
    uint64_t value = 0;
    bool too_large = false;
    for (; is_name_part(at(pos_)); pos_++) {
        int d = digit_value(at(pos_));
        if (d >= base) return fail(start, "malformed number '" + std::string(text_.substr(start, pos_ + 1 - start)) + "'");
        if (value > (static_cast<uint64_t>(INT64_MAX) - d) / base) too_large = true;
        value = value * base + d;
    }
    if (pos_ == digits) return fail(start, "malformed number: no digits after '" + std::string(text_.substr(start, 2)) + "'");
    if (too_large) return fail(start, "number '" + std::string(text_.substr(start, pos_ - start)) + "' is too large");
    t.kind = token_kind::number;
    t.value = static_cast<int64_t>(value);
    return true;
}

// A character 'c' (a number token) or a string "text".
bool scanner::quoted(token &t)
{
    char quote = at(pos_);
    size_t start = pos_++;
    std::string chars;
    for (;;) {
        char c = at(pos_);
        if (c == '\0' || c == '\n') return fail(start, quote == '"' ? "string is not closed" : "character is not closed");
        pos_++;
        if (c == quote) break;
        if (c == '\\' && !escaped_char(c)) return false;
        chars += c;
    }
    if (quote == '"') {
        t.kind = token_kind::string;
        t.text = chars;
        return true;
    }
    if (chars.size() != 1) return fail(start, "a character constant holds exactly one character");
    t.kind = token_kind::number;
    t.value = static_cast<unsigned char>(chars[0]);
    return true;
}

// The character after a backslash; pos_ is just past the backslash.
bool scanner::escaped_char(char &c)
{
    char e = at(pos_++);
    switch (e) {
    case 'n': c = '\n'; return true;
    case 'r': c = '\r'; return true;
    case 't': c = '\t'; return true;
    case '0': c = '\0'; return true;
    case '\\': case '\'': case '"': c = e; return true;
    case 'x':
        if (digit_value(at(pos_)) < 16 && digit_value(at(pos_ + 1)) < 16) {
            c = static_cast<char>(digit_value(at(pos_)) * 16 + digit_value(at(pos_ + 1)));
            pos_ += 2;
            return true;
        }
        return fail(pos_ - 2, "\\x needs two hexadecimal digits");
    default: return fail(pos_ - 2, std::string("unknown escape '\\") + e + "'");
    }
}

}  // namespace

std::optional<std::vector<token>> tokenize(std::string_view text, const source_position &line,
                                           diagnostics &diag)
{
    return scanner(text, line, diag).run();
}

bool same_keyword(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

const token &token_cursor::peek(size_t ahead) const
{
    size_t i = index_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
}

const token &token_cursor::next()
{
    const token &t = peek();
    if (t.kind != token_kind::end) index_++;
    return t;
}

bool token_cursor::at_punct(std::string_view text) const
{
    return peek().kind == token_kind::punct && peek().text == text;
}

bool token_cursor::at_keyword(std::string_view keyword) const
{
    return peek().kind == token_kind::name && same_keyword(peek().text, keyword);
}

bool token_cursor::accept_punct(std::string_view text)
{
    if (!at_punct(text)) return false;
    index_++;
    return true;
}

bool token_cursor::accept_keyword(std::string_view keyword)
{
    if (!at_keyword(keyword)) return false;
    index_++;
    return true;
}
