#include "asm/timing_check.hpp"

#include <optional>

#include "asm/lexer.hpp"
#include "asm/mnemonics.hpp"

namespace {

// The codes the rules look at, found by their mnemonics.
struct rule_codes {
    int left_memory = find_mnemonic(LEFT_BUS, "MEM");
    int left_iobus = find_mnemonic(LEFT_BUS, "IOBUS");
    int left_zero = find_mnemonic(LEFT_BUS, "0");
    int read = find_mnemonic(MEMORY_FUNCTION, "READ");
    int write = find_mnemonic(MEMORY_FUNCTION, "WRITE");
    int start_io = find_mnemonic(EXTRA_FUNCTION, "STARTIO");
    int to_iobus = find_mnemonic(EXTRA_FUNCTION, "TOIO");
    int always = true_condition();

    static int true_condition()
    {
        for (int tsf = 0; tsf < 8; tsf++)
            if (TEST_CONDITIONS[tsf] && same_keyword(TEST_CONDITIONS[tsf], "TRUE")) return tsf;
        return -1;
    }
};

// "L=MEM", "MEM=READ", ...
std::string clause(const field_mnemonics &table, int code)
{
    return std::string(table.keyword) + "=" + (code >= 0 && table.names[code] ? table.names[code] : "?");
}

// The address of the micro-instruction that surely follows the one at
// `address`, if the sequencer leaves no choice.
std::optional<uint32_t> certain_successor(uint32_t address, uint64_t word, const rule_codes &codes)
{
    int tsf = field_of(word, FIELD_TSF);
    uint32_t adf = static_cast<uint32_t>(field_of(word, FIELD_ADF));
    bool always = tsf == codes.always;
    switch (field_of(word, FIELD_SQF)) {
    case SQF_CONTINUE: return address + 1;
    case SQF_JUMP:
    case SQF_CALL: return static_cast<uint32_t>(tsf) << 9 | adf;
    case SQF_JUMP_IF_TRUE: if (always) return (address & ~0x1FFu) | adf; break;   // within the 512-word page
    case SQF_JUMP_IF_FALSE: if (always) return address + 1; break;
    case SQF_RESTART_IF_TRUE: if (always) return 0; break;
    default: break;
    }
    return std::nullopt;
}

class pair_check {
public:
    pair_check(const rule_codes &codes, uint32_t first, uint64_t a, uint32_t second, uint64_t b,
               const std::map<uint32_t, source_position> &positions, const std::map<uint32_t, uint64_t> &fields_set,
               std::vector<timing_warning> &out)
        : codes_(codes), first_(first), second_(second), a_(a), b_(b), positions_(positions),
          fields_set_(fields_set), out_(out)
    {
    }

    void run()
    {
        int a_memory = field_of(a_, FIELD_MMF), b_memory = field_of(b_, FIELD_MMF);
        int b_left = field_of(b_, FIELD_LBF);
        int a_extra = field_of(a_, FIELD_EXF), b_extra = field_of(b_, FIELD_EXF);
        bool b_starts_memory = b_memory == codes_.read || b_memory == codes_.write;
        std::string l_mem = clause(LEFT_BUS, codes_.left_memory), l_iobus = clause(LEFT_BUS, codes_.left_iobus);
        std::string read = clause(MEMORY_FUNCTION, codes_.read), write = clause(MEMORY_FUNCTION, codes_.write);
        std::string start = clause(EXTRA_FUNCTION, codes_.start_io);

        if (b_left == codes_.left_memory && a_memory != codes_.read && a_memory != codes_.write)
            warn(l_mem + " without " + read + " in the micro-instruction before it (" + first_name() +
                 "): the machine reports error 18");
        if (a_memory == codes_.write && b_left == codes_.left_memory)
            warn(l_mem + " in the data cycle of the " + write + " of " + first_name() +
                 ": the machine reports error 18 and writes the address as the data");
        if (a_memory == codes_.write && b_left == codes_.left_zero && !left_bus_set())
            warn("no L= for the data of the " + write + " of " + first_name() + ": the word written is 0 (write " +
                 clause(LEFT_BUS, codes_.left_zero) + " if that is meant)");
        if (a_memory == codes_.read && b_starts_memory && b_left != codes_.left_memory)
            warn(clause(MEMORY_FUNCTION, b_memory) + " while the word of the " + read + " of " + first_name() +
                 " is not taken (" + l_mem + "): that word is lost");
        if (a_memory == codes_.write && b_starts_memory)
            warn(clause(MEMORY_FUNCTION, b_memory) + " in the data cycle of the " + write + " of " + first_name() +
                 ": the left bus is both the word written and the new address");
        if (a_extra == codes_.start_io && b_extra == codes_.start_io && b_left != codes_.left_iobus)
            warn(start + " right after the " + start + " of " + first_name() + " without taking its input (" +
                 l_iobus + "): a byte read there is lost");
        if (b_extra == codes_.start_io && b_left == codes_.left_iobus && a_extra != codes_.start_io &&
            a_extra != codes_.to_iobus)
            warn(l_iobus + " in the micro-instruction that starts a transfer, and " + first_name() +
                 " before it starts none: a byte read arrives only in the next micro-instruction");
    }

private:
    // False when the second word's source left the left bus at its default.
    bool left_bus_set() const
    {
        auto it = fields_set_.find(second_);
        return it == fields_set_.end() || field_of(it->second, FIELD_LBF) != 0;
    }

    // "line 12", "other.masm:12" or, without a position, "address 0x012".
    std::string first_name() const
    {
        auto a = positions_.find(first_), b = positions_.find(second_);
        if (a == positions_.end()) return "address " + hex_text(first_, 3);
        if (b != positions_.end() && b->second.file == a->second.file) return "line " + std::to_string(a->second.line);
        return a->second.file + ":" + std::to_string(a->second.line);
    }

    void warn(const std::string &reason)
    {
        auto b = positions_.find(second_);
        out_.push_back({first_, second_, b == positions_.end() ? source_position{} : b->second, reason});
    }

    const rule_codes &codes_;
    uint32_t first_, second_;
    uint64_t a_, b_;
    const std::map<uint32_t, source_position> &positions_;
    const std::map<uint32_t, uint64_t> &fields_set_;
    std::vector<timing_warning> &out_;
};

}  // namespace

std::vector<timing_warning> check_timing(const std::map<uint32_t, uint64_t> &words,
                                         const std::map<uint32_t, source_position> &positions,
                                         const std::map<uint32_t, uint64_t> &fields_set)
{
    const rule_codes codes;
    std::map<uint32_t, std::vector<timing_warning>> by_second;
    for (auto [first, word] : words) {
        std::optional<uint32_t> second = certain_successor(first, word, codes);
        if (!second) continue;
        auto next = words.find(*second);
        if (next == words.end()) continue;
        pair_check(codes, first, word, *second, next->second, positions, fields_set, by_second[*second]).run();
    }
    std::vector<timing_warning> warnings;
    for (auto &[second, found] : by_second) warnings.insert(warnings.end(), found.begin(), found.end());
    return warnings;
}
