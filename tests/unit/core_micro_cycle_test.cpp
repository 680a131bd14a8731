// The micro-cycle: fetch and decode, bus sources and destinations, the
// two-cycle memory transfers, the order of the steps and their reports.
#include <algorithm>
#include <utility>

#include "core/alu.hpp"
#include "core/extra_function.hpp"
#include "core/micro_cycle.hpp"
#include "core/sequencer.hpp"
#include "core/shifter.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

class MicroCycleTest : public CoreTest {
protected:
    // Executes one micro-instruction from address 0.
    void execute(micro fields)
    {
        M.CM[0] = fields.word();
        M.CMAR = 0;
        micro_cycle();
    }

    // The ten decoded fields of the current micro-instruction.
    static std::vector<int> fields()
    {
        const micro_instruction &c = M.current;
        return {c.LBF, c.RBF, c.ALF, c.SHF, c.SBF, c.MMF, c.SQF, c.TSF, c.EXF, c.ADF};
    }
};

}  // namespace

TEST_F(MicroCycleTest, InstructionFetchInThreeCycles)
{
    M.PC = 0x0040;
    M.MM[0x0040] = 0x3123;
    M.CM[0x000] = micro{.lbf = 10, .rbf = 15, .alf = 0, .shf = 7, .sbf = 12, .mmf = 0, .sqf = 15,
                        .exf = 3}.word();
    M.CM[0x001] = micro{.lbf = 12, .rbf = 15, .alf = 7, .shf = 7, .sbf = 15, .mmf = 2, .sqf = 15,
                        .exf = 4}.word();
    M.CM[0x002] = micro{.sqf = 5, .adf = 0x0A0}.word();   // jump table at 0xA00

    micro_cycle();
    EXPECT_EQ(M.MAR, 0x0040u);
    EXPECT_EQ(M.PC, 0x0041u);
    EXPECT_EQ(M.mem_cycle, 1);
    EXPECT_EQ(M.CMAR, 0x001u);

    micro_cycle();
    EXPECT_EQ(M.LBUS, 0x3123);
    EXPECT_EQ(M.IR, 0x3123);
    EXPECT_EQ(M.mem_cycle, 0);
    EXPECT_EQ(M.CMAR, 0x002u);

    micro_cycle();
    EXPECT_EQ(M.CMAR, 0xA03u);
    EXPECT_EQ(M.PC, 0x0041u);
    EXPECT_EQ(M.MAR, 0x0040u);
    EXPECT_EQ(M.IR, 0x3123);
    EXPECT_EQ(errors(), none());
}

TEST_F(MicroCycleTest, DecodedFieldsAndWordAreKept)
{
    const uint64_t high_bits = uint64_t{0xABCD} << 40;   // ignored by the decode
    M.CM[0x123] = micro{.lbf = 1, .rbf = 2, .alf = 3, .shf = 4, .sbf = 5, .mmf = 2, .sqf = 15,
                        .tsf = 6, .exf = 15, .adf = 0x1AB}.word() | high_bits;
    M.CMAR = 0x123;
    micro_cycle();
    EXPECT_EQ(M.current.MIR, M.CM[0x123]);
    EXPECT_EQ(fields(), (std::vector<int>{1, 2, 3, 4, 5, 2, 15, 6, 15, 0x1AB}));
    EXPECT_EQ(M.CMAR, 0x124u);
}

// A word changed in control memory between two fetches of its address is
// executed as it now stands.
TEST_F(MicroCycleTest, ChangedWordIsDecodedAfresh)
{
    M.R[1] = 0x0011;
    M.R[2] = 0x0022;
    execute({.lbf = 1, .sbf = 3});
    EXPECT_EQ(M.R[3], 0x0011);
    M.CM[0] = micro{.lbf = 2, .sbf = 4}.word();
    M.CMAR = 0;
    micro_cycle();
    EXPECT_EQ(M.current.LBF, 2);
    EXPECT_EQ(M.current.SBF, 4);
    EXPECT_EQ(M.R[4], 0x0022);
    M.CM[0] |= uint64_t{1} << 40;   // only bits the decode ignores
    M.CMAR = 0;
    micro_cycle();
    EXPECT_EQ(M.current.MIR, M.CM[0]);
    EXPECT_EQ(M.current.LBF, 2);
}

