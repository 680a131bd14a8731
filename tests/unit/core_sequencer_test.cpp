// The sequencer: every next-address mode, the test conditions, the CMAR
// return stack and its faults.
#include "core/micro_cycle.hpp"
#include "core/sequencer.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

class SequencerTest : public CoreTest {
protected:
    uint32_t next(uint32_t cur, micro fields)
    {
        fields.decode();
        M.CMAR = cur;
        sequence_next();
        return M.CMAR;
    }
};

}  // namespace

TEST_F(SequencerTest, WorkedExamples)
{
    EXPECT_EQ(next(0x000, {.sqf = 0, .tsf = 5, .adf = 0x034}), 0xA34u);

    EXPECT_EQ(next(0x123, {.sqf = 1, .tsf = 2, .adf = 0x050}), 0x450u);
    EXPECT_EQ(M.cmar_stack[0], 0x124);
    EXPECT_EQ(M.cmar_sp, 1);
    EXPECT_EQ(next(0x450, {.sqf = 2}), 0x124u);
    EXPECT_EQ(M.cmar_sp, 0);

    M.ZER = 1;
    EXPECT_EQ(next(0x5F0, {.sqf = 3, .tsf = 0, .adf = 0x010}), 0x410u);
    M.ZER = 0;
    EXPECT_EQ(next(0x5F0, {.sqf = 3, .tsf = 0, .adf = 0x010}), 0x5F1u);

    M.IR = 0xA3C5;
    EXPECT_EQ(next(0x000, {.sqf = 5, .adf = 0x012}), 0x12Au);
    EXPECT_EQ(next(0x000, {.sqf = 5, .adf = 0x1F3}), 0xF3Au);

    M.IR = 0x0C00;
    EXPECT_EQ(next(0x000, {.sqf = 6, .tsf = 1, .adf = 0x0A5}), 0xA9Du);
    EXPECT_EQ(next(0x000, {.sqf = 6, .tsf = 0, .adf = 0x0A5}), 0x29Du);
    M.IR = 0xF3FF;
    EXPECT_EQ(next(0x000, {.sqf = 6, .tsf = 1, .adf = 0x0A5}), 0xA91u);

    M.IR = 0x0F00;
    EXPECT_EQ(next(0x000, {.sqf = 7, .tsf = 1, .adf = 0x0A5}), 0xABDu);
    EXPECT_EQ(next(0x000, {.sqf = 7, .tsf = 0, .adf = 0x0A5}), 0x2BDu);
    M.IR = 0xF0FF;
    EXPECT_EQ(next(0x000, {.sqf = 7, .tsf = 1, .adf = 0x0A5}), 0xA81u);

    EXPECT_EQ(next(0x7FF, {.sqf = 8, .tsf = 7}), 0u);
    EXPECT_EQ(errors(), none());
    EXPECT_EQ(next(0x7FF, {.sqf = 8, .tsf = 6, .adf = 0x020}), 0x620u);
    EXPECT_EQ(errors(), (std::vector<int>{1}));
}

TEST_F(SequencerTest, TestConditions)
{
    struct {
        int tsf;
        int *flag;
    } const flag_tests[] = {{0, &M.ZER}, {1, &M.NEG}, {2, &M.CRY}, {3, &M.OVR}, {4, &M.T}};
    for (const auto &t : flag_tests) {
        M.ZER = M.NEG = M.CRY = M.OVR = M.T = 1;
        micro{.tsf = t.tsf}.decode();
        EXPECT_EQ(test_condition(), 1) << t.tsf;
        *t.flag = 0;
        EXPECT_EQ(test_condition(), 0) << t.tsf;
    }

    // TSF 5 reads the counter itself, whatever CZ was set to by hand.
    micro{.tsf = 5}.decode();
    M.C = 0, M.CZ = 0;
    EXPECT_EQ(test_condition(), 1);
    M.C = 1, M.CZ = 1;
    EXPECT_EQ(test_condition(), 0);

    micro{.tsf = 7}.decode();
    EXPECT_EQ(test_condition(), 1);
    EXPECT_EQ(errors(), none());
    micro{.tsf = 6}.decode();
    EXPECT_EQ(test_condition(), 0);
    EXPECT_EQ(errors(), (std::vector<int>{1}));
}

