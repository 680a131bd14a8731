// The fast run loop in lockstep with the micro-cycle: from the same machine
// state, fast_run() must leave exactly what calls of micro_cycle() leave,
// print the same reports and move the device files alike, on random control
// memory images: random words, words biased to valid codes that loop within
// a small region, I/O words, with random registers, MAR beyond FFFF, CMAR
// near FFF and beyond, the stack full or empty, transfers in flight, break
// points, and console changes between runs. Runs of one step compare after
// every cycle; longer runs compare at their end. The counting and the
// watching loop are held to the same, and to the counts and the last change
// of the watched value that the micro-cycles make.
//
// KALVO3_LOCKSTEP_IMAGES sets the number of images (bench/run.sh runs many).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "core/fast_loop.hpp"
#include "core/machine_description.hpp"
#include "core/micro_cycle.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

// The machine at the start of a compared run and as the reference left it;
// the steps counted by address, both ways.
MachineState start_state, expected_state;
uint64_t expected_counts[CM_WORDS + 1], counts[CM_WORDS + 1];
// The watched value's last change in the reference run: its step and word.
value_watch expected_watch, watch;

#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned DEFAULT_IMAGES = 30;    // each cycle copies the machine three times
#else
constexpr unsigned DEFAULT_IMAGES = 300;
#endif

class FastLoopTest : public CoreTest {
protected:
    std::mt19937_64 rng{20261209};
    uint64_t cycles = 0;   // compared so far
    bool counting = false;   // the image runs the counting loop, not the plain one
    bool watching = false;   // ... or the watching loop, following watch.at

    unsigned pick(unsigned n) { return static_cast<unsigned>(rng() % n); }
    bool chance(unsigned percent) { return pick(100) < percent; }

    // A word whose codes are mostly defined, with targets near `base`.
    uint64_t plausible_word(uint32_t base)
    {
        static constexpr int SQF[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 15, 15, 15, 15, 0, 3, 4};
        static constexpr int EXF[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 15, 15, 0, 3, 7};
        micro m;
        m.lbf = static_cast<int>(chance(8) ? 12 : pick(16));
        m.rbf = static_cast<int>(chance(3) ? 12 + pick(3) : pick(12));
        m.alf = static_cast<int>(chance(3) ? 6 : pick(8));
        m.shf = static_cast<int>(chance(3) ? 6 : pick(8));
        m.sbf = static_cast<int>(chance(3) ? 13 : pick(16));
        m.mmf = static_cast<int>(pick(4));
        m.sqf = chance(2) ? 9 + static_cast<int>(pick(6)) : SQF[pick(std::size(SQF))];
        m.exf = chance(2) ? 13 + static_cast<int>(pick(2)) : EXF[pick(std::size(EXF))];
        m.tsf = static_cast<int>(chance(5) ? 6 : (base >> 9) & 7);
        if (m.sqf == 3 || m.sqf == 4 || m.sqf == 8) m.tsf = static_cast<int>(chance(5) ? 6 : pick(8));
        m.adf = static_cast<int>((base & 0x1FF) + pick(24)) & 0x1FF;
        return m.word();
    }

    void random_image()
    {
        clear_control_memory();
        const int kind = static_cast<int>(pick(3));
        const uint32_t base = chance(20) ? 0xFE8 + pick(20) : pick(CM_WORDS);
        for (uint32_t i = 0; i < 64; i++) {
            const uint32_t address = (base + i) & CM_LIMIT;
            uint64_t word = kind == 0 ? rng() : plausible_word(base);
            if (kind == 2 && chance(15)) word = with_field(word, FIELD_EXF, chance(80) ? 7 : 5);
            M.CM[address] = word;
        }
        M.CMAR = chance(5) ? 0x1000 + pick(3) : (base + pick(64)) & CM_LIMIT;
    }

    uint16_t random_value()
    {
        static constexpr uint16_t SPECIAL[] = {0xEC00, 0xED01, 0xEC01, 0x0000, 0xFFFF, 0x8000, 0x7FFF};
        return chance(20) ? SPECIAL[pick(std::size(SPECIAL))] : static_cast<uint16_t>(rng());
    }