TEST_F(MicroCycleTest, FetchBeyondLastWordRunsAllOnesWord)
{
    M.CMAR = 0xFFF;
    M.CM[0xFFF] = micro{}.word();
    micro_cycle();
    EXPECT_EQ(M.CMAR, 0x1000u);
    EXPECT_EQ(errors(), none());

    // A write started before the faulty fetch still completes, with LBUS 0.
    M.MAR = 0x0010;
    M.MM[0x0010] = 0x5555;
    M.mem_cycle = 2;
    M.LBUS = M.RBUS = 0x1111;
    M.C = 9;
    M.R[0] = 0x2222;
    micro_cycle();
    EXPECT_EQ(console(), "\nERROR 4\n OUT OF CM ADDRESS LIMIT (0-FFF) ! \n");
    EXPECT_EQ(M.current.MIR, ~uint64_t{0});
    EXPECT_EQ(fields(), (std::vector<int>{15, 15, 7, 7, 15, 3, 15, 7, 15, 0x1FF}));
    EXPECT_EQ(M.CMAR, 0x1001u);
    EXPECT_EQ(M.LBUS, 0);
    EXPECT_EQ(M.RBUS, 0);
    EXPECT_EQ(M.SBUS, 0);
    EXPECT_EQ(M.MM[0x0010], 0);
    EXPECT_EQ(M.mem_cycle, 0);
    EXPECT_EQ(M.C, 9u);
    EXPECT_EQ(M.R[0], 0x2222);
}

TEST_F(MicroCycleTest, RegistersSelectedThroughIrFields)
{
    for (int i = 0; i < 8; i++) M.R[i] = static_cast<uint16_t>(0x1000 * (i + 1));
    M.IR = 0x0300;   // bits 9..8 = 3: the successor wraps to R0
    execute({.lbf = 9, .sbf = 10});
    EXPECT_EQ(M.LBUS, 0x1000);
    EXPECT_EQ(M.R[3], 0x1000);
    M.R[3] = 0x4000;
    execute({.lbf = 8, .sbf = 11});
    EXPECT_EQ(M.LBUS, 0x4000);
    EXPECT_EQ(M.R[0], 0x4000);

    M.IR = 0x0C00;   // bits 11..10 = 3
    M.R[0] = 0x1000;
    execute({.rbf = 9, .sbf = 8});
    EXPECT_EQ(M.RBUS, 0x1000);
    EXPECT_EQ(M.R[3], 0x1000);
    M.R[3] = 0x4000;
    execute({.rbf = 8, .sbf = 9});
    EXPECT_EQ(M.RBUS, 0x4000);
    EXPECT_EQ(M.R[0], 0x4000);

    M.IR = 0xF0FF;   // both fields 0, whatever the other bits hold
    execute({.lbf = 8, .rbf = 9, .sbf = 11});
    EXPECT_EQ(M.LBUS, 0x4000);   // R0
    EXPECT_EQ(M.RBUS, 0x2000);   // R1
    EXPECT_EQ(M.R[1], 0x6000);
    EXPECT_EQ(M.R[4], 0x5000);
}

TEST_F(MicroCycleTest, BusSources)
{
    M.PC = 0x1357;
    M.IOBUS = 0x2468;
    M.IR = 0x9ABC;
    M.FSR = 0xB;
    M.R[7] = 0x7777;
    const struct {
        int lbf;
        uint16_t value;
    } left[] = {{7, 0x7777}, {10, 0x1357}, {11, 0x2468}, {13, 0x9ABC}, {14, 0x000B}, {15, 0}};
    for (const auto &l : left) {
        M.LBUS = 0xFFFF;
        execute({.lbf = l.lbf});
        EXPECT_EQ(M.LBUS, l.value) << "lbf " << l.lbf;
    }

    execute({.rbf = 10, .tsf = 5, .exf = 2, .adf = 0x1C3});
    EXPECT_EQ(M.RBUS, 0x01C3);
    execute({.rbf = 11, .tsf = 5, .exf = 2, .adf = 0x1C3});
    EXPECT_EQ(M.RBUS, 0xA5C3);
    execute({.rbf = 7});
    EXPECT_EQ(M.RBUS, 0x7777);
    execute({.rbf = 15});
    EXPECT_EQ(M.RBUS, 0);
    EXPECT_EQ(errors(), none());
}

TEST_F(MicroCycleTest, ReservedBusCodesKeepBusAndDestination)
{
    for (int rbf : {12, 13, 14}) {
        M.RBUS = 0x4321;
        execute({.rbf = rbf});
        EXPECT_EQ(M.RBUS, 0x4321) << rbf;
    }
    for (int sbf : {13, 14}) {
        execute({.lbf = 15, .sbf = sbf});
        EXPECT_EQ(M.SBUS, 0);
        for (uint16_t r : M.R) EXPECT_EQ(r, 0);
        EXPECT_EQ(M.PC, 0u);
    }
    EXPECT_EQ(errors(), (std::vector<int>(5, 1)));
}

