#include "asm/timing_check.hpp"

#include <array>
#include <deque>
#include <optional>
#include <set>
#include <tuple>

#include "asm/lexer.hpp"
#include "asm/mnemonics.hpp"
#include "core/machine_state.hpp"

namespace {

// The codes the rules look at that the core does not name.
constexpr int LBF_IOBUS = 11, LBF_ZERO = 15;
constexpr int EXF_DECC = 0, EXF_CRYIN = 2, EXF_ONEIN = 3, EXF_LOADIR = 4, EXF_TOIO = 5, EXF_LOADC = 6, EXF_STARTIO = 7,
              EXF_CLEAR_T = 9;
constexpr uint16_t IO_INPUT = 0xEC, IO_OUTPUT = 0xED;   // IR bits 15..8
// More contexts than this and the rest of the graph is left unexplored
// (only sources built to defeat the check get there).
constexpr size_t MAX_NODES = 1 << 15;

using value = std::optional<uint16_t>;   // empty: not known

// What is known at the start of a micro-cycle, on every path that leads
// there.
struct facts {
    std::array<value, 8> r{};
    value ir;
    bool iobus_put = false;       // the program has put something on the I/O bus
    bool input_pending = false;   // the cycle before started an input (or a transfer of unknown direction)

    bool operator==(const facts &) const = default;

    void join(const facts &other)
    {
        for (size_t i = 0; i < r.size(); i++)
            if (r[i] != other.r[i]) r[i].reset();
        if (ir != other.ir) ir.reset();
        iobus_put = iobus_put && other.iobus_put;
        input_pending = input_pending && other.input_pending;
    }

