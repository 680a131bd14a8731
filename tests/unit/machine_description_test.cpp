// The machine's description: its registers against the machine state and the
// console's rows, the data-path parts a micro-cycle uses against what the
// micro-cycle really changes, and the picture that draws the parts.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "console/registers.hpp"
#include "core/machine_description.hpp"
#include "core/micro_cycle.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

std::string part_names(const part_set &parts)
{
    std::string text;
    for (int p = 0; p < DATA_PATH_PARTS; p++)
        if (parts.test(p)) {
            if (!text.empty()) text += ' ';
            text += DATA_PATH_PART_NAMES[p];
        }
    return text;
}

class DescriptionTest : public CoreTest {};

}   // namespace

// Every register lives in a place of its own, holds its width, and keeps an
// operator's value by its rule.
TEST_F(DescriptionTest, RegistersLiveApartAndKeepValuesByTheirRules)
{
    std::set<const void *> places;
    std::set<std::string> names;
    for (const machine_register &reg : MACHINE_REGISTERS) {
        const void *place = reg.word16   ? static_cast<const void *>(reg.word16)
                            : reg.word32 ? static_cast<const void *>(reg.word32)
                                         : static_cast<const void *>(reg.word_int);
        EXPECT_EQ((reg.word16 != nullptr) + (reg.word32 != nullptr) + (reg.word_int != nullptr), 1) << reg.name;
        EXPECT_TRUE(places.insert(place).second) << reg.name << " shares its place";
        EXPECT_TRUE(names.insert(reg.name).second) << reg.name << " named twice";
        EXPECT_EQ(find_machine_register(reg.name), &reg) << reg.name;
        EXPECT_GT(reg.width, 0) << reg.name;
        if (reg.store == STORE_BOUNDED) {
            EXPECT_LE(reg.limit, width_mask(reg)) << reg.name;
        }
        EXPECT_LT(reg.group, MACHINE_GROUPS) << reg.name;
    }
    // The fields are the micro-instruction word's, in its order and widths.
    for (size_t f = 0; f < std::size(MICRO_FIELDS); f++) {
        const machine_register &reg = described(static_cast<machine_register_id>(REG_LBF + f));
        EXPECT_STREQ(reg.name, MICRO_FIELDS[f].name);
        EXPECT_EQ(reg.width, MICRO_FIELDS[f].width) << reg.name;
    }

    struct case_ {
        const char *name;
        unsigned typed, kept;
    } cases[] = {
        {"r5", 0x12345, 0x2345},
        {"PC", 0x1FFFF, 0xFFFF},
        {"C", 0x1FF, 0xFF},
        {"FSR", 0x1F, 0xF},
        {"MAR", 0x12345, 0x12345},
        {"CMAR", 0xFFFFFFFF, 0xFFFFFFFF},
        {"IOBUS", 0x10048, 0x0048},
        {"CRY", 7, 1},
        {"T", 0, 0},
        {"MEMCYCLE", 2, 2},
        {"IOCYCLE", 3, 0},
        {"SP", 8, 8},
        {"SP", 9, 0},
        {"S7", 0x11000, 0x1000},
    };
    for (const case_ &c : cases) {
        const machine_register *reg = find_machine_register(c.name);
        ASSERT_NE(reg, nullptr) << c.name;
        store_value(*reg, kept_value(*reg, c.typed));
        EXPECT_EQ(register_value(*reg), c.kept) << c.name;
    }
    // Read-only: the fields of the last word and STOP keep what they hold.
    M.current.ALF = 3;
    M.stop_flag = 1;
    for (const char *name : {"ALF", "STOP"}) {
        const machine_register &reg = *find_machine_register(name);
        const unsigned held = register_value(reg);
        store_value(reg, kept_value(reg, 0));
        EXPECT_EQ(register_value(reg), held) << name;
    }
    EXPECT_EQ(find_machine_register("R8"), nullptr);
}

// A reset clears every register but those it keeps: the return stack's
// entries, the last word's fields and STOP. A register added to the machine
// and forgotten in the reset fails here.
TEST_F(DescriptionTest, ResetClearsEveryRegisterButTheKeptOnes)
{
    const machine_register_id kept[] = {REG_S0,  REG_S1,  REG_S2,  REG_S3,  REG_S4,  REG_S5,  REG_S6,
                                        REG_S7,  REG_LBF, REG_RBF, REG_ALF, REG_SHF, REG_SBF, REG_MMF,
                                        REG_SQF, REG_TSF, REG_EXF, REG_ADF, REG_STOP};
    for (const machine_register &reg : MACHINE_REGISTERS) {
        if (reg.word16) *reg.word16 = 1;
        if (reg.word32) *reg.word32 = 1;
        if (reg.word_int) *reg.word_int = 1;
    }
    reset_registers();
    for (const machine_register &reg : MACHINE_REGISTERS) {
        const bool keeps = std::any_of(std::begin(kept), std::end(kept),
                                       [&](machine_register_id id) { return &described(id) == &reg; });
        EXPECT_EQ(register_value(reg), keeps ? 1u : 0u) << reg.name;
    }
}

