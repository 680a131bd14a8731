// Time travel through the C interface, held to the machine's definition: on
// random control-memory images that read a card deck and print, a reference
// made of micro-cycles alone notes what the interface shows after every step;
// the history under test, recorded by runs of random lengths in random slices,
// is sought back and forth and must show exactly that. The reverse questions
// are compared with a scan of the reference.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "api/history.hpp"
#include "api/kalvo3_api.h"
#include "core/micro_cycle.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

// What the interface shows, hashed where it is large.
struct shown {
    std::vector<uint32_t> registers;   // every register but STOP, by number
    uint64_t cm = 0, mm = 0, printer = 0;
    uint32_t printer_length = 0, cards = 0;
};

// A hash of 8 bytes at a time (the rest byte by byte).
uint64_t hash_bytes(const void *data, size_t size, uint64_t h = 1469598103934665603ull)
{
    const auto *p = static_cast<const unsigned char *>(data);
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        memcpy(&word, p + i, 8);
        h = (h ^ word) * 0x100000001b3ull;
        h ^= h >> 29;
    }
    for (; i < size; i++) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

int stop_register() { return k3_register("STOP"); }

shown look()
{
    shown s;
    for (int r = 0; r < k3_register_count(); r++)
        if (r != stop_register()) s.registers.push_back(k3_get(r));
    static uint32_t cm[CM_WORDS][2];
    for (uint32_t a = 0; a <= CM_LIMIT; a++) cm[a][0] = k3_cm_high(a), cm[a][1] = k3_cm_low(a);
    s.cm = hash_bytes(cm, sizeof cm);
    s.mm = hash_bytes(k3_mm(), MM_WORDS * sizeof(uint16_t));
    s.printer_length = k3_printer_length();
    s.printer = hash_bytes(k3_printer_text(), s.printer_length);
    s.cards = k3_cards_position();
    return s;
}

void expect_same(const shown &got, const shown &want, const std::string &where)
{
    for (size_t r = 0; r < want.registers.size(); r++) {
        const int reg = static_cast<int>(r) + (static_cast<int>(r) >= stop_register());
        EXPECT_EQ(got.registers[r], want.registers[r]) << where << " " << k3_register_name(reg);
    }
    EXPECT_EQ(got.cm, want.cm) << where << " control memory";
    EXPECT_EQ(got.mm, want.mm) << where << " main memory";
    EXPECT_EQ(got.printer_length, want.printer_length) << where << " printer length";
    EXPECT_EQ(got.printer, want.printer) << where << " printer text";
    EXPECT_EQ(got.cards, want.cards) << where << " card position";
}

// One main-memory word's change in the reference: after `step`.
struct mm_change {
    uint64_t step;
    uint32_t address;
};

class HistoryTest : public ::testing::Test {
protected:
    std::mt19937_64 rng{20261210};
    unsigned pick(unsigned n) { return static_cast<unsigned>(rng() % n); }
    bool chance(unsigned percent) { return pick(100) < percent; }

    // The machine every image starts from, made through the interface.
    std::vector<std::pair<uint32_t, uint64_t>> cm_words;
    std::vector<std::pair<uint32_t, uint16_t>> mm_words;
    std::vector<std::pair<int, uint32_t>> register_values;
    std::vector<uint32_t> break_addresses;
    std::string deck;

    // The reference: what is shown after each step, the word each step ran,
    // whether it started a memory write, and the memory changes.
    std::vector<shown> reference;
    std::vector<uint32_t> word_of_step;   // [t]: CMAR the step t ran from
    std::vector<bool> started_write;      // [t]: step t started a write
    std::vector<mm_change> mm_changes;

    void TearDown() override { history_configure(uint64_t{1} << 20, 256); }