    bool io_is(uint16_t operation) const { return ir && (*ir >> 8) == operation; }
};

// The register an IR field selects: bits 9..8 (Y) or 11..10 (X), plus `add`.
std::optional<int> ir_register(const value &ir, int shift, int add)
{
    if (!ir) return std::nullopt;
    return static_cast<int>(((*ir >> shift) + add) & 3);
}

// A register on either bus: R0..R7 by codes 0..7, or by codes 8 and 9 the
// one the IR field at `shift` selects (plus 1 for code 9).
value bus_register(const facts &in, int code, int shift)
{
    if (code < 8) return in.r[code];
    if (auto r = ir_register(in.ir, shift, code - 8)) return in.r[*r];
    return std::nullopt;
}

value left_bus(const micro_instruction &w, const facts &in)
{
    switch (w.LBF) {
    case 13: return in.ir;
    case LBF_ZERO: return 0;
    default: return w.LBF <= 9 ? bus_register(in, w.LBF, 8) : std::nullopt;   // PC, IOBUS, MEM, FSR: not followed
    }
}

value right_bus(const micro_instruction &w, const facts &in)
{
    switch (w.RBF) {
    case RBF_ADF_CONSTANT: return static_cast<uint16_t>(w.ADF);
    case RBF_WORD_CONSTANT: return static_cast<uint16_t>(w.MIR & 0xFFFF);
    case 15: return 0;
    default: return w.RBF <= 9 ? bus_register(in, w.RBF, 10) : std::nullopt;
    }
}

// The ALU code that acts: ALF, or IR bits 6..4 for ALF 5; -1 when not known.
int alu_code(const micro_instruction &w, const value &ir)
{
    if (w.ALF != ALF_FROM_IR) return w.ALF;
    return ir ? (*ir >> 4) & 7 : -1;
}

value shifter_result(const micro_instruction &w, const facts &in, const value &lbus)
{
    value rbus = right_bus(w, in);
    const bool carry_known = w.EXF != EXF_CRYIN;   // CRY is not followed
    const unsigned carry = w.EXF == EXF_ONEIN;
    value abus;
    if (lbus && rbus) {
        unsigned l = *lbus, r = *rbus;
        switch (alu_code(w, in.ir)) {
        case 0:
            if (carry_known) abus = static_cast<uint16_t>(l + r + carry);
            break;
        case 1:
            if (carry_known) abus = static_cast<uint16_t>(l - r - carry);
            break;
        case 2: abus = static_cast<uint16_t>(l & r); break;
        case 3:
        case 7: abus = static_cast<uint16_t>(l | r); break;
        case 4: abus = static_cast<uint16_t>(l ^ r); break;
        default: break;
        }
    }
    if (!abus) return std::nullopt;
    unsigned a = *abus;
    switch (w.SHF) {
    case 0:
    case 2:
        if (carry_known) return static_cast<uint16_t>(a << 1 | carry);
        break;
    case 1:
        if (carry_known) return static_cast<uint16_t>(a >> 1 | carry << 15);
        break;
    case 3: return static_cast<uint16_t>(a >> 1 | (a & 0x8000));
    case 4: return static_cast<uint16_t>(a & 0x80 ? a | 0xFF00 : a);
    case 5: return static_cast<uint16_t>(a << 8 | a >> 8);
    case 7: return static_cast<uint16_t>(a);
    default: break;
    }
    return std::nullopt;
}

// The facts at the start of the next cycle.
facts after(const micro_instruction &w, const facts &in)
{
    facts out = in;
    value lbus = left_bus(w, in);
    value sbus = shifter_result(w, in, lbus);
    if (w.EXF == EXF_LOADIR) out.ir = lbus;
    auto store = [&](int r) { out.r[r] = sbus; };
    auto store_by_ir = [&](int shift, int add) {
        if (auto r = ir_register(out.ir, shift, add)) {
            store(*r);
            return;
        }
        for (int r = 0; r < 4; r++)   // one of R0..R3, not known which
            if (out.r[r] != sbus) out.r[r].reset();
    };
    switch (w.SBF) {
    case 8:
    case 9: store_by_ir(10, w.SBF - 8); break;
    case 10:
    case 11: store_by_ir(8, w.SBF - 10); break;
    default:
        if (w.SBF < 8) store(w.SBF);
        break;
    }
    if (out.ir) {
        uint16_t ir = *out.ir;
        switch (w.EXF) {
        case EXF_UP_IR_11_10: out.ir = static_cast<uint16_t>((ir & ~0x0C00) | ((ir + 0x0400) & 0x0C00)); break;
        case EXF_UP_IR_9_8: out.ir = static_cast<uint16_t>((ir & ~0x0300) | ((ir + 0x0100) & 0x0300)); break;
        case EXF_DOWN_IR_9_8: out.ir = static_cast<uint16_t>((ir & ~0x0300) | ((ir - 0x0100) & 0x0300)); break;
        default: break;
        }
    }
    out.iobus_put = in.iobus_put || in.input_pending || w.EXF == EXF_TOIO;
    out.input_pending = w.EXF == EXF_STARTIO && !in.io_is(IO_OUTPUT);
    return out;
}

using return_stack = std::basic_string<uint16_t>;

struct successor {
    uint32_t address;
    return_stack stack;
};

// Where the sequencer can go from `w` at `address`, with `stack` the
// addresses that the calls on the path pushed. A return with nothing pushed
// on the path goes nowhere that is known.
std::vector<successor> successors(uint32_t address, const micro_instruction &w, const facts &in,
                                  const return_stack &stack)
{
    std::vector<successor> next;
    uint32_t page_target = (address & ~0x1FFu) | static_cast<uint32_t>(w.ADF);
    uint32_t jump_target = static_cast<uint32_t>(w.TSF) << 9 | static_cast<uint32_t>(w.ADF);
    auto go = [&](uint32_t to) { next.push_back({to, stack}); };
    auto test = [&](uint32_t if_true, uint32_t if_false) {
        if (w.TSF != TSF_RESERVED) go(if_true);
        if (w.TSF != TSF_ALWAYS) go(if_false);
    };
    // A dispatch table of `entries` entries `step` apart, by the IR field
    // at `shift`: the one entry IR selects, or every entry.
    auto table = [&](uint32_t step, uint32_t entries, int shift) {
        uint32_t base = dispatch_table(w.SQF, w.TSF, w.ADF);
        if (in.ir) return go(base + ((*in.ir >> shift) & (entries - 1)) * step);
        for (uint32_t e = 0; e < entries; e++) go(base + e * step);
    };
    switch (w.SQF) {
    case SQF_JUMP: go(jump_target); break;
    case SQF_CALL: {
        return_stack pushed = stack;
        if (pushed.size() < static_cast<size_t>(STACK_DEPTH)) pushed.push_back(static_cast<uint16_t>(address + 1));
        next.push_back({jump_target, pushed});
        break;
    }
    case SQF_RETURN:
        if (!stack.empty()) next.push_back({stack.back(), stack.substr(0, stack.size() - 1)});
        break;
    case SQF_JUMP_IF_TRUE: test(page_target, address + 1); break;
    case SQF_JUMP_IF_FALSE: test(address + 1, page_target); break;
    case SQF_RESTART_IF_TRUE: test(0, page_target); break;
    case SQF_DISPATCH_OP: table(1, 16, 12); break;
    case SQF_DISPATCH_RX: table(4, 4, 10); break;
    case SQF_DISPATCH_RXRY: table(4, 16, 8); break;
    case SQF_CONTINUE: go(address + 1); break;
    default: break;   // reserved: the machine stops with error 1
    }
    return next;
}

// What a test looks at, and what a micro-instruction may change.
enum class tested { ZER, NEG, CRY, OVR, T, C, IR, none };

tested tested_by(const micro_instruction &w)
{
    switch (w.SQF) {
    case SQF_JUMP_IF_TRUE:
    case SQF_JUMP_IF_FALSE:
    case SQF_RESTART_IF_TRUE:
        if (w.TSF == TSF_COUNTER_ZERO) return tested::C;
        return w.TSF < TSF_COUNTER_ZERO ? static_cast<tested>(w.TSF) : tested::none;
    case SQF_DISPATCH_OP:
    case SQF_DISPATCH_RX:
    case SQF_DISPATCH_RXRY: return tested::IR;
    default: return tested::none;
    }
}

// Whether the ALU (by its code, IR's where ALU=IROP: not known counts as
// setting) or the shifter of `w` sets a flag.
bool alu_sets(const micro_instruction &w, const value &ir, tested flag)
{
    int alu = alu_code(w, ir);
    if (flag == tested::ZER) return alu >= -1 && alu <= 4;
    return (flag == tested::NEG || flag == tested::CRY || flag == tested::OVR) && alu >= -1 && alu <= 1;
}

bool shifter_sets(const micro_instruction &w, tested flag)
{
    return (flag == tested::CRY && w.SHF <= 4) || (flag == tested::OVR && w.SHF == 2);
}

bool sets(const micro_instruction &w, const value &ir, tested what)
{
    switch (what) {
    case tested::T: return w.EXF == EXF_SET_T || w.EXF == EXF_CLEAR_T;
    case tested::C: return w.EXF == EXF_DECC || w.EXF == EXF_LOADC;
    case tested::IR:
        return w.EXF == EXF_LOADIR || w.EXF == EXF_UP_IR_11_10 || w.EXF == EXF_UP_IR_9_8 || w.EXF == EXF_DOWN_IR_9_8;
    case tested::none: return false;
    default: return alu_sets(w, ir, what) || shifter_sets(w, what);
    }
}

const char *name_of(tested what)
{
    switch (what) {
    case tested::ZER: return "ZER";
    case tested::NEG: return "NEG";
    case tested::CRY: return "CRY";
    case tested::OVR: return "OVR";
    case tested::T: return "T";
    case tested::C: return "C";
    case tested::IR: return "IR";
    case tested::none: break;
    }
    return "?";
}

// "L=MEM", "EX=STARTIO", ...
std::string clause(const field_mnemonics &table, int code)
{
    return std::string(table.keyword) + "=" + (code >= 0 && table.names[code] ? table.names[code] : "?");
}

// The clause of `w` that changes `what`, for a message.
std::string changer(const micro_instruction &w, const value &ir, tested what)
{
    switch (what) {
    case tested::T:
    case tested::C:
    case tested::IR: return clause(EXTRA_FUNCTION, w.EXF);
    default: return alu_sets(w, ir, what) ? clause(ALU_FUNCTION, w.ALF) : clause(SHIFT_FUNCTION, w.SHF);
    }
}

class analysis {
public:
    analysis(const std::map<uint32_t, uint64_t> &words, const std::map<uint32_t, source_position> &positions,
             const std::map<uint32_t, uint64_t> &fields_set)
        : words_(words), positions_(positions), fields_set_(fields_set)
    {
    }