// The console names a described register by one row or leaves it out on
// purpose; a register added to the description without either fails here.
TEST_F(DescriptionTest, ConsoleNamesEveryRegisterOrSaysItDoesNot)
{
    for (const machine_register &reg : MACHINE_REGISTERS) {
        const int rows = static_cast<int>(std::count_if(register_rows().begin(), register_rows().end(),
                                                        [&](const register_row &row) { return row.reg == &reg; }));
        const bool left_out = std::any_of(std::begin(NOT_NAMED_AT_CONSOLE), std::end(NOT_NAMED_AT_CONSOLE),
                                          [&](machine_register_id id) { return &described(id) == &reg; });
        EXPECT_EQ(rows + left_out, 1) << reg.name << ": " << rows << " console rows, left out " << left_out;
    }
    for (const register_row &row : register_rows()) {
        if (!row.reg) continue;
        if (row.index >= 0)
            EXPECT_EQ(row.reg, &described(static_cast<machine_register_id>(REG_R0 + row.index)));
        else
            EXPECT_STREQ(row.name, row.reg->name);
        EXPECT_EQ(row.mask, width_mask(*row.reg)) << row.reg->name;
    }
}

// The parts that single cycles use, with the rules that IR and the cycle
// states before the cycle decide.
TEST_F(DescriptionTest, PartsOfAStepFollowIrAndTheTransfersBefore)
{
    const std::string always = "CMAR CM MIR SEQ MIR-SEQ SEQ-CMAR";
    struct case_ {
        const char *what;
        micro word;
        uint16_t ir_before, ir_after;
        int mem_cycle, io_cycle;
        const char *parts;   // beyond `always`
    } cases[] = {
        {"default word: nothing moves", micro{}, 0, 0, 0, 0, ""},
        {"R2 + constant to R1, load C", micro{.lbf = 2, .rbf = 10, .alf = 0, .sbf = 1, .exf = 6}, 0, 0, 0, 0,
         "R1 R2 C FLAGS CONST ALU SHIFTER LBUS RBUS ABUS SBUS R-LBUS CONST-RBUS SBUS-R1 ALU-FLAGS RBUS-C"},
        {"LBF 9 wraps IR[9:8] 3 to R0; RBF 8 takes IR[11:10] 2", micro{.lbf = 9, .rbf = 8}, 0x0B00, 0x0B00, 0, 0,
         "R0 R2 ALU SHIFTER LBUS RBUS ABUS R-LBUS R-RBUS"},
        {"SBF 10 stores by the IR that EXF 4 loads in the same cycle", micro{.lbf = 13, .sbf = 10, .exf = 4}, 0x0000,
         0x0200, 0, 0, "R2 IR ALU SHIFTER LBUS ABUS SBUS IR-LBUS SBUS-R2 LBUS-IR"},
        {"SBF 10 without EXF 4 stores by IR before", micro{.sbf = 10}, 0x0100, 0x0300, 0, 0,
         "R1 ALU SHIFTER ABUS SBUS SBUS-R1"},
        {"ALF 5 with an add in IR sets flags", micro{.alf = 5}, 0x0000, 0x0000, 0, 0,
         "IR FLAGS ALU SHIFTER ABUS ALU-FLAGS"},
        {"ALF 5 with code 6 in IR: undefined", micro{.alf = 5, .sbf = 12}, 0x0060, 0x0060, 0, 0,
         "PC IR SHIFTER SBUS SBUS-PC"},
        {"memory word not ready: nothing reaches LBUS", micro{.lbf = 12}, 0, 0, 0, 0, ""},
        {"memory word delivered, read started again", micro{.lbf = 12, .mmf = 0}, 0, 0, 1, 0,
         "MAR MM ALU SHIFTER LBUS ABUS MM-LBUS LBUS-MAR"},
        {"write completes with this cycle's LBUS", micro{.lbf = 10}, 0, 0, 2, 0,
         "PC MM ALU SHIFTER LBUS ABUS PC-LBUS LBUS-MM"},
        {"input completes; count C, test C", micro{.sqf = SQF_JUMP_IF_TRUE, .tsf = TSF_COUNTER_ZERO, .exf = 0}, 0, 0, 0,
         1, "FLAGS-SEQ C READER IOBUS READER-IOBUS"},
        {"output completes, shift sets CRY", micro{.shf = 1, .sqf = SQF_CALL}, 0, 0, 0, 2,
         "STACK FLAGS SHIFTER PRINTER ALU ABUS IOBUS SHIFTER-FLAGS IOBUS-PRINTER"},
        {"dispatch on IR, save flags", micro{.sqf = SQF_DISPATCH_RXRY, .exf = 1}, 0, 0, 0, 0,
         "IR-SEQ IR FSR FLAGS FLAGS-FSR"},
        {"reserved right-bus and store codes use nothing", micro{.rbf = 13, .sbf = 14}, 0, 0, 0, 0, ""},
    };
    for (const case_ &c : cases) {
        const step_view step{decode(c.word.word()), c.ir_before, c.ir_after, c.mem_cycle, c.io_cycle};
        std::set<std::string> want, got;
        std::istringstream w(always + " " + c.parts), g(part_names(parts_used(step)));
        for (std::string name; w >> name;) want.insert(name);
        for (std::string name; g >> name;) got.insert(name);
        EXPECT_EQ(got, want) << c.what;
    }
}

