#include "asm/micro_statement.hpp"

#include <string>

#include "asm/mnemonics.hpp"
#include "core/micro_word.hpp"

namespace {

// A token as messages quote it.
std::string describe(const token &t) { return t.kind == token_kind::end ? "the end of the line" : "'" + t.text + "'"; }

struct dispatch_kind {
    const char *name;
    int sqf;
    int64_t ir_bits;           // the address bits the IR field fills in
    const char *ir_bits_text;
};
constexpr dispatch_kind DISPATCH_KINDS[] = {
    {"OP",   SQF_DISPATCH_OP,   0xF,  "3..0"},   // IR bits 15..12 at address bits 3..0
    {"RX",   SQF_DISPATCH_RX,   0xC,  "3..2"},   // IR bits 11..10 at address bits 3..2
    {"RXRY", SQF_DISPATCH_RXRY, 0x3C, "5..2"},   // IR bits 11..8 at address bits 5..2
};

constexpr int64_t PAGE_MASK = ~int64_t{0x1FF};   // a page is a 512-word block

// The control memory's addresses, as messages give them.
const std::string CM_RANGE = " (" + hex_text(0, 3) + "-" + hex_text(CM_LIMIT, 3) + ")";

// Collects the fields the clauses of one line set. Each field is set at most
// once; set_at_ keeps the column of the clause that set it, by the field's
// lowest bit.
class micro_encoder {
public:
    micro_encoder(token_cursor &cursor, uint32_t address, symbol_table &symbols, const source_position &line,
                  diagnostics &diag)
        : cursor_(cursor), address_(address), symbols_(symbols), line_(line), diag_(diag)
    {}

    std::optional<uint64_t> run();
    uint64_t fields_set() const { return fields_set_; }

private:
    bool clause();
    bool mnemonic_clause(const field_mnemonics &table, int column);
    bool right_bus_constant(int column);
    bool escape_clause(micro_field field, int column);
    bool sequence_clause(const token &word);
    bool conditional(int column);
    bool dispatch(int column);
    bool jump_target(int sqf, int column);

    std::optional<int64_t> value() { return parse_expression(cursor_, symbols_, name_scope::whole_file, line_, diag_); }
    bool set(micro_field field, int64_t value, int column);
    bool fail(int column, const std::string &reason)
    {
        diag_.error(at_column(line_, column), reason);
        return false;
    }
    int code_of(micro_field field) const { return field_of(word_, field); }