TEST_F(SequencerTest, ConditionalJumpsStayInTheirPage)
{
    M.T = 1;
    EXPECT_EQ(next(0xE05, {.sqf = 3, .tsf = 4, .adf = 0x1FF}), 0xFFFu);
    EXPECT_EQ(next(0xE05, {.sqf = 4, .tsf = 4, .adf = 0x1FF}), 0xE06u);
    EXPECT_EQ(next(0xE05, {.sqf = 8, .tsf = 4, .adf = 0x1FF}), 0u);
    M.T = 0;
    EXPECT_EQ(next(0xE05, {.sqf = 3, .tsf = 4, .adf = 0x000}), 0xE06u);
    EXPECT_EQ(next(0xE05, {.sqf = 4, .tsf = 4, .adf = 0x000}), 0xE00u);
    EXPECT_EQ(next(0xE05, {.sqf = 8, .tsf = 4, .adf = 0x0AB}), 0xEABu);
    EXPECT_EQ(errors(), none());
}

// A reserved test counts as false, and the sequence function goes on with it.
TEST_F(SequencerTest, ReservedTestCountsAsFalse)
{
    EXPECT_EQ(next(0x205, {.sqf = 3, .tsf = 6, .adf = 0x010}), 0x206u);
    EXPECT_EQ(next(0x205, {.sqf = 4, .tsf = 6, .adf = 0x010}), 0x210u);
    EXPECT_EQ(errors(), (std::vector<int>{1, 1}));
}

TEST_F(SequencerTest, AddressesPastTheLastWordAreNotWrapped)
{
    M.ZER = 0;
    EXPECT_EQ(next(0xFFF, {.sqf = 15}), 0x1000u);
    EXPECT_EQ(next(0xFFF, {.sqf = 3, .tsf = 0}), 0x1000u);
    EXPECT_EQ(next(0xFFF, {.sqf = 4, .tsf = 7}), 0x1000u);

    EXPECT_EQ(next(0xFFF, {.sqf = 1, .tsf = 0, .adf = 0x010}), 0x010u);
    EXPECT_EQ(M.cmar_stack[0], 0x1000);
    EXPECT_EQ(next(0x010, {.sqf = 2}), 0x1000u);
}

TEST_F(SequencerTest, StackOverflowStillJumps)
{
    for (int level = 0; level < 8; level++)
        EXPECT_EQ(next(0x100 + level, {.sqf = 1, .tsf = 1, .adf = level}), 0x200u + level);
    EXPECT_EQ(M.cmar_sp, 8);
    EXPECT_EQ(errors(), none());

    EXPECT_EQ(next(0x300, {.sqf = 1, .tsf = 7, .adf = 0x1FF}), 0xFFFu);
    EXPECT_EQ(errors(), (std::vector<int>{14}));
    EXPECT_EQ(M.cmar_sp, 8);

    for (int level = 8; level-- > 0;)   // unwinds in reverse, the lost address skipped
        EXPECT_EQ(next(0x400, {.sqf = 2}), 0x101u + level);
    EXPECT_EQ(M.cmar_sp, 0);
}

TEST_F(SequencerTest, ReturnFromEmptyStackStays)
{
    EXPECT_EQ(next(0x345, {.sqf = 2}), 0x345u);
    EXPECT_EQ(M.cmar_sp, 0);
    EXPECT_EQ(M.stop_flag, 1);
    EXPECT_EQ(errors(), (std::vector<int>{2}));
    EXPECT_NE(console().find(" CAN'T POPUP FROM EMPTY CMAR-STACK !\n"), std::string::npos);
}

TEST_F(SequencerTest, ReservedSequenceCodesStay)
{
    for (int sqf = 9; sqf <= 14; sqf++)
        EXPECT_EQ(next(0x321, {.sqf = sqf, .tsf = 7, .adf = 0x1FF}), 0x321u) << sqf;
    EXPECT_EQ(errors(), (std::vector<int>(6, 1)));
}

// The sequencer acts before the ALU of its own cycle: a conditional jump sees
// the flags left by the cycle before, not the ones its own add produces.
TEST_F(SequencerTest, TestsSeeTheFlagsOfThePreviousCycle)
{
    M.ZER = 0;
    M.CM[0x000] = micro{.alf = 0, .sqf = 3, .tsf = 0, .adf = 0x100}.word();   // 0 + 0: ZER 1
    M.CM[0x001] = micro{.sqf = 3, .tsf = 0, .adf = 0x100}.word();
    micro_cycle();
    EXPECT_EQ(M.CMAR, 0x001u);
    EXPECT_EQ(M.ZER, 1);
    micro_cycle();
    EXPECT_EQ(M.CMAR, 0x100u);
}