    uint64_t plausible_word(uint32_t base)
    {
        static constexpr int EXF[] = {0, 1, 2, 3, 5, 5, 6, 7, 7, 7, 8, 9, 10, 11, 15, 15, 15};
        micro m;
        m.lbf = static_cast<int>(pick(16));
        m.rbf = static_cast<int>(pick(12));
        m.alf = static_cast<int>(pick(8));
        m.shf = static_cast<int>(chance(50) ? 6 : pick(8));
        m.sbf = static_cast<int>(chance(20) ? 15 : pick(13));
        m.mmf = static_cast<int>(chance(30) ? 1 : pick(4));
        // Jumps, tests, calls and returns within the image's 32 words, no
        // dispatch (it would leave them).
        static constexpr int SQF[] = {SQF_CONTINUE,     SQF_CONTINUE,      SQF_CONTINUE,     SQF_JUMP,
                                      SQF_JUMP_IF_TRUE, SQF_JUMP_IF_FALSE, SQF_JUMP_IF_TRUE, SQF_JUMP_IF_FALSE,
                                      SQF_CALL,         SQF_RETURN};
        m.sqf = SQF[pick(std::size(SQF))];
        m.exf = chance(1) ? 13 : EXF[pick(std::size(EXF))];
        m.tsf = static_cast<int>(pick(8));
        m.adf = static_cast<int>((base & 0x1FF) + pick(32)) & 0x1FF;
        return m.word();
    }

    void random_image()
    {
        cm_words.clear(), mm_words.clear(), register_values.clear(), break_addresses.clear();
        const uint32_t base = pick(CM_WORDS - 64) & ~0x1FFu;
        for (uint32_t i = 0; i < 32; i++) cm_words.push_back({base + i, plausible_word(base)});
        for (int i = 0; i < 40; i++) mm_words.push_back({pick(64), static_cast<uint16_t>(rng())});
        register_values.push_back({k3_register("CMAR"), base + pick(32)});
        register_values.push_back({k3_register("IR"), chance(50) ? 0xED01 : 0xEC00});
        register_values.push_back({k3_register("MAR"), pick(64)});
        for (int r = 0; r < 8; r++) register_values.push_back({r, static_cast<uint32_t>(pick(64))});
        for (const char *entry : {"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7"})   // power on keeps them
            register_values.push_back({k3_register(entry), base + pick(32)});
        register_values.push_back({k3_register("SP"), pick(STACK_DEPTH + 1)});
        if (chance(30)) break_addresses.push_back(base + pick(32));
        deck.clear();
        for (unsigned i = 0, n = pick(60); i < n; i++) deck += static_cast<char>(rng());
    }

    void set_up_machine()
    {
        k3_power_on();
        M.current = micro_instruction{};   // power on keeps the last cycle's fields
        for (auto [a, w] : cm_words) k3_cm_set(a, static_cast<uint32_t>(w >> 32), static_cast<uint32_t>(w));
        for (auto [a, v] : mm_words) k3_mm_set(a, v);
        for (auto [r, v] : register_values) k3_set(r, v);
        for (uint32_t a : break_addresses) k3_break_set(a);
        k3_cards_set(deck.data(), static_cast<uint32_t>(deck.size()));
    }

    // The reference of `steps` steps: micro-cycles alone, one at a time.
    void make_reference(uint64_t steps)
    {
        set_up_machine();
        reference.assign(1, look());
        word_of_step.assign(1, 0);
        started_write.assign(1, false);
        mm_changes.clear();
        std::vector<uint16_t> before(M.MM, M.MM + MM_WORDS);
        for (uint64_t t = 1; t <= steps; t++) {
            word_of_step.push_back(M.CMAR);
            M.stop_flag = 0;
            micro_cycle();
            started_write.push_back(M.current.MMF == 1);
            if (memcmp(before.data(), M.MM, sizeof M.MM) != 0)
                for (uint32_t a = 0; a < MM_WORDS; a++)
                    if (before[a] != M.MM[a]) mm_changes.push_back({t, a}), before[a] = M.MM[a];
            reference.push_back(look());
        }
        k3_console_clear();
    }

    // Runs of random lengths until `steps` steps from the present are made
    // (or the history's end passed), stopping for nothing.
    void run_on(uint64_t steps)
    {
        uint64_t made = 0;
        while (made < steps) {
            const uint32_t slice = 1 + pick(chance(20) ? 200 : 40);
            k3_run(std::min<uint64_t>(slice, steps - made), 0);
            made += k3_steps();
        }
    }