    std::vector<timing_warning> run()
    {
        explore();
        for (size_t n = 0; n < nodes_.size(); n++) check_node(n);
        std::vector<timing_warning> found;
        for (auto &[key, w] : findings_) found.push_back(w);
        return found;
    }

private:
    struct node {
        uint32_t address;
        return_stack stack;
        facts in;
        bool queued = false;
    };

    // Every word is analysed: from address 0 (where a reset starts), from
    // every word that no word leads to, and then from each word that nothing
    // analysed so far reaches (a loop of its own), in address order.
    void explore()
    {
        std::set<uint32_t> led_to;
        for (auto &[address, word] : words_) {
            micro_instruction w = decode(word);
            for (const successor &s : successors(address, w, facts{}, return_stack{})) led_to.insert(s.address);
            if (w.SQF == SQF_CALL) led_to.insert(address + 1);   // where its RETURN comes back
        }
        std::set<uint32_t> reached;
        auto from = [&](uint32_t root) {
            roots_.insert(root);
            reach(root, return_stack{}, facts{});
            while (!queue_.empty()) {
                size_t n = queue_.front();
                queue_.pop_front();
                nodes_[n].queued = false;
                reached.insert(nodes_[n].address);
                micro_instruction w = decode(words_.at(nodes_[n].address));
                facts out = after(w, nodes_[n].in);
                for (const successor &s : successors(nodes_[n].address, w, nodes_[n].in, nodes_[n].stack))
                    reach(s.address, s.stack, out);
            }
        };
        if (words_.count(0)) from(0);
        for (auto &[address, word] : words_)
            if (!reached.count(address) && !led_to.count(address)) from(address);
        for (auto &[address, word] : words_)
            if (!reached.count(address)) from(address);
    }

