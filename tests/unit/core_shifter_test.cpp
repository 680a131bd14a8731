// The shifter: every SHF code, the shift-in bit and its timing, the IR load
// of EXF 4.
#include "core/micro_cycle.hpp"
#include "core/shifter.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

class ShifterTest : public CoreTest {};

}  // namespace

TEST_F(ShifterTest, EveryCode)
{
    struct {
        int shf, exf;
        uint16_t abus, sbus;
        int cry, ovr;   // after the shift
    } const cases[] = {
        {0, 0, 0x8001, 0x0002, 1, 0},
        {0, 3, 0x0000, 0x0001, 0, 0},
        {0, 15, 0x4000, 0x8000, 0, 0},
        {1, 3, 0x0001, 0x8000, 1, 0},
        {1, 0, 0x8000, 0x4000, 0, 0},
        {2, 0, 0x4000, 0x8000, 0, 1},
        {2, 0, 0xC000, 0x8000, 1, 0},
        {2, 3, 0x8000, 0x0001, 1, 1},
        {3, 3, 0x8001, 0xC000, 1, 0},   // the forced shift-in bit is not used
        {3, 3, 0x0002, 0x0001, 0, 0},
        {4, 0, 0x1280, 0xFF80, 1, 0},
        {4, 0, 0x127F, 0x127F, 0, 0},   // high byte kept, not cleared
        {4, 0, 0xFF7F, 0xFF7F, 0, 0},
        {5, 3, 0x1234, 0x3412, 1, 1},
        {7, 3, 0x5A5A, 0x5A5A, 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "shf " << c.shf << " exf " << c.exf << " abus "
                                        << std::hex << c.abus);
        micro{.shf = c.shf, .exf = c.exf}.decode();
        M.ABUS = c.abus;
        // Start each flag at the opposite of what a writing code leaves, so
        // that a code that should keep it is seen keeping it.
        const bool writes_cry = c.shf <= 4, writes_ovr = c.shf == 2;
        M.CRY = writes_cry ? !c.cry : c.cry;
        M.OVR = writes_ovr ? !c.ovr : c.ovr;
        M.ZER = M.NEG = 1;
        shift_operate();
        EXPECT_EQ(M.SBUS, c.sbus);
        EXPECT_EQ(M.CRY, c.cry);
        EXPECT_EQ(M.OVR, c.ovr);
        EXPECT_EQ(M.ZER, 1);
        EXPECT_EQ(M.NEG, 1);
    }
    EXPECT_EQ(errors(), none());
}

TEST_F(ShifterTest, ShiftInBitFollowsCarryFlag)
{
    micro{.shf = 0, .exf = 2}.decode();
    M.ABUS = 0x0000;
    M.CRY = 1;
    shift_operate();
    EXPECT_EQ(M.SBUS, 0x0001);
    EXPECT_EQ(M.CRY, 0);

    micro{.shf = 1, .exf = 2}.decode();
    M.ABUS = 0x0000;
    M.CRY = 1;
    shift_operate();
    EXPECT_EQ(M.SBUS, 0x8000);
}

// The bit shifted in under EXF 2 is the carry that the add of the same cycle
// has just produced, not the one from before the cycle.
TEST_F(ShifterTest, ShiftInTakesCarryOfThisCyclesAdd)
{
    M.R[0] = 0x8000;
    M.R[1] = 0x8001;
    M.CRY = 0;
    M.CM[0] = micro{.lbf = 0, .rbf = 1, .alf = 0, .shf = 0, .sbf = 2, .exf = 2}.word();
    micro_cycle();
    // 0x8000 + 0x8001 + 0 = 0x0001 with carry 1; shifted left with that carry in.
    EXPECT_EQ(M.ABUS, 0x0001);
    EXPECT_EQ(M.R[2], 0x0003);
    EXPECT_EQ(M.CRY, 0);   // bit 15 of ABUS
}

// ZER and NEG come from the ALU and are not recomputed from the shifted value.
TEST_F(ShifterTest, ZeroAndSignStayAsTheAluLeftThem)
{
    M.R[0] = 0x4000;
    M.R[1] = 0x4000;
    M.CM[0] = micro{.lbf = 0, .rbf = 1, .alf = 0, .shf = 0, .sbf = 3, .exf = 0}.word();
    micro_cycle();
    EXPECT_EQ(M.ABUS, 0x8000);
    EXPECT_EQ(M.R[3], 0x0000);
    EXPECT_EQ(M.ZER, 0);
    EXPECT_EQ(M.NEG, 1);
    EXPECT_EQ(M.CRY, 1);
}

TEST_F(ShifterTest, UndefinedCodeStillLoadsIr)
{
    micro{.shf = 6, .exf = 4}.decode();
    M.LBUS = 0x5A5A;
    M.ABUS = 0x1111;
    M.SBUS = 0x2222;
    M.CRY = 1;
    M.OVR = 1;
    shift_operate();
    EXPECT_EQ(M.IR, 0x5A5A);
    EXPECT_EQ(M.SBUS, 0x2222);
    EXPECT_EQ(M.CRY, 1);
    EXPECT_EQ(M.OVR, 1);
    EXPECT_EQ(M.stop_flag, 1);
    EXPECT_EQ(errors(), (std::vector<int>{1}));
}

TEST_F(ShifterTest, IrLoadedOnlyUnderExf4)
{
    for (int exf = 0; exf < 16; exf++) {
        micro{.exf = exf}.decode();
        M.IR = 0x1234;
        M.LBUS = 0xABCD;
        shift_operate();
        EXPECT_EQ(M.IR, exf == 4 ? 0xABCD : 0x1234) << "exf " << exf;
    }
}