    // The brute-force answers from the reference, as of present `p`.
    uint64_t last_register_change(int reg, uint64_t p, uint32_t &word)
    {
        const size_t index = static_cast<size_t>(reg - (reg > stop_register()));
        for (uint64_t t = p; t > 0; t--)
            if (reference[t].registers[index] != reference[t - 1].registers[index]) return word = word_of_step[t], t;
        return 0;
    }
    uint64_t last_mm_change(uint32_t address, uint64_t p, uint32_t &word, uint32_t &starter)
    {
        for (auto it = mm_changes.rbegin(); it != mm_changes.rend(); ++it) {
            if (it->address != address || it->step > p) continue;
            word = word_of_step[it->step];
            starter = K3_FIND_UNKNOWN;
            for (uint64_t u = it->step - 1; u > 0; u--)
                if (started_write[u]) {
                    starter = word_of_step[u];
                    break;
                }
            return it->step;
        }
        return 0;
    }
    bool last_at_address(uint32_t address, uint64_t p, uint64_t &step)
    {
        for (uint64_t t = p; t-- > 0;)
            if (reference[t].registers[static_cast<size_t>(k3_register("CMAR"))] == address) return step = t, true;
        return false;
    }

    // A new random image with a reference of steps_from + pick(spread)
    // steps, a history of small intervals and few snapshots (seeks restore,
    // thinning drops) and the machine set up: returns the steps.
    uint64_t new_image(unsigned steps_from, unsigned spread, unsigned interval, unsigned snapshots)
    {
        random_image();
        const uint64_t steps = steps_from + pick(spread);
        make_reference(steps);
        history_configure(1 + pick(interval), 4 + pick(snapshots));
        set_up_machine();
        return steps;
    }

    // Asks a question to its end in slices of `budget` steps.
    int ask(int kind, uint32_t what, uint64_t budget)
    {
        EXPECT_EQ(k3_find_start(kind, what), 1);
        int status;
        uint64_t searched = 0;
        while ((status = k3_find_continue(budget)) == K3_FIND_RUNNING) {
            EXPECT_GT(k3_find_searched(), searched) << "progress";
            searched = k3_find_searched();
        }
        EXPECT_LE(k3_find_searched(), k3_find_span());
        return status;
    }
};

TEST_F(HistoryTest, SeeksShowWhatAFreshRunShows)
{
    for (int image = 0; image < 24; image++) {
        const uint64_t steps = new_image(300, 1200, 40, 12);
        ASSERT_EQ(k3_position(), 0u);
        uint64_t end = 0;
        for (int move = 0; move < 30; move++) {
            const std::string where = "image " + std::to_string(image) + " move " + std::to_string(move);
            const std::string console = k3_console_text();
            if (chance(40) && k3_position() < steps) {
                run_on(std::min<uint64_t>(steps - k3_position(), 1 + pick(300)));
            } else {
                const uint64_t target = chance(10) ? end : pick(static_cast<unsigned>(end + 1));
                ASSERT_EQ(k3_seek(target), 1) << where;
                EXPECT_EQ(k3_steps(), static_cast<uint32_t>(target)) << where;
                EXPECT_EQ(k3_console_text(), console) << where << ": a seek repeats no console text";
            }
            end = k3_history_end();
            ASSERT_LE(k3_position(), steps) << where;
            ASSERT_GE(end, k3_position()) << where;
            expect_same(look(), reference[k3_position()], where + " at " + std::to_string(k3_position()));
            if (HasFailure()) return;

            // Beyond the end nothing changes; nor does a question.
            const uint64_t at = k3_position();
            const std::string console_now = k3_console_text();
            EXPECT_EQ(k3_seek(end + 1 + pick(5)), 0) << where;
            if (chance(25)) ask(K3_FIND_MM_WORD, pick(64), 1 + pick(100));
            EXPECT_EQ(k3_position(), at) << where;
            expect_same(look(), reference[at], where + " after a seek beyond the end or a question");
            EXPECT_EQ(k3_console_text(), console_now) << where << ": nor a question";
        }
        // Memory stays within the snapshots allowed.
        EXPECT_LT(k3_history_memory(), 20u * 200 * 1024) << "image " << image;
    }
}