    void reach(uint32_t address, const return_stack &stack, const facts &in)
    {
        if (!words_.count(address)) return;
        auto [it, added] = index_.try_emplace({address, stack}, nodes_.size());
        if (added) {
            if (nodes_.size() >= MAX_NODES) {
                index_.erase(it);
                return;
            }
            nodes_.push_back({address, stack, in});
        } else {
            facts joined = nodes_[it->second].in;
            joined.join(in);
            if (joined == nodes_[it->second].in) return;
            nodes_[it->second].in = joined;
        }
        if (!nodes_[it->second].queued) {
            nodes_[it->second].queued = true;
            queue_.push_back(it->second);
        }
    }

    void check_node(size_t n)
    {
        const node &a = nodes_[n];
        micro_instruction first = decode(words_.at(a.address));
        facts out = after(first, a.in);
        if (a.stack.empty() && roots_.count(a.address)) check_test(nullptr, a.address, first, a.in);
        for (const successor &s : successors(a.address, first, a.in, a.stack)) {
            auto next = index_.find({s.address, s.stack});
            if (next == index_.end()) continue;
            micro_instruction second = decode(words_.at(s.address));
            check_pair(a.address, first, a.in, out, s.address, second);
            check_test(&a, s.address, second, nodes_[next->second].in);
        }
    }

    void check_pair(uint32_t a, const micro_instruction &first, const facts &in, const facts &out, uint32_t b,
                    const micro_instruction &second)
    {
        const std::string l_mem = clause(LEFT_BUS, LBF_MEMORY_DATA), l_iobus = clause(LEFT_BUS, LBF_IOBUS);
        const std::string read = clause(MEMORY_FUNCTION, MMF_READ), write = clause(MEMORY_FUNCTION, MMF_WRITE);
        const std::string start = clause(EXTRA_FUNCTION, EXF_STARTIO), to_io = clause(EXTRA_FUNCTION, EXF_TOIO);
        bool second_starts_memory = second.MMF == MMF_READ || second.MMF == MMF_WRITE;

        if (second.LBF == LBF_MEMORY_DATA && first.MMF != MMF_READ && first.MMF != MMF_WRITE)
            warn(a, b, 1,
                 l_mem + " without " + read + " in the micro-instruction before it (" + name(a, b) +
                     "): the machine reports error 18");
        if (first.MMF == MMF_WRITE && second.LBF == LBF_MEMORY_DATA)
            warn(a, b, 2,
                 l_mem + " in the data cycle of the " + write + " of " + name(a, b) +
                     ": the machine reports error 18 and writes the address as the data");
        if (first.MMF == MMF_WRITE && second.LBF == LBF_ZERO && !left_bus_set(b))
            warn(a, b, 3,
                 "no L= for the data of the " + write + " of " + name(a, b) + ": the word written is 0 (write " +
                     clause(LEFT_BUS, LBF_ZERO) + " if that is meant)");
        if (first.MMF == MMF_READ && second_starts_memory && second.LBF != LBF_MEMORY_DATA)
            warn(a, b, 4,
                 clause(MEMORY_FUNCTION, second.MMF) + " while the word of the " + read + " of " + name(a, b) +
                     " is not taken (" + l_mem + "): that word is lost");
        if (first.MMF == MMF_WRITE && second_starts_memory)
            warn(a, b, 5,
                 clause(MEMORY_FUNCTION, second.MMF) + " in the data cycle of the " + write + " of " + name(a, b) +
                     ": the left bus is both the word written and the new address");

        // I/O: only where IR is known to hold an input or output instruction.
        if (first.EXF == EXF_STARTIO && in.io_is(IO_OUTPUT) && second.EXF != EXF_TOIO && !out.iobus_put)
            warn(a, b, 6,
                 "the printer takes its byte from the I/O bus here, for the output " + start + " of " + name(a, b) +
                     ", and no " + to_io + " has put one there on this path: it takes the value the bus still holds");
        if (first.EXF == EXF_STARTIO && in.io_is(IO_INPUT) && second.LBF != LBF_IOBUS &&
            (second.EXF == EXF_TOIO || (second.EXF == EXF_STARTIO && out.io_is(IO_INPUT))))
            warn(a, b, 7,
                 clause(EXTRA_FUNCTION, second.EXF) + " right after the input " + start + " of " + name(a, b) +
                     " without taking its byte (" + l_iobus + "): the byte read there is lost");
        if (second.EXF == EXF_STARTIO && second.LBF == LBF_IOBUS && out.io_is(IO_INPUT) && first.EXF != EXF_STARTIO &&
            first.EXF != EXF_TOIO)
            warn(a, b, 8,
                 l_iobus + " in the micro-instruction that starts an input, and " + name(a, b) +
                     " before it starts none: the byte read arrives only in the next micro-instruction; "
                     "this one takes the value the bus still holds");
    }

