#include "asm/expression.hpp"

void symbol_table::define(const std::string &name, int64_t value, const source_position &where,
                          diagnostics &diag)
{
    auto [it, added] = symbols_.try_emplace(name, symbol{value, where, {}});
    if (added) return;
    const source_position &first = it->second.where;
    diag.error(where, "'" + name + "' is already defined at " + first.file + ":" + std::to_string(first.line));
}

void symbol_table::use(const std::string &name, const source_position &where)
{
    auto it = symbols_.find(name);
    if (it != symbols_.end()) it->second.uses.push_back(where);
}

const int64_t *symbol_table::find(const std::string &name) const
{
    auto it = symbols_.find(name);
    return it == symbols_.end() ? nullptr : &it->second.value;
}

namespace {

// How deep parentheses and signs may nest: far more than any program needs,
// and little enough stack for every build (the WebAssembly one included).
constexpr int MAX_NESTING = 64;

// expression := term { ("+" | "-") term }
// term       := ("+" | "-") term | "(" expression ")" | number | name
class expression_parser {
public:
    expression_parser(token_cursor &cursor, symbol_table &symbols, name_scope scope, const source_position &line,
                      diagnostics &diag)
        : cursor_(cursor), symbols_(symbols), scope_(scope), line_(line), diag_(diag)
    {}

    std::optional<int64_t> expression();

private:
    std::optional<int64_t> term();
    std::optional<int64_t> fail(const token &t, const std::string &reason)
    {
        diag_.error(at_column(line_, t.column), reason);
        return std::nullopt;
    }

    // Counts one level of nesting for as long as it lives.
    struct nesting {
        explicit nesting(int &depth) : depth_(depth) { ++depth_; }
        ~nesting() { --depth_; }
        nesting(const nesting &) = delete;
        nesting &operator=(const nesting &) = delete;
        int &depth_;
    };

    token_cursor &cursor_;
    int depth_ = 0;
    symbol_table &symbols_;
    name_scope scope_;
    const source_position &line_;
    diagnostics &diag_;
};

std::optional<int64_t> expression_parser::expression()
{
    std::optional<int64_t> value = term();
    while (value && (cursor_.at_punct("+") || cursor_.at_punct("-"))) {
        const token &op = cursor_.next();
        std::optional<int64_t> right = term();
        if (!right) return std::nullopt;
        int64_t result;
        bool overflow = op.text == "+" ? __builtin_add_overflow(*value, *right, &result)
                                       : __builtin_sub_overflow(*value, *right, &result);
        if (overflow) return fail(op, "the expression overflows");
        value = result;
    }
    return value;
}

std::optional<int64_t> expression_parser::term()
{
    const token &t = cursor_.next();
    switch (t.kind) {
    case token_kind::number: return t.value;
    case token_kind::name: {
        if (const int64_t *value = symbols_.find(t.text)) {
            symbols_.use(t.text, at_column(line_, t.column));
            return *value;
        }
        if (scope_ == name_scope::lines_above)
            return fail(t, "unknown name '" + t.text + "' (.ORG and .EQU can use only names defined on earlier lines)");
        return fail(t, "unknown name '" + t.text + "'");
    }
    case token_kind::punct: {
        nesting level(depth_);
        if (depth_ > MAX_NESTING && (t.text == "-" || t.text == "+" || t.text == "("))
            return fail(t, "the expression nests more than " + std::to_string(MAX_NESTING) +
                               " levels of parentheses and signs deep");
        if (t.text == "-" || t.text == "+") {
            std::optional<int64_t> value = term();
            if (!value || t.text == "+") return value;
            if (*value == INT64_MIN) return fail(t, "the expression overflows");
            return -*value;
        }
        if (t.text == "(") {
            std::optional<int64_t> value = expression();
            if (!value) return std::nullopt;
            if (!cursor_.accept_punct(")")) return fail(cursor_.peek(), "')' expected");
            return value;
        }
        break;
    }
    case token_kind::string: return fail(t, "a string is not a number (use 'c' for one character)");
    case token_kind::directive:
    case token_kind::end: break;
    }
    return fail(t, t.kind == token_kind::end ? "a value is missing at the end of the line"
                                             : "a value is expected, not '" + t.text + "'");
}

}  // namespace

std::optional<int64_t> parse_expression(token_cursor &cursor, symbol_table &symbols, name_scope scope,
                                        const source_position &line, diagnostics &diag)
{
    return expression_parser(cursor, symbols, scope, line, diag).expression();
}