TEST_F(HistoryTest, QuestionsAnswerAsABruteForceScan)
{
    for (int image = 0; image < 16; image++) {
        const uint64_t steps = new_image(200, 800, 60, 8);
        run_on(steps);
        {   // every register and every word the program wrote, at one step
            const uint64_t p = pick(static_cast<unsigned>(k3_history_end() + 1));
            ASSERT_EQ(k3_seek(p), 1);
            std::vector<bool> written(MM_WORDS);
            for (const mm_change &c : mm_changes) written[c.address] = true;
            for (uint32_t address = 0; address < MM_WORDS; address++) {
                if (!written[address]) continue;
                uint32_t word = 0, starter = 0;
                const uint64_t want = last_mm_change(address, p, word, starter);
                EXPECT_EQ(ask(K3_FIND_MM_WORD, address, UINT64_MAX), want ? K3_FIND_FOUND : K3_FIND_NONE)
                    << "word " << address;
                EXPECT_EQ(k3_find_step(), want) << "word " << address;
                EXPECT_EQ(k3_find_word(), word) << "word " << address;
                EXPECT_EQ(k3_find_starter(), starter) << "word " << address;
            }
            for (int reg = 0; reg < k3_register_count(); reg++) {
                if (reg == stop_register()) continue;
                uint32_t word = 0;
                const uint64_t want = last_register_change(reg, p, word);
                EXPECT_EQ(ask(K3_FIND_REGISTER, static_cast<uint32_t>(reg), UINT64_MAX),
                          want ? K3_FIND_FOUND : K3_FIND_NONE)
                    << k3_register_name(reg);
                EXPECT_EQ(k3_find_step(), want) << k3_register_name(reg);
                EXPECT_EQ(k3_find_word(), word) << k3_register_name(reg);
            }
        }
        for (int question = 0; question < 12; question++) {
            const uint64_t p = pick(static_cast<unsigned>(k3_history_end() + 1));
            ASSERT_EQ(k3_seek(p), 1);
            const std::string where = "image " + std::to_string(image) + " at " + std::to_string(p);
            const uint64_t budget = chance(50) ? UINT64_MAX : 1 + pick(50);
            switch (pick(3)) {
            case 0: {
                int reg = static_cast<int>(pick(static_cast<unsigned>(k3_register_count())));
                if (reg == stop_register()) reg = 0;
                uint32_t word = 0;
                const uint64_t want = last_register_change(reg, p, word);
                const int status = ask(K3_FIND_REGISTER, static_cast<uint32_t>(reg), budget);
                EXPECT_EQ(status, want ? K3_FIND_FOUND : K3_FIND_NONE) << where << " " << k3_register_name(reg);
                EXPECT_EQ(k3_find_step(), want) << where << " " << k3_register_name(reg);
                if (want) {
                    EXPECT_EQ(k3_find_word(), word) << where << " " << k3_register_name(reg);
                }
                break;
            }
            case 1: {
                // A word the program wrote, when it wrote any.
                const uint32_t address = mm_changes.empty() || chance(20)
                                             ? pick(64)
                                             : mm_changes[pick(static_cast<unsigned>(mm_changes.size()))].address;
                uint32_t word = 0, starter = 0;
                const uint64_t want = last_mm_change(address, p, word, starter);
                const int status = ask(K3_FIND_MM_WORD, address, budget);
                EXPECT_EQ(status, want ? K3_FIND_FOUND : K3_FIND_NONE) << where << " word " << address;
                EXPECT_EQ(k3_find_step(), want) << where << " word " << address;
                if (want) {
                    EXPECT_EQ(k3_find_word(), word) << where << " word " << address;
                    EXPECT_EQ(k3_find_starter(), starter) << where << " word " << address;
                }
                break;
            }
            default: {
                const uint32_t address = word_of_step[1 + pick(static_cast<unsigned>(steps))];
                uint64_t want = 0;
                const bool found = last_at_address(address, p, want);
                EXPECT_EQ(ask(K3_FIND_ADDRESS, address, budget), found ? K3_FIND_FOUND : K3_FIND_NONE) << where;
                EXPECT_EQ(k3_find_step(), want) << where << " address " << address;
                break;
            }
            }
            expect_same(look(), reference[p], where + " after the question");
            if (HasFailure()) return;
        }
    }
}

