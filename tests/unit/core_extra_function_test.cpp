// The extra functions: counter, flag save, T, IR field steps, halts, and the
// CZ update that ends every cycle.
#include "core/extra_function.hpp"
#include "core/micro_cycle.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

class ExtraFunctionTest : public CoreTest {
protected:
    void perform(int exf)
    {
        micro{.exf = exf}.decode();
        extra_function();
    }
};

}  // namespace

TEST_F(ExtraFunctionTest, CounterDownAndLoad)
{
    M.C = 0;
    perform(0);
    EXPECT_EQ(M.C, 255u);
    EXPECT_EQ(M.CZ, 0);
    M.C = 1;
    perform(0);
    EXPECT_EQ(M.C, 0u);
    EXPECT_EQ(M.CZ, 1);

    M.RBUS = 0x1200;
    M.C = 7;
    perform(6);
    EXPECT_EQ(M.C, 0u);
    EXPECT_EQ(M.CZ, 1);
    M.RBUS = 0xABCD;
    perform(6);
    EXPECT_EQ(M.C, 0xCDu);
    EXPECT_EQ(M.CZ, 0);
}

TEST_F(ExtraFunctionTest, FlagSaveOverwritesFsr)
{
    M.ZER = 1, M.NEG = 0, M.CRY = 1, M.OVR = 1;
    perform(1);
    EXPECT_EQ(M.FSR, 0xB);
    M.ZER = 0, M.NEG = 1, M.CRY = 0, M.OVR = 0;
    perform(1);
    EXPECT_EQ(M.FSR, 0x4);
    M.ZER = M.NEG = M.CRY = M.OVR = 0;
    M.FSR = 0xF;
    perform(1);
    EXPECT_EQ(M.FSR, 0);
}

TEST_F(ExtraFunctionTest, TFlag)
{
    perform(8);
    EXPECT_EQ(M.T, 1);
    perform(8);
    EXPECT_EQ(M.T, 1);
    perform(9);
    EXPECT_EQ(M.T, 0);
}

TEST_F(ExtraFunctionTest, IrFieldStepsWrapWithinTheirField)
{
    struct {
        int exf;
        uint16_t before, after;
    } const cases[] = {
        {10, 0x0C00, 0x0000}, {10, 0xFFFF, 0xF3FF}, {10, 0x0000, 0x0400}, {10, 0x1234, 0x1634},
        {11, 0x0300, 0x0000}, {11, 0xFFFF, 0xFCFF}, {11, 0x0000, 0x0100},
        {12, 0x0000, 0x0300}, {12, 0x1234, 0x1134}, {12, 0xF0FF, 0xF3FF},
    };
    for (const auto &c : cases) {
        M.IR = c.before;
        perform(c.exf);
        EXPECT_EQ(M.IR, c.after) << "exf " << c.exf << " ir " << std::hex << c.before;
    }
}

TEST_F(ExtraFunctionTest, HaltsStopWithAndWithoutTheLamp)
{
    M.OVR = 0;
    perform(14);
    EXPECT_EQ(M.stop_flag, 1);
    EXPECT_EQ(console(), "\n OV LAMP ON !\n");

    M.stop_flag = 0;
    perform(13);
    EXPECT_EQ(M.stop_flag, 1);
    EXPECT_EQ(console(), "\n OV LAMP ON !\n");   // nothing more printed
}

TEST_F(ExtraFunctionTest, CodesActingElsewhereChangeNothingHere)
{
    for (int exf : {2, 3, 4, 5, 15}) {
        M.C = 5, M.T = 1, M.FSR = 0x6, M.IR = 0x0F00, M.CZ = 1;
        perform(exf);
        EXPECT_EQ(M.C, 5u) << exf;
        EXPECT_EQ(M.T, 1) << exf;
        EXPECT_EQ(M.FSR, 0x6) << exf;
        EXPECT_EQ(M.IR, 0x0F00) << exf;
        EXPECT_EQ(M.CZ, 0) << exf;   // recomputed from C whatever the code
        EXPECT_EQ(M.stop_flag, 0) << exf;
    }
    EXPECT_EQ(console(), "");
}

// A counter value set by hand shows in CZ only once a micro-cycle has run.
TEST_F(ExtraFunctionTest, CounterZeroOnlyUpdatedByTheCycle)
{
    M.C = 0;
    M.CZ = 0;
    M.CM[0] = micro{.sqf = 0, .exf = 15}.word();   // jumps to itself
    micro_cycle();
    EXPECT_EQ(M.CZ, 1);
    M.C = 3;
    EXPECT_EQ(M.CZ, 1);
    micro_cycle();
    EXPECT_EQ(M.CZ, 0);
}
