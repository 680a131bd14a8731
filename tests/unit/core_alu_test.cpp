// The ALU: add and subtract with carry and borrow, overflow, the logic codes,
// ALF 5 taking the code from IR, and the undefined codes.
#include "core/alu.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

struct flags {
    int zer, neg, cry, ovr;
    bool operator==(const flags &) const = default;
};

flags current_flags() { return {M.ZER, M.NEG, M.CRY, M.OVR}; }

void set_flags(flags f) { M.ZER = f.zer, M.NEG = f.neg, M.CRY = f.cry, M.OVR = f.ovr; }

void operate(int alf, int exf, uint16_t left, uint16_t right)
{
    micro{.alf = alf, .exf = exf}.decode();
    M.LBUS = left;
    M.RBUS = right;
    alu_operate();
}

struct arithmetic_case {
    int exf, cry_before;
    uint16_t left, right, result;
    flags after;
};

class AluTest : public CoreTest {};

}  // namespace

TEST_F(AluTest, AddCarryAndOverflow)
{
    const arithmetic_case cases[] = {
        {0, 0, 0xFFFF, 0x0001, 0x0000, {1, 0, 1, 0}},
        {0, 0, 0x7FFF, 0x0001, 0x8000, {0, 1, 0, 1}},
        {0, 0, 0x8000, 0x8000, 0x0000, {1, 0, 1, 1}},
        {0, 1, 0x1234, 0x0001, 0x1235, {0, 0, 0, 0}},   // EXF 0: CRY is no carry-in
        {3, 0, 0x0000, 0x0000, 0x0001, {0, 0, 0, 0}},
        {2, 1, 0x0000, 0x0000, 0x0001, {0, 0, 0, 0}},
        {2, 0, 0x0000, 0x0000, 0x0000, {1, 0, 0, 0}},
        {3, 0, 0xFFFF, 0x0000, 0x0000, {1, 0, 1, 0}},   // carry-in ripples through every bit
        {3, 0, 0x7FFF, 0x0000, 0x8000, {0, 1, 0, 1}},
        {4, 1, 0x0001, 0x0001, 0x0002, {0, 0, 0, 0}},   // other EXF codes: carry-in 0
    };
    for (const arithmetic_case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.left << " + " << c.right << " exf " << c.exf);
        set_flags({1, 1, c.cry_before, 1});
        operate(0, c.exf, c.left, c.right);
        EXPECT_EQ(M.ABUS, c.result);
        EXPECT_EQ(current_flags(), c.after);
    }
    EXPECT_EQ(errors(), none());
}

TEST_F(AluTest, SubtractBorrowAndOverflow)
{
    const arithmetic_case cases[] = {
        {0, 0, 0x0000, 0x0001, 0xFFFF, {0, 1, 1, 0}},
        {0, 0, 0x8000, 0x0001, 0x7FFF, {0, 0, 0, 1}},
        {0, 0, 0x0005, 0xFFFF, 0x0006, {0, 0, 1, 0}},
        {0, 0, 0x0000, 0x8000, 0x8000, {0, 1, 1, 1}},
        {3, 0, 0x0005, 0x0005, 0xFFFF, {0, 1, 1, 0}},
        {0, 1, 0x0005, 0x0005, 0x0000, {1, 0, 0, 0}},
        {2, 1, 0x0005, 0x0004, 0x0000, {1, 0, 0, 0}},   // borrow fed back by EXF 2
        {2, 0, 0x0005, 0x0004, 0x0001, {0, 0, 0, 0}},
        {3, 0, 0x0000, 0xFFFF, 0x0000, {1, 0, 1, 0}},   // 0 - 0xFFFF - 1: borrow, result 0
        {0, 0, 0x7FFF, 0xFFFF, 0x8000, {0, 1, 1, 1}},
    };
    for (const arithmetic_case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.left << " - " << c.right << " exf " << c.exf);
        set_flags({1, 1, c.cry_before, 1});
        operate(1, c.exf, c.left, c.right);
        EXPECT_EQ(M.ABUS, c.result);
        EXPECT_EQ(current_flags(), c.after);
    }
}