// Changes from outside start a new history; a question of the old one is
// lost; a run after a seek back keeps the later history.
TEST_F(HistoryTest, OutsideChangesStartANewHistory)
{
    random_image();
    make_reference(400);
    history_configure(16, 8);
    struct change {
        const char *name;
        void (*make)();
        bool always;   // a change look() cannot see, or one that always counts
    };
    const change changes[] = {
        {"register", [] { k3_set(0, k3_get(0) ^ 1); }, true},
        {"mm word", [] { k3_mm_set(7, k3_mm_get(7) ^ 1); }, true},
        {"cm word", [] { k3_cm_set(5, k3_cm_high(5), k3_cm_low(5) ^ 1); }, true},
        {"break point", [] { k3_break_set(0x123); }, false},   // where runs stop, not a state: the history goes on
        {"deck", [] { k3_cards_set("x", 1); }, true},
        {"rewind", [] { k3_cards_rewind(); }, false},
        {"printer", [] { k3_printer_clear(); }, false},
        {"reset", [] { k3_reset(); }, false},
        {"load", [] { k3_load_text("MM\n0010 1234\n"); }, false},
        {"power on", [] { k3_power_on(); }, true},
    };
    for (const change &c : changes) {
        set_up_machine();
        run_on(300);
        ASSERT_EQ(k3_seek(250), 1);
        run_on(20);   // again through recorded states: the end is kept
        EXPECT_EQ(k3_position(), 270u) << c.name;
        EXPECT_GE(k3_history_end(), 300u) << c.name;
        expect_same(look(), reference[270], c.name);
        ASSERT_EQ(k3_find_start(K3_FIND_ADDRESS, 0), 1);
        const shown before = look();
        c.make();
        const shown after = look();
        const bool changed = c.always || after.registers != before.registers || after.mm != before.mm ||
                             after.printer_length != before.printer_length || after.cards != before.cards;
        if (!changed) {   // it left the machine as it was (a deck not read yet, say): the history goes on
            EXPECT_EQ(k3_position(), 270u) << c.name;
            continue;
        }
        EXPECT_EQ(k3_position(), 0u) << c.name;
        EXPECT_EQ(k3_history_end(), 0u) << c.name;
        EXPECT_EQ(k3_find_continue(1000), K3_FIND_LOST) << c.name;
        EXPECT_EQ(k3_seek(1), 0) << c.name;
    }
}

// The run bookkeeping after a seek is as a run stopping there leaves it.
TEST_F(HistoryTest, SeekLeavesTheStopOfItsLastStep)
{
    k3_power_on();
    micro plain, input, halt;
    input.exf = 7;   // IR = EC00: input from the empty deck, ERROR 12 in the cycle after
    halt.exf = 13;
    const micro program[] = {plain, input, plain, halt, plain, plain, plain};
    for (uint32_t a = 0; a < std::size(program); a++)
        k3_cm_set(a, static_cast<uint32_t>(program[a].word() >> 32), static_cast<uint32_t>(program[a].word()));
    k3_set(k3_register("IR"), 0xEC00);
    k3_break_set(5);
    const int stop = stop_register();
    // Step 1 runs 000, 2 runs 001 (starts the input), 3 runs 002 (the input
    // ends: ERROR 12), 4 runs 003 (halt), 5 runs 004 and reaches the break
    // point at 005, 6 runs 005 (its run stopped before it too).
    while (k3_history_end() < 7) k3_run(10, 0);
    struct expected {
        uint64_t step;
        uint32_t stop;
        int error;
    };
    const expected table[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0},  {3, 1, 12}, {4, 1, 0},
                              {5, 1, 0}, {6, 0, 0}, {3, 1, 12}, {2, 0, 0}};
    for (const expected &e : table) {
        ASSERT_EQ(k3_seek(e.step), 1);
        EXPECT_EQ(k3_get(stop), e.stop) << "step " << e.step;
        EXPECT_EQ(k3_last_error(), e.error) << "step " << e.step;
        EXPECT_EQ(k3_steps(), e.step);
    }
    // Break points moved after the runs keep the history, and a seek stops
    // at the ones set now: 002 instead of 005.
    k3_break_clear(5);
    k3_break_set(2);
    EXPECT_GE(k3_history_end(), 7u);
    const expected moved[] = {{2, 1, 0}, {5, 0, 0}, {1, 0, 0}, {3, 1, 12}, {6, 0, 0}};
    for (const expected &e : moved) {
        ASSERT_EQ(k3_seek(e.step), 1) << "step " << e.step;
        EXPECT_EQ(k3_get(stop), e.stop) << "moved, step " << e.step;
        EXPECT_EQ(k3_last_error(), e.error) << "moved, step " << e.step;
        EXPECT_EQ(k3_break_at(2), 1) << "moved, step " << e.step;
        EXPECT_EQ(k3_break_at(5), 0) << "moved, step " << e.step;
    }
}