    void random_state()
    {
        for (uint16_t &r : M.R) r = random_value();
        M.PC = chance(3) ? 0x10000 + pick(16) : random_value();   // as a test may leave it
        M.IR = random_value();
        M.IOBUS = random_value();
        M.LBUS = random_value(), M.RBUS = random_value(), M.ABUS = random_value(), M.SBUS = random_value();
        M.MAR = chance(10) ? 0x10000 + pick(0x100) : random_value();
        M.C = pick(chance(30) ? 2 : 256);
        M.FSR = static_cast<uint16_t>(pick(16));
        M.ZER = chance(50), M.NEG = chance(50), M.CRY = chance(50), M.OVR = chance(50);
        M.CZ = chance(50), M.T = chance(50);
        for (uint16_t &entry : M.cmar_stack) entry = static_cast<uint16_t>(chance(10) ? 0x1000 : pick(CM_WORDS));
        M.cmar_sp = static_cast<int>(pick(STACK_DEPTH + 1));
        M.mem_cycle = static_cast<int>(pick(3));
        M.io_cycle = chance(10) ? static_cast<int>(1 + pick(2)) : 0;
        for (uint32_t i = 0; i < 64; i++) M.MM[pick(MM_WORDS)] = static_cast<uint16_t>(rng());
    }

    void random_break_points()
    {
        for (point_slot &slot : M.break_points) slot.in_use = 0;
        M.break_active = chance(30);
        if (!M.break_active) return;
        for (unsigned i = 0, n = 1 + pick(6); i < n; i++) {   // the same address twice now and then
            const uint32_t near = (M.CMAR + pick(16)) & 0x1FFF;
            M.break_points[pick(POINT_SLOTS)] = {1, static_cast<int32_t>(chance(10) ? 0x1000 : near)};
        }
    }

    // What the operator may change between runs with the console.
    void console_change()
    {
        switch (pick(6)) {
        case 0: M.CM[(M.CMAR + pick(8)) & CM_LIMIT] = chance(50) ? rng() : plausible_word(M.CMAR); break;
        case 1: M.R[pick(REGISTERS)] = random_value(); break;
        case 2: M.IR = random_value(); break;
        case 3: M.MAR = chance(30) ? 0x10000 : random_value(); break;
        case 4: M.ZER = chance(50), M.C = pick(256); break;
        default: random_break_points(); break;
        }
    }

    static uint32_t watched_now()
    {
        if (!watch.at) return 0;
        const machine_register *row = nullptr;
        for (const machine_register &r : MACHINE_REGISTERS)
            if (r.word16 == watch.at || r.word32 == watch.at || r.word_int == watch.at) row = &r;
        if (row && row->word32) return *row->word32;
        if (row && row->word_int) return static_cast<uint32_t>(*row->word_int);
        return *static_cast<const uint16_t *>(watch.at);   // a register or a main-memory word
    }

    static std::string watched_name()
    {
        for (const machine_register &r : MACHINE_REGISTERS)
            if (r.word16 == watch.at || r.word32 == watch.at || r.word_int == watch.at) return r.name;
        return "MM " + std::to_string(static_cast<const uint16_t *>(watch.at) - M.MM);
    }

    // A value the watching loop can follow: a register of the machine's
    // description or a main-memory word, most often one the image writes.
    const void *random_watch()
    {
        if (chance(25)) return &M.MM[chance(50) ? M.MAR & MM_LIMIT : pick(4)];
        for (;;) {
            const machine_register &row = MACHINE_REGISTERS[pick(MACHINE_REGISTER_COUNT)];
            const void *at = row.word16   ? static_cast<const void *>(row.word16)
                             : row.word32 ? static_cast<const void *>(row.word32)
                                          : static_cast<const void *>(row.word_int);
            if (fast_loop_watches(at)) return at;
        }
    }