// The add and subtract against a bit-by-bit ripple of the sum and the
// difference, over a spread of operands that hits every carry pattern.
TEST_F(AluTest, ArithmeticMatchesBitRipple)
{
    auto ripple = [](unsigned l, unsigned r, unsigned c, bool subtract) {
        unsigned result = 0;
        for (int i = 0; i < 16; i++) {
            int lb = (l >> i) & 1, rb = (r >> i) & 1;
            int s = subtract ? lb - rb - static_cast<int>(c) : lb + rb + static_cast<int>(c);
            result |= static_cast<unsigned>(s & 1) << i;
            c = subtract ? s < 0 : s >= 2;
        }
        return std::pair{result, c};
    };
    const uint16_t values[] = {0x0000, 0x0001, 0x0002, 0x00FF, 0x0100, 0x3FFF, 0x4000, 0x7FFE,
                               0x7FFF, 0x8000, 0x8001, 0xAAAA, 0x5555, 0xC000, 0xFFFE, 0xFFFF};
    for (int alf : {0, 1})
        for (int exf : {0, 3})
            for (uint16_t l : values)
                for (uint16_t r : values) {
                    SCOPED_TRACE(testing::Message() << std::hex << "alf " << alf << " exf " << exf
                                                    << " " << l << ", " << r);
                    operate(alf, exf, l, r);
                    auto [result, carry] = ripple(l, r, exf == 3, alf == 1);
                    unsigned sign_l = l >> 15, sign_r = r >> 15, sign_a = result >> 15;
                    int overflow = alf == 0 ? sign_l == sign_r && sign_a != sign_l
                                            : sign_l != sign_r && sign_a != sign_l;
                    ASSERT_EQ(M.ABUS, result);
                    ASSERT_EQ(current_flags(),
                              (flags{result == 0, static_cast<int>(sign_a), static_cast<int>(carry),
                                     overflow}));
                }
}

TEST_F(AluTest, LogicCodesSetOnlyZero)
{
    struct {
        int alf;
        uint16_t left, right, result;
    } const cases[] = {
        {2, 0xF0F0, 0x0FF0, 0x00F0}, {2, 0xF000, 0x0FFF, 0x0000},
        {3, 0x8000, 0x0001, 0x8001}, {3, 0x0000, 0x0000, 0x0000},
        {4, 0x1234, 0x1234, 0x0000}, {4, 0xFFFF, 0x0F0F, 0xF0F0},
    };
    for (const auto &c : cases)
        for (int old : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "alf " << c.alf << " old flags " << old);
            set_flags({old, old, old, old});
            operate(c.alf, 3, c.left, c.right);
            EXPECT_EQ(M.ABUS, c.result);
            EXPECT_EQ(current_flags(), (flags{c.result == 0, old, old, old}));
        }
}

TEST_F(AluTest, FlagFreeOrKeepsEveryFlag)
{
    for (int old : {0, 1}) {
        set_flags({old, old, old, old});
        operate(7, 3, 0, 0);
        EXPECT_EQ(M.ABUS, 0);
        EXPECT_EQ(current_flags(), (flags{old, old, old, old}));
        operate(7, 0, 0x1200, 0x0034);
        EXPECT_EQ(M.ABUS, 0x1234);
        EXPECT_EQ(current_flags(), (flags{old, old, old, old}));
    }
}

TEST_F(AluTest, CodeFromInstructionRegister)
{
    M.IR = 0x0000;
    operate(5, 0, 0x7FFF, 0x0001);
    EXPECT_EQ(M.ABUS, 0x8000);
    EXPECT_EQ(current_flags(), (flags{0, 1, 0, 1}));

    M.IR = 0xFF8F;   // bits 6..4 = 0 whatever the rest holds
    operate(5, 0, 0x0001, 0x0002);
    EXPECT_EQ(M.ABUS, 0x0003);

    M.IR = 0x0010;
    operate(5, 0, 0x0000, 0x0001);
    EXPECT_EQ(M.ABUS, 0xFFFF);
    EXPECT_EQ(M.CRY, 1);

    M.IR = 0x0040;
    operate(5, 0, 0x00FF, 0x0F0F);
    EXPECT_EQ(M.ABUS, 0x0FF0);

    set_flags({1, 0, 0, 0});
    M.IR = 0x0070;
    operate(5, 0, 0x0001, 0x0002);
    EXPECT_EQ(M.ABUS, 0x0003);
    EXPECT_EQ(M.ZER, 1);
    EXPECT_EQ(errors(), none());
}

TEST_F(AluTest, UndefinedCodesKeepAbusAndFlags)
{
    for (auto [alf, ir] : {std::pair{6, 0x0000}, {5, 0x0050}, {5, 0x0060}}) {
        SCOPED_TRACE(testing::Message() << "alf " << alf << " ir " << std::hex << ir);
        M.IR = static_cast<uint16_t>(ir);
        M.ABUS = 0xBEEF;
        set_flags({0, 1, 0, 1});
        M.stop_flag = 0;
        operate(alf, 3, 0x0001, 0x0001);
        EXPECT_EQ(M.ABUS, 0xBEEF);
        EXPECT_EQ(current_flags(), (flags{0, 1, 0, 1}));
        EXPECT_EQ(M.stop_flag, 1);
    }
    EXPECT_EQ(errors(), (std::vector<int>{1, 1, 1}));
    EXPECT_NE(console().find("\nERROR 1\n UNDEFINED MICRO INSTRUCTION CODE !\n"), std::string::npos);
}