// Undo restores the printer text of its record, also after the printer was
// cleared or cut by a seek.
TEST_F(HistoryTest, UndoBringsBackThePrinterText)
{
    k3_power_on();
    micro print;   // starts an output and jumps to itself: a byte every step
    print.exf = 7, print.sqf = 0, print.adf = 0;
    k3_cm_set(0, static_cast<uint32_t>(print.word() >> 32), static_cast<uint32_t>(print.word()));
    k3_set(k3_register("IR"), 0xED01);
    const auto printed = [] { return std::string(k3_printer_text(), k3_printer_length()); };
    k3_run(11, 0);
    const std::string first = printed();
    ASSERT_EQ(first.size(), 10u);
    k3_checkpoint();
    k3_run(10, 0);
    k3_checkpoint();
    const std::string second = printed();
    k3_printer_clear();
    ASSERT_EQ(k3_undo(), 1);
    EXPECT_EQ(printed(), second);
    k3_checkpoint();
    k3_run(5, 0);
    // The undo put the machine back as the history's present left it, so the
    // history went on from power on: step 1 printed nothing yet.
    ASSERT_EQ(k3_seek(1), 1);   // cuts the text that the last record still needs
    EXPECT_EQ(k3_printer_length(), 0u);
    ASSERT_EQ(k3_undo(), 1);
    EXPECT_EQ(printed(), second);
    ASSERT_EQ(k3_undo(), 1);
    EXPECT_EQ(printed(), first);
    EXPECT_EQ(k3_undo(), 0);
}

TEST_F(HistoryTest, QuestionsRefuseWhatTheyCannotAsk)
{
    k3_power_on();
    EXPECT_EQ(k3_find_start(K3_FIND_REGISTER, static_cast<uint32_t>(k3_register_count())), 0);
    EXPECT_EQ(k3_find_start(K3_FIND_REGISTER, static_cast<uint32_t>(stop_register())), 0);
    EXPECT_EQ(k3_find_start(K3_FIND_MM_WORD, MM_WORDS), 0);
    EXPECT_EQ(k3_find_start(7, 0), 0);
    EXPECT_EQ(k3_find_start(K3_FIND_ADDRESS, 0), 1);
    EXPECT_EQ(k3_find_continue(10), K3_FIND_NONE);   // an empty history

    // A budget of 0 still replays an interval: a loop of calls ends.
    history_configure(4, 8);
    k3_run(20, 0);   // zero control memory: CMAR stays 000
    ASSERT_EQ(k3_find_start(K3_FIND_ADDRESS, 1), 1);
    int status = K3_FIND_RUNNING;
    for (int call = 0; call < 10 && status == K3_FIND_RUNNING; call++) status = k3_find_continue(0);
    EXPECT_EQ(status, K3_FIND_NONE);
    EXPECT_EQ(k3_find_searched(), 20u);
}

}   // namespace