    // The fast loop's contract made of micro-cycles alone.
    static uint64_t reference_run(uint64_t limit)
    {
        expected_watch.changed_in = 0;
        uint64_t steps = 0;
        for (;;) {
            expected_counts[M.CMAR <= CM_LIMIT ? M.CMAR : CM_WORDS]++;
            const uint32_t word = M.CMAR, before = watched_now();
            micro_cycle();
            steps++;
            if (watched_now() != before) expected_watch.changed_in = steps, expected_watch.changed_by = word;
            if (M.stop_flag || steps == limit) return steps;
            if (!M.break_active) continue;
            if (M.CMAR > CM_LIMIT) return steps;
            for (const point_slot &slot : M.break_points)
                if (slot.in_use && static_cast<uint32_t>(slot.address) == M.CMAR) return steps;
        }
    }

    // Console output since `from`, and the means to take it back.
    static off_t console_mark()
    {
        console_flush();
        return lseek(1, 0, SEEK_CUR);
    }
    static std::string console_since(off_t from)
    {
        const off_t to = console_mark();
        std::string text(static_cast<size_t>(to - from), '\0');
        EXPECT_EQ(pread(1, text.data(), text.size(), from), static_cast<ssize_t>(text.size()));
        return text;
    }
    static void console_back_to(off_t mark)
    {
        console_flush();
        ASSERT_EQ(ftruncate(1, mark), 0);
        lseek(1, mark, SEEK_SET);
    }

    // Runs both ways from the machine as it stands; leaves the reference's
    // result in M. False on the first difference.
    bool lockstep_run(uint64_t limit, const std::string &where)
    {
        const long reader_at = ftell(M.reader_file), printer_at = ftell(M.printer_file);
        const off_t console_at = console_mark();
        start_state = M;
        const uint64_t reference_steps = reference_run(limit);
        cycles += reference_steps;
        fflush(M.printer_file);
        expected_state = M;
        const long reader_after = ftell(M.reader_file), printer_after = ftell(M.printer_file);
        const std::string expected_text = console_since(console_at);

        console_back_to(console_at);
        M = start_state;
        fseek(M.reader_file, reader_at, SEEK_SET);
        fseek(M.printer_file, printer_at, SEEK_SET);
        const uint64_t steps =
            watching ? fast_run_watching(limit, watch) : fast_run(limit, counting ? counts : nullptr);
        fflush(M.printer_file);
        if (counting) {
            EXPECT_EQ(memcmp(counts, expected_counts, sizeof counts), 0) << where << " counts";
        }
        if (watching) {
            EXPECT_EQ(watch.changed_in, expected_watch.changed_in) << where << " change of " << watched_name();
            if (expected_watch.changed_in) {
                EXPECT_EQ(watch.changed_by, expected_watch.changed_by) << where << " change";
            }
        }

        EXPECT_EQ(steps, reference_steps) << where;
        EXPECT_EQ(ftell(M.reader_file), reader_after) << where;
        EXPECT_EQ(ftell(M.printer_file), printer_after) << where;
        EXPECT_EQ(console_since(console_at), expected_text) << where;
        const bool same_state = memcmp(&M, &expected_state, sizeof M) == 0;
        if (!same_state) describe_difference(expected_state, where);
        return !testing::Test::HasFailure() && same_state;
    }

    static void describe_difference(const MachineState &x, const std::string &where)
    {
#define KALVO3_SAME(member) EXPECT_EQ(M.member, x.member) << where << " " #member
        for (int i = 0; i < REGISTERS; i++) EXPECT_EQ(M.R[i], x.R[i]) << where << " R" << i;
        KALVO3_SAME(PC); KALVO3_SAME(IR); KALVO3_SAME(MAR); KALVO3_SAME(CMAR); KALVO3_SAME(C);
        KALVO3_SAME(FSR); KALVO3_SAME(LBUS); KALVO3_SAME(RBUS); KALVO3_SAME(ABUS); KALVO3_SAME(SBUS);
        KALVO3_SAME(IOBUS); KALVO3_SAME(ZER); KALVO3_SAME(NEG); KALVO3_SAME(CRY); KALVO3_SAME(OVR);
        KALVO3_SAME(CZ); KALVO3_SAME(T); KALVO3_SAME(current.MIR); KALVO3_SAME(current.LBF); KALVO3_SAME(current.EXF);
        KALVO3_SAME(current.SQF); KALVO3_SAME(current.ADF); KALVO3_SAME(cmar_sp); KALVO3_SAME(mem_cycle);
        KALVO3_SAME(io_cycle); KALVO3_SAME(stop_flag);
#undef KALVO3_SAME
        EXPECT_EQ(memcmp(M.cmar_stack, x.cmar_stack, sizeof x.cmar_stack), 0) << where << " cmar_stack";
        EXPECT_EQ(memcmp(M.MM, x.MM, sizeof x.MM), 0) << where << " MM";
        ADD_FAILURE() << where << ": machine states differ";
    }
};