    token_cursor &cursor_;
    uint32_t address_;
    symbol_table &symbols_;
    const source_position &line_;
    diagnostics &diag_;
    uint64_t word_ = DEFAULT_MICRO_WORD;
    int set_at_[64] = {};
    uint64_t fields_set_ = 0;
};

std::optional<uint64_t> micro_encoder::run()
{
    if (cursor_.at_keyword("NOP") && cursor_.peek(1).kind == token_kind::end) return word_;
    while (!cursor_.at_end())
        if (!clause()) return std::nullopt;
    if (sequence_tests(code_of(FIELD_SQF)) && code_of(FIELD_TSF) == TSF_RESERVED)
        diag_.warning(at_column(line_, set_at_[FIELD_TSF.low_bit]),
                      "TSF 6 is a reserved test: the machine reports an undefined micro-instruction");
    return word_;
}

bool micro_encoder::clause()
{
    const token &word = cursor_.next();
    if (word.kind != token_kind::name) return fail(word.column, "a clause is expected, not " + describe(word));
    if (!cursor_.accept_punct("=")) return sequence_clause(word);

    for (const field_mnemonics *table : CLAUSE_FIELDS)
        if (same_keyword(word.text, table->keyword)) return mnemonic_clause(*table, word.column);
    for (micro_field field : MICRO_FIELDS)
        if (same_keyword(word.text, field.name)) return escape_clause(field, word.column);
    if (same_keyword(word.text, FIELD_HI.name)) return escape_clause(FIELD_HI, word.column);
    return fail(word.column, "unknown field '" + word.text + "' (L, R, ALU, SH, TO, MEM, EX, or LBF .. ADF, HI)");
}

// KEY=MNEMONIC; the register mnemonics RX+1 and RY+1 are three tokens.
bool micro_encoder::mnemonic_clause(const field_mnemonics &table, int column)
{
    if (&table == &RIGHT_BUS && (cursor_.at_punct("#") || cursor_.at_punct("##")))
        return right_bus_constant(column);
    const token &name = cursor_.next();
    std::string text = name.text;
    if (name.kind == token_kind::name && cursor_.at_punct("+")) {
        cursor_.next();
        text += "+" + cursor_.next().text;
    }
    if (name.kind == token_kind::end)
        return fail(name.column, std::string(table.keyword) + "= is missing its " + table.what);
    int code = find_mnemonic(table, text);
    if (code < 0) {
        std::string known;
        for (const char *n : table.names)
            if (n) known += (known.empty() ? "" : ", ") + std::string(n);
        if (&table == &RIGHT_BUS) known += ", #constant, ##constant";
        return fail(name.column, "unknown " + std::string(table.what) + " '" + text + "' (" + known + ")");
    }
    return set(table.field, code, column);
}

// R=#expr: 9-bit constant in ADF. R=##expr: 16-bit constant in TSF, EXF, ADF.
bool micro_encoder::right_bus_constant(int column)
{
    bool wide = cursor_.next().text == "##";
    const token &first = cursor_.peek();
    std::optional<int64_t> constant = value();
    if (!constant) return false;
    if (!wide) {
        if (*constant < 0 || *constant > 0x1FF)
            return fail(first.column, "constant " + std::to_string(*constant) + " does not fit the 9-bit ADF field (0..511); use R=## for 16 bits");
        return set(FIELD_RBF, RBF_ADF_CONSTANT, column) && set(FIELD_ADF, *constant, column);
    }
    if (*constant < -0x8000 || *constant > 0xFFFF)
        return fail(first.column, "constant " + std::to_string(*constant) + " does not fit 16 bits (-32768..65535)");
    uint64_t bits = static_cast<uint64_t>(*constant) & 0xFFFF;
    return set(FIELD_RBF, RBF_WORD_CONSTANT, column) && set(FIELD_TSF, field_of(bits, FIELD_TSF), column) &&
           set(FIELD_EXF, field_of(bits, FIELD_EXF), column) && set(FIELD_ADF, field_of(bits, FIELD_ADF), column);
}

// LBF=expr .. ADF=expr, HI=expr: the field as a number.
bool micro_encoder::escape_clause(micro_field field, int column)
{
    const token &first = cursor_.peek();
    std::optional<int64_t> code = value();
    if (!code) return false;
    int64_t limit = (int64_t{1} << field.width) - 1;
    if (*code < 0 || *code > limit)
        return fail(first.column, "value " + std::to_string(*code) + " does not fit " + field.name + " (0.." + std::to_string(limit) + ")");
    if (is_reserved_code(field, static_cast<int>(*code)))
        diag_.warning(at_column(line_, column), std::string(field.name) + " " + std::to_string(*code) +
                                                    " is a reserved code: the machine reports an undefined micro-instruction");
    return set(field, *code, column);
}

bool micro_encoder::sequence_clause(const token &word)
{
    int column = word.column;
    if (same_keyword(word.text, "CONTINUE")) return set(FIELD_SQF, SQF_CONTINUE, column);
    if (same_keyword(word.text, "RETURN")) return set(FIELD_SQF, SQF_RETURN, column);
    if (same_keyword(word.text, "JUMP")) return jump_target(SQF_JUMP, column);
    if (same_keyword(word.text, "CALL")) return jump_target(SQF_CALL, column);
    if (same_keyword(word.text, "IF")) return conditional(column);
    if (same_keyword(word.text, "DISPATCH")) return dispatch(column);
    if (same_keyword(word.text, "NOP")) return fail(column, "NOP stands alone on its line");
    return fail(column, "unknown clause '" + word.text + "'");
}

// JUMP target, CALL target: anywhere in CM, TSF the high address bits.
bool micro_encoder::jump_target(int sqf, int column)
{
    const token &first = cursor_.peek();
    std::optional<int64_t> target = value();
    if (!target) return false;
    if (*target < 0 || *target > CM_LIMIT)
        return fail(first.column, "target " + hex_text(*target, 3) + " is outside control memory" + CM_RANGE);
    return set(FIELD_SQF, sqf, column) && set(FIELD_TSF, *target >> 9, column) &&
           set(FIELD_ADF, *target & 0x1FF, column);
}

// IF [NOT] cond JUMP target  |  IF cond RESTART [ELSE target]
bool micro_encoder::conditional(int column)
{
    bool negated = cursor_.accept_keyword("NOT");
    const token &cond = cursor_.next();
    int test = -1;
    for (int tsf = 0; tsf < 8; tsf++)
        if (TEST_CONDITIONS[tsf] && cond.kind == token_kind::name && same_keyword(cond.text, TEST_CONDITIONS[tsf])) test = tsf;
    if (test < 0) return fail(cond.column, "unknown condition " + describe(cond) + " (ZER, NEG, CRY, OVR, T, CZERO, TRUE)");

    int sqf;
    const token &action = cursor_.next();
    if (same_keyword(action.text, "JUMP")) {
        sqf = negated ? SQF_JUMP_IF_FALSE : SQF_JUMP_IF_TRUE;
    } else if (same_keyword(action.text, "RESTART")) {
        if (negated) return fail(action.column, "RESTART has no IF NOT form");
        sqf = SQF_RESTART_IF_TRUE;
    } else {
        return fail(action.column, "JUMP or RESTART expected after the condition, not " + describe(action));
    }
    if (!set(FIELD_SQF, sqf, column) || !set(FIELD_TSF, test, column)) return false;
    if (sqf == SQF_RESTART_IF_TRUE && !cursor_.accept_keyword("ELSE")) return set(FIELD_ADF, 0, column);

    const token &first = cursor_.peek();
    std::optional<int64_t> target = value();
    if (!target) return false;
    int64_t page = address_ & PAGE_MASK;
    if ((*target & PAGE_MASK) != page)
        return fail(first.column, "target " + hex_text(*target, 3) + " is outside page " + hex_text(page, 3) + "-" +
                                      hex_text(page + 0x1FF, 3) + " of this micro-instruction (use JUMP to leave the page)");
    return set(FIELD_ADF, *target & 0x1FF, column);
}

// DISPATCH OP|RX|RXRY table, naming the table by its first entry.
bool micro_encoder::dispatch(int column)
{
    const token &kind = cursor_.next();
    const dispatch_kind *how = nullptr;
    for (const dispatch_kind &k : DISPATCH_KINDS)
        if (same_keyword(kind.text, k.name)) how = &k;
    if (!how) return fail(kind.column, "OP, RX or RXRY expected after DISPATCH, not " + describe(kind));

    const token &first = cursor_.peek();
    std::optional<int64_t> table = value();
    if (!table) return false;
    if (*table < 0 || *table > CM_LIMIT)
        return fail(first.column, "table " + hex_text(*table, 3) + " is outside control memory" + CM_RANGE);
    if (*table & how->ir_bits)
        return fail(first.column, std::string("DISPATCH ") + how->name + " cannot reach table " + hex_text(*table, 3) +
                                      ": its address bits " + how->ir_bits_text + " must be 0");
    int tsf, adf;
    dispatch_fields(how->sqf, static_cast<uint32_t>(*table), tsf, adf);
    return set(FIELD_SQF, how->sqf, column) &&
           (how->sqf == SQF_DISPATCH_OP || set(FIELD_TSF, tsf, column)) && set(FIELD_ADF, adf, column);
}

bool micro_encoder::set(micro_field field, int64_t value, int column)
{
    int &at = set_at_[field.low_bit];
    if (at) return fail(column, std::string(field.name) + " is already set by the clause at column " + std::to_string(at));
    at = column;
    word_ = with_field(word_, field, static_cast<uint64_t>(value));
    fields_set_ = with_field(fields_set_, field, ~uint64_t{0});
    return true;
}

}  // namespace

std::optional<uint64_t> encode_micro_instruction(token_cursor &cursor, uint32_t address, symbol_table &symbols,
                                                 const source_position &line, diagnostics &diag, uint64_t *fields_set)
{
    micro_encoder encoder(cursor, address, symbols, line, diag);
    std::optional<uint64_t> word = encoder.run();
    if (fields_set) *fields_set = encoder.fields_set();
    return word;
}