// Whatever a cycle changes, the parts it used name: every code of every
// field that moves data, from machine states that differ in IR and in the
// transfer started before. A code whose use of the data path is added to
// the micro-cycle but not to the description fails here.
TEST_F(DescriptionTest, EveryChangeOfACycleIsInThePartsItUsed)
{
    const micro_field fields[] = {FIELD_LBF, FIELD_RBF, FIELD_ALF, FIELD_SHF, FIELD_SBF, FIELD_MMF, FIELD_EXF};
    const uint16_t irs[] = {0x0000, 0x0B50, 0x0F20, 0x0470};
    for (const micro_field &field : fields)
        for (int code = 0; code < 1 << field.width; code++)
            for (uint16_t ir : irs)
                for (int mem_cycle = 0; mem_cycle <= 2; mem_cycle++) {
                    if (field.low_bit == FIELD_EXF.low_bit && (code == 7 || code == 14)) continue;   // devices, lamp
                    reset_registers();
                    for (int r = 0; r < REGISTERS; r++) M.R[r] = static_cast<uint16_t>(0x1111 * (r + 1));
                    M.PC = 0x0123, M.IR = ir, M.FSR = 0x5, M.C = 3, M.MAR = 0x40, M.MM[0x40] = 0xBEEF;
                    M.IOBUS = 0x0A0A, M.mem_cycle = mem_cycle;
                    M.CM[0] = with_field(DEFAULT_MICRO_WORD, field, static_cast<uint64_t>(code)) | 0x1FF;   // ADF
                    M.CMAR = 0;
                    const MachineState before = M;
                    micro_cycle();
                    const part_set used = parts_used({M.current, ir, M.IR, mem_cycle, 0});
                    const std::string where = std::string(field.name) + " " + std::to_string(code) + " IR " +
                                              std::to_string(ir) + " memory cycle " + std::to_string(mem_cycle) + ": " +
                                              part_names(used);
                    for (int r = 0; r < REGISTERS; r++)
                        if (M.R[r] != before.R[r]) {
                            EXPECT_TRUE(used.test(PART_R0 + r)) << "R" << r << " " << where;
                        }
                    const std::pair<bool, data_path_part> changes[] = {
                        {M.PC != before.PC, PART_PC},
                        {M.IR != before.IR, PART_IR},
                        {M.MAR != before.MAR, PART_MAR},
                        {M.C != before.C, PART_C},
                        {M.FSR != before.FSR, PART_FSR},
                        {M.LBUS != before.LBUS, PART_LBUS},
                        {M.RBUS != before.RBUS, PART_RBUS},
                        {M.ABUS != before.ABUS, PART_ALU},
                        {M.SBUS != before.SBUS, PART_SHIFTER},
                        {M.IOBUS != before.IOBUS, PART_IOBUS},
                        {M.MM[0x40] != before.MM[0x40], PART_MM},
                        {M.ZER != before.ZER || M.NEG != before.NEG || M.CRY != before.CRY || M.OVR != before.OVR ||
                             M.T != before.T,
                         PART_FLAGS},
                    };
                    for (const auto &[changed, part] : changes)
                        if (changed) {
                            EXPECT_TRUE(used.test(part)) << DATA_PATH_PART_NAMES[part] << " " << where;
                        }
                }
}

// The one data-path picture draws every part, under the names the
// description gives them, and nothing else.
TEST_F(DescriptionTest, PictureDrawsEveryPartByName)
{
    std::ifstream file(std::string(getenv("KALVO3_TEST_DATA")) + "/../docs/datapath.svg");
    ASSERT_TRUE(file) << "docs/datapath.svg";
    std::stringstream text;
    text << file.rdbuf();
    const std::string svg = text.str();

    std::set<std::string> drawn;
    const std::regex attribute("data-part=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), attribute); it != std::sregex_iterator(); ++it) {
        std::istringstream names((*it)[1].str());
        for (std::string name; names >> name;) drawn.insert(name);
    }
    std::set<std::string> described_parts;
    for (const char *name : DATA_PATH_PART_NAMES) {
        ASSERT_NE(name, nullptr) << "a part without a name";
        EXPECT_TRUE(described_parts.insert(name).second) << name << " named twice";
        EXPECT_TRUE(drawn.count(name)) << name << " is not in the picture";
    }
    for (const std::string &name : drawn) EXPECT_TRUE(described_parts.count(name)) << name << " is no part";
}