// A run with break points returns at each address a break point names,
// whatever the order of the slots and however often an address is named,
// and at every address beyond the control memory; its first step is made
// even at a break point address.
TEST_F(FastLoopTest, ReturnsAtEveryBreakPointAddress)
{
    for (uint32_t address : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 0xFFEu, 0xFFFu}) M.CM[address] = micro{}.word();
    M.break_active = 1;
    M.break_points[4] = {1, 5};
    M.break_points[9] = {1, 5};
    M.break_points[17] = {1, 3};
    M.break_points[20] = {0, 2};   // a freed slot keeps its address
    EXPECT_EQ(fast_run(100), 3u);
    EXPECT_EQ(M.CMAR, 3u);
    EXPECT_EQ(fast_run(100), 2u);
    EXPECT_EQ(M.CMAR, 5u);
    EXPECT_EQ(fast_run(1), 1u);     // from the break point at 5 itself
    EXPECT_EQ(M.CMAR, 6u);

    M.CMAR = 0xFFE;
    EXPECT_EQ(fast_run(100), 2u);   // at 1000: the caller checks far addresses
    EXPECT_EQ(M.CMAR, 0x1000u);
    M.break_active = 0;
    M.CMAR = 0xFFE;
    EXPECT_EQ(fast_run(5), 3u);     // without break points: on to 1000, where the fetch fails
    EXPECT_EQ(M.CMAR, 0x1001u);
    EXPECT_EQ(errors(), std::vector<int>{ERR_CM_LIMIT});
    EXPECT_EQ(M.stop_flag, 1);
}

TEST_F(FastLoopTest, EqualsTheMicroCycleOnRandomImages)
{
    const char *images_text = getenv("KALVO3_LOCKSTEP_IMAGES");
    const unsigned images = images_text ? static_cast<unsigned>(atoi(images_text)) : DEFAULT_IMAGES;
    for (unsigned image = 0; image < images; image++) {
        close_devices();
        M.reader_file = tmpfile();
        M.printer_file = tmpfile();
        ASSERT_TRUE(M.reader_file && M.printer_file);
        for (unsigned n = pick(chance(30) ? 1 : 200); n > 0; n--) putc(static_cast<int>(pick(256)), M.reader_file);
        rewind(M.reader_file);
        random_image();
        random_state();
        random_break_points();
        counting = chance(35);
        watching = !counting && chance(50);
        watch.at = random_watch();
        memset(counts, 0, sizeof counts);
        memset(expected_counts, 0, sizeof expected_counts);

        for (unsigned run = 0; run < 24; run++) {
            const std::string where = "image " + std::to_string(image) + " run " + std::to_string(run);
            M.stop_flag = chance(5);
            if (run % 2 == 0) {   // one cycle at a time, compared after each
                for (unsigned step = 0; step < 40; step++) {
                    if (!lockstep_run(1, where + " step " + std::to_string(step))) return;
                    if (M.stop_flag) break;
                }
            } else {
                const uint64_t limit = 1 + pick(chance(20) ? 20000 : 500);
                if (!lockstep_run(limit, where)) return;
            }
            if (chance(60)) console_change();
        }
    }
    for (const void *at : {static_cast<const void *>(&M.CMAR), static_cast<const void *>(&M.CZ)})
        EXPECT_FALSE(fast_loop_watches(at));   // not kept by the loop: questions step them
    RecordProperty("cycles", std::to_string(cycles));
    EXPECT_GT(cycles, images * 200u);   // the images do run, not stop at once
}

}  // namespace