    // The note on a test of what its own micro-instruction changes. `prior`
    // is the node of the micro-instruction before `second` on one path
    // (none: the run starts at `second`).
    void check_test(const node *prior, uint32_t b, const micro_instruction &second, const facts &in)
    {
        tested what = tested_by(second);
        if (what == tested::none || !sets(second, in.ir, what)) return;
        if (prior && sets(decode(words_.at(prior->address)), prior->in.ir, what)) return;
        std::string test = what == tested::IR ? "the dispatch on IR" : std::string("the test of ") + name_of(what);
        std::string before = prior ? name(prior->address, b) + " before it on this path sets no " + name_of(what)
                                   : "where a run starts, no micro-instruction before it has set it";
        std::string reason = test + " sees the value from before this micro-instruction, not the one its " +
                             changer(second, in.ir, what) + " gives (" + before + "); mark the line " +
                             TIMING_INTENDED_MARK + " if that is meant";
        findings_.try_emplace({b, UINT32_MAX, 100 + static_cast<int>(what)},
                              timing_warning{prior ? prior->address : b, b, position(b), reason, severity::note});
    }

    // False when the second word's source left the left bus at its default.
    bool left_bus_set(uint32_t b) const
    {
        auto it = fields_set_.find(b);
        return it == fields_set_.end() || field_of(it->second, FIELD_LBF) != 0;
    }

    source_position position(uint32_t address) const
    {
        auto it = positions_.find(address);
        return it == positions_.end() ? source_position{} : it->second;
    }

    // The first word as the message on the second names it: "line 12",
    // "other.masm:12" or, without a position, "address 0x012".
    std::string name(uint32_t first, uint32_t second) const
    {
        auto a = positions_.find(first), b = positions_.find(second);
        if (a == positions_.end()) return "address " + hex_text(first, 3);
        if (b != positions_.end() && b->second.file == a->second.file) return "line " + std::to_string(a->second.line);
        return a->second.file + ":" + std::to_string(a->second.line);
    }

    void warn(uint32_t a, uint32_t b, int rule, const std::string &reason)
    {
        findings_.try_emplace({b, a, rule}, timing_warning{a, b, position(b), reason, severity::warning});
    }

    const std::map<uint32_t, uint64_t> &words_;
    const std::map<uint32_t, source_position> &positions_;
    const std::map<uint32_t, uint64_t> &fields_set_;
    std::vector<node> nodes_;
    std::map<std::pair<uint32_t, return_stack>, size_t> index_;
    std::deque<size_t> queue_;
    std::set<uint32_t> roots_;
    // By second word, first word and rule: one message for all the paths.
    std::map<std::tuple<uint32_t, uint32_t, int>, timing_warning> findings_;
};

}  // namespace

std::vector<timing_warning> check_timing(const std::map<uint32_t, uint64_t> &words,
                                         const std::map<uint32_t, source_position> &positions,
                                         const std::map<uint32_t, uint64_t> &fields_set)
{
    return analysis(words, positions, fields_set).run();
}