// The IR that EXF 4 loads in the shifter step already chooses the register
// that SBF 8 stores into.
TEST_F(MicroCycleTest, IrLoadedThisCycleSelectsDestination)
{
    M.IR = 0x0000;
    M.R[1] = 0x0800;   // bits 11..10 = 2
    execute({.lbf = 1, .sbf = 8, .exf = 4});
    EXPECT_EQ(M.IR, 0x0800);
    EXPECT_EQ(M.R[2], 0x0800);
    EXPECT_EQ(M.R[0], 0);
}

TEST_F(MicroCycleTest, IoBusCopy)
{
    M.IOBUS = 0x1234;
    execute({.lbf = 11, .exf = 5});
    EXPECT_EQ(M.IOBUS, 0x1234);
    M.R[0] = 0xBEEF;
    execute({.lbf = 0, .exf = 5});
    EXPECT_EQ(M.IOBUS, 0xBEEF);
    execute({.lbf = 15, .exf = 15});
    EXPECT_EQ(M.IOBUS, 0xBEEF);
}

TEST_F(MicroCycleTest, MemoryReadDeliversInTheNextCycleOnly)
{
    M.MM[0x0020] = 0x0030;
    M.MM[0x0030] = 0xCAFE;
    M.R[1] = 0x0020;
    M.CM[0] = micro{.lbf = 1, .mmf = 0}.word();
    M.CM[1] = micro{.lbf = 12, .mmf = 0}.word();            // reads, and starts a read there
    M.CM[2] = micro{.lbf = 12, .sbf = 2, .mmf = 2}.word();
    M.CM[3] = micro{.lbf = 12}.word();                      // no read started just before
    micro_cycle();
    EXPECT_EQ(M.mem_cycle, 1);
    micro_cycle();
    EXPECT_EQ(M.LBUS, 0x0030);
    EXPECT_EQ(M.MAR, 0x0030u);
    EXPECT_EQ(M.mem_cycle, 1);
    micro_cycle();
    EXPECT_EQ(M.R[2], 0xCAFE);
    EXPECT_EQ(M.mem_cycle, 0);
    EXPECT_EQ(errors(), none());
    micro_cycle();
    EXPECT_EQ(errors(), (std::vector<int>{18}));
    EXPECT_EQ(M.LBUS, 0xCAFE);
    EXPECT_NE(console().find("\nERROR 18\n MEMORY CYCLE IS NOT READY TO READ\n"), std::string::npos);
}

TEST_F(MicroCycleTest, MemoryReadTwoCyclesLaterIsNotReady)
{
    M.CM[0] = micro{.lbf = 15, .mmf = 0}.word();
    M.CM[1] = micro{.mmf = 2}.word();
    M.CM[2] = micro{.lbf = 12}.word();
    M.LBUS = 0x0F0F;
    for (int i = 0; i < 3; i++) micro_cycle();
    EXPECT_EQ(errors(), (std::vector<int>{18}));
}

TEST_F(MicroCycleTest, MemoryWriteTakesTheNextCyclesLeftBus)
{
    M.R[1] = 0x0040;
    M.R[2] = 0x7777;
    M.MM[0x0041] = 0x9999;
    M.CM[0] = micro{.lbf = 1, .mmf = 1}.word();
    M.CM[1] = micro{.lbf = 2}.word();
    micro_cycle();
    EXPECT_EQ(M.MAR, 0x0040u);
    EXPECT_EQ(M.mem_cycle, 2);
    EXPECT_EQ(M.MM[0x0040], 0);
    micro_cycle();
    EXPECT_EQ(M.MM[0x0040], 0x7777);
    EXPECT_EQ(M.mem_cycle, 0);

    // The zero source writes 0.
    M.CMAR = 0;
    M.CM[1] = micro{.lbf = 15}.word();
    micro_cycle();
    micro_cycle();
    EXPECT_EQ(M.MM[0x0040], 0);

    // A read source in the writing cycle is not ready: the address stays on LBUS and is written.
    M.R[1] = 0x0041;
    M.CMAR = 0;
    M.CM[1] = micro{.lbf = 12}.word();
    micro_cycle();
    micro_cycle();
    EXPECT_EQ(errors(), (std::vector<int>{18}));
    EXPECT_EQ(M.MM[0x0041], 0x0041);
}

TEST_F(MicroCycleTest, MainMemoryAddressBeyondLimit)
{
    M.MAR = 0x10000;
    M.mem_cycle = 1;
    M.LBUS = 0x0BAD;
    execute({.lbf = 12});
    EXPECT_EQ(M.LBUS, 0x0BAD);
    EXPECT_EQ(M.mem_cycle, 0);
    EXPECT_EQ(console(), "\nERROR 3\n OUT OF MM ADDRESS LIMIT (0-FFFF) ! \n");

    M.mem_cycle = 2;
    execute({.lbf = 15});
    EXPECT_EQ(M.mem_cycle, 2);   // the write is tried again next cycle
    execute({.lbf = 15});
    EXPECT_EQ(M.mem_cycle, 2);
    EXPECT_EQ(errors(), (std::vector<int>{3, 3, 3}));
}

// Every step runs after a report, and the reports come in the order of the
// steps: sequencer, input, left bus, right bus, ALU, shifter, destination,
// extra function.
TEST_F(MicroCycleTest, ReportsFollowStepOrderAndCycleCarriesOn)
{
    M.io_cycle = 1;   // an input with no card stream: the end-of-data path
    M.IR = 0x0000;
    M.CM[0] = micro{.lbf = 12, .rbf = 13, .alf = 6, .shf = 6, .sbf = 14, .mmf = 1, .sqf = 9,
                    .exf = 7}.word();
    micro_cycle();
    EXPECT_EQ(errors(), (std::vector<int>{1, 12, 18, 1, 1, 1, 1, 8}));
    EXPECT_EQ(M.CMAR, 0u);
    EXPECT_EQ(M.IOBUS, 0xFFFF);
    EXPECT_EQ(M.io_cycle, 0);
    EXPECT_EQ(M.mem_cycle, 2);   // the memory function still started a write
    EXPECT_EQ(M.CZ, 1);
}

// One description of the machine: every code of every field, the others at
// their defaults, reports ERROR 1 exactly where core/micro_word.hpp (which the
// assembler's warnings read) calls it reserved; TSF under every SQF as well.
TEST_F(MicroCycleTest, ReservedCodesAgreeWithTheMicroWordDescription)
{
    int reported = 0;   // ERROR 1 reports so far
    auto undefined = [&](uint64_t word) {
        SetUp();
        M.CM[0] = word;
        micro_cycle();
        const std::vector<int> numbers = errors();
        const int now = static_cast<int>(std::count(numbers.begin(), numbers.end(), ERR_UNDEFINED_CODE));
        return std::exchange(reported, now) < now;
    };
    for (micro_field field : MICRO_FIELDS)
        for (int code = 0; code < 1 << field.width; code++)
            EXPECT_EQ(undefined(with_field(DEFAULT_MICRO_WORD, field, code)), is_reserved_code(field, code))
                << field.name << " " << code;
    for (int sqf = 0; sqf < 16; sqf++)
        for (int tsf = 0; tsf < 8; tsf++)
            EXPECT_EQ(undefined(with_field(with_field(DEFAULT_MICRO_WORD, FIELD_SQF, sqf), FIELD_TSF, tsf)),
                      is_reserved_code(FIELD_SQF, sqf) || (sequence_tests(sqf) && tsf == TSF_RESERVED))
                << "SQF " << sqf << " TSF " << tsf;
}

TEST_F(MicroCycleTest, InternalDiagnosticsLeaveStopFlagAlone)
{
    M.io_cycle = 3;
    M.mem_cycle = 7;
    execute({});
    EXPECT_EQ(console(), " ILLEGAL IO CYCLE STATE\n ILLEGAL MEMORY CYCLE STATE\n");
    EXPECT_EQ(M.CMAR, 1u);

    M.current.ALF = 8;
    alu_operate();
    M.current.SHF = 0xA;
    shift_operate();
    M.current.SQF = 0x10;
    sequence_next();
    M.current.TSF = 9;
    EXPECT_EQ(test_condition(), 0);
    M.current.EXF = 0x1F;
    M.C = 0;
    M.CZ = 0;
    extra_function();
    EXPECT_EQ(M.CZ, 1);
    EXPECT_EQ(console(), " ILLEGAL IO CYCLE STATE\n ILLEGAL MEMORY CYCLE STATE\n"
                         "something is wrong (ALF=8)\n"
                         "something is wrong (SHF=a)\n"
                         "something is wrong (SQF=10)\n"
                         "something is wrong (TSF=9)\n"
                         "something is wrong (EXF=1f)\n");
    EXPECT_EQ(M.stop_flag, 0);
}
