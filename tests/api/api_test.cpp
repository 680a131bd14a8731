// The C interface drives the same machine as the console: the bundled
// examples give the console's results through it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "api/kalvo3_api.h"
#include "console/registers.hpp"

namespace {

std::string example_file(const std::string &name)
{
    std::ifstream file(std::string(getenv("KALVO3_EXAMPLES")) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string printed() { return std::string(k3_printer_text(), k3_printer_length()); }

class Api : public ::testing::Test {
protected:
    void SetUp() override { k3_power_on(); }
};

TEST_F(Api, ExamplesGiveTheConsolesStepsAndPrinterText)
{
    ASSERT_EQ(k3_load_text(example_file("greeting/greeting.cm").c_str()), 1);
    ASSERT_EQ(k3_load_text(example_file("greeting/greeting.mm").c_str()), 2);
    k3_console_clear();
    EXPECT_EQ(k3_run(1000000, 0), K3_STOP_HALT);
    EXPECT_EQ(k3_steps(), 71u);   // as examples/greeting/expected.out
    EXPECT_EQ(printed(), example_file("greeting/expected.lpt"));

    // The card reader reads the deck given, and reads it again once rewound.
    k3_power_on();
    k3_load_text(example_file("k16_upper/k16.cm").c_str());
    k3_load_text(example_file("k16_upper/upper.mm").c_str());
    const std::string deck = example_file("k16_upper/KALV.CRD");
    k3_cards_set(deck.data(), static_cast<uint32_t>(deck.size()));
    k3_console_clear();
    EXPECT_EQ(k3_run(1000000, 0), K3_STOP_HALT);
    EXPECT_EQ(k3_steps(), 7626u);
    EXPECT_EQ(printed(), example_file("k16_upper/expected.lpt"));
    EXPECT_EQ(k3_cards_position(), deck.find('#') + 1);   // the program reads up to its end mark
    EXPECT_EQ(k3_console_text(), std::string());   // nothing an operator would see

    k3_cards_rewind();
    k3_printer_clear();
    k3_set(k3_register("CMAR"), 0);
    EXPECT_EQ(k3_run(1000000, 0), K3_STOP_HALT);
    EXPECT_EQ(printed(), example_file("k16_upper/expected.lpt"));
}

TEST_F(Api, BreakPointsStopAsTheRunCommandDoes)
{
    k3_load_text(example_file("greeting/greeting.cm").c_str());
    k3_load_text(example_file("greeting/greeting.mm").c_str());
    ASSERT_TRUE(k3_break_set(3));
    k3_console_clear();
    EXPECT_EQ(k3_run(1000, 1), K3_STOP_BREAK);
    EXPECT_EQ(k3_steps(), 3u);   // 000, 001, 002, then arrives at 003
    EXPECT_EQ(k3_get(k3_register("CMAR")), 3u);
    EXPECT_STREQ(k3_console_text(), " BREAK !! AT 003\n");

    // Continuing from the break point reports it again and, as "CNT" at the
    // console does, executes that one micro-instruction only.
    k3_console_clear();
    EXPECT_EQ(k3_run(1000, 1), K3_STOP_BREAK);
    EXPECT_EQ(k3_steps(), 1u);
    EXPECT_EQ(k3_get(k3_register("CMAR")), 4u);
    EXPECT_EQ(k3_profile()[2], 1u);
    EXPECT_EQ(k3_profile()[3], 1u);
    EXPECT_STREQ(k3_console_text(), " BREAK !! AT 003\n");
}

// The closing lines of a run are the Run command's: after the greeting's run
// the console's transcript has them, and a limit used up is said instead.
TEST_F(Api, RunEndIsTheConsolesText)
{
    k3_load_text(example_file("greeting/greeting.cm").c_str());
    k3_load_text(example_file("greeting/greeting.mm").c_str());
    EXPECT_EQ(k3_run(1000, 0), K3_STOP_HALT);
    k3_console_clear();
    k3_run_end(k3_steps(), -1);
    const std::string transcript = example_file("greeting/expected.out");
    EXPECT_NE(transcript.find(std::string("\n") + k3_console_text()), std::string::npos) << k3_console_text();

    struct {
        uint32_t steps;
        int32_t limit;
        const char *text;
    } cases[] = {
        {5, 5, " CPU HALTED !\n MAX STEPS EXAUSTED\n"},
        {4, 5, " CPU HALTED !\n   4 STEPS USED\n"},
        {123456, -1, " CPU HALTED !\n  123456 STEPS USED\n"},
    };
    for (const auto &c : cases) {
        k3_console_clear();
        k3_run_end(c.steps, c.limit);
        EXPECT_STREQ(k3_console_text(), c.text) << c.steps << " " << c.limit;
    }
}

TEST_F(Api, ErrorsKeepTheConsolesNumbersAndTexts)
{
    k3_cm_set(0, 0x0F, 0xCFFFFFFF);   // RBF 12: reserved
    EXPECT_EQ(k3_run(10, 0), K3_STOP_ERROR);
    EXPECT_EQ(k3_last_error(), 1);
    EXPECT_STREQ(k3_console_text(), "\nERROR 1\n UNDEFINED MICRO INSTRUCTION CODE !\n");

    EXPECT_EQ(k3_assemble("bad.masm", "START: L=R1 TO=R2\n  L=R9\n", 0), 1);
    EXPECT_NE(std::string(k3_assembly_messages()).find("bad.masm:2:"), std::string::npos);
    EXPECT_EQ(k3_load_text("XX\n000  0000000000\n"), 0);   // error 5
    EXPECT_NE(std::string(k3_console_text()).find("\nERROR 5\n INVALID LOAD FILE FOMAT !\n"), std::string::npos);
}

// Power on leaves nothing of what came before: whatever ran, every register,
// field and stack entry reads as it does after any other power on.
TEST_F(Api, PowerOnForgetsEverything)
{
    std::vector<uint32_t> fresh;
    for (int r = 0; r < k3_register_count(); r++) fresh.push_back(k3_get(r));
    k3_load_text(example_file("greeting/greeting.cm").c_str());
    k3_load_text(example_file("greeting/greeting.mm").c_str());
    k3_run(1000, 0);
    for (int r = 0; r < k3_register_count(); r++)
        if (k3_register_writable(r)) k3_set(r, 1);
    k3_power_on();
    for (int r = 0; r < k3_register_count(); r++) EXPECT_EQ(k3_get(r), fresh[r]) << k3_register_name(r);
    EXPECT_EQ(k3_cm_load_file(), std::string("CM\n"));
}

// A source nested far too deep is an error record like any other: the
// machine's memories stay as they were, call after call.
TEST_F(Api, ADeeplyNestedSourceLeavesTheMachineAlone)
{
    ASSERT_EQ(k3_load_text(example_file("greeting/greeting.cm").c_str()), 1);
    ASSERT_EQ(k3_load_text(example_file("greeting/greeting.mm").c_str()), 2);
    const std::string cm = k3_cm_load_file(), mm = k3_mm_load_file();
    const std::string deep = "R=#" + std::string(1000000, '(') + "1" + std::string(1000000, ')') + "\n";
    const std::string signs = ".WORD " + std::string(1000000, '-') + "1\n";
    for (int call = 0; call < 3; call++) {
        EXPECT_EQ(k3_assemble("deep.masm", deep.c_str(), 0), 1);
        EXPECT_NE(std::string(k3_assembly_messages()).find("deep.masm:1:68: error: the expression nests"),
                  std::string::npos);
        EXPECT_EQ(k3_assemble("deep.mdat", signs.c_str(), 1), 1);
    }
    EXPECT_EQ(k3_cm_load_file(), cm);
    EXPECT_EQ(k3_mm_load_file(), mm);
}

TEST_F(Api, UndoReturnsToTheCheckpoint)
{
    k3_load_text(example_file("greeting/greeting.cm").c_str());
    k3_load_text(example_file("greeting/greeting.mm").c_str());
    const std::string cm = k3_cm_load_file(), mm = k3_mm_load_file();
    k3_checkpoint();
    k3_run(1000, 0);
    k3_mm_set(0x100, 0x1234);
    ASSERT_NE(printed(), "");
    EXPECT_EQ(k3_undo(), 1);
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(k3_get(k3_register("CMAR")), 0u);
    EXPECT_EQ(k3_get(k3_register("R1")), 0u);
    EXPECT_EQ(k3_cm_load_file(), cm);
    EXPECT_EQ(k3_mm_load_file(), mm);
    EXPECT_EQ(k3_undo(), 0);

    // A register reset keeps the memories and frees the break points.
    k3_break_set(3);
    k3_run(10, 0);
    k3_reset();
    EXPECT_EQ(k3_get(k3_register("CMAR")), 0u);
    EXPECT_EQ(k3_get(k3_register("R1")), 0u);
    EXPECT_EQ(k3_break_at(3), 0);
    EXPECT_EQ(k3_cm_load_file(), cm);
}

TEST_F(Api, RegistersAreCutToTheirWidths)
{
    const struct { const char *name; uint32_t typed, stored; } cases[] = {
        {"r3", 0x12345, 0x2345}, {"C", 0x1FF, 0xFF}, {"FSR", 0x1F, 0xF},
        {"CMAR", 0x1000, 0x1000}, {"zer", 7, 1}, {"IOCYCLE", 3, 0},
        {"PC", 0x12345, 0x2345}, {"MAR", 0x12345, 0x12345}, {"IR", 0x12345, 0x2345},
        {"iobus", 0x12345, 0x2345}, {"S7", 0x12345, 0x2345}, {"SP", 9, 0},
    };
    for (const auto &c : cases) {
        k3_set(k3_register(c.name), c.typed);
        EXPECT_EQ(k3_get(k3_register(c.name)), c.stored) << c.name;
    }
    EXPECT_EQ(k3_register("R8"), -1);
    EXPECT_TRUE(k3_register_writable(k3_register("T")));
    EXPECT_FALSE(k3_register_writable(k3_register("ADF")));
    EXPECT_FALSE(k3_register_writable(k3_register("STOP")));
    EXPECT_FALSE(k3_register_writable(-1));
}

// The numbering is the interface's: the workbench and check files name the
// registers, and programs built on the interface may keep the numbers.
TEST_F(Api, RegistersKeepTheirNamesAndNumbers)
{
    const char *const names[] = {
        "R0", "R1", "R2", "R3", "R4", "R5", "R6", "R7", "PC", "IR", "MAR", "CMAR", "C", "FSR",
        "LBUS", "RBUS", "ABUS", "SBUS", "IOBUS", "ZER", "NEG", "CRY", "OVR", "CZ", "T",
        "LBF", "RBF", "ALF", "SHF", "SBF", "MMF", "SQF", "TSF", "EXF", "ADF",
        "MEMCYCLE", "IOCYCLE", "SP", "S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7", "STOP",
    };
    ASSERT_EQ(k3_register_count(), static_cast<int>(std::size(names)));
    for (int r = 0; r < k3_register_count(); r++) {
        EXPECT_STREQ(k3_register_name(r), names[r]);
        EXPECT_EQ(k3_register(names[r]), r) << names[r];
    }
    EXPECT_STREQ(k3_register_name(k3_register_count()), "");
}

// Every register the console names one by one is the same register through
// the interface, under the same name, and keeps what Change keeps.
TEST_F(Api, ConsoleRegistersAreTheInterfacesToo)
{
    std::vector<const register_row *> rows;
    for (const register_row &row : register_rows())
        if (row.reg) rows.push_back(&row);   // not the flags and the memories
    ASSERT_EQ(rows.size(), 19u);
    auto reg_of = [](const register_row &row) {
        return k3_register(row.name ? row.name : ("R" + std::to_string(row.index)).c_str());
    };
    auto typed = [](size_t i) { return 0x12340u + static_cast<unsigned>(i) * 0x10101u; };
    for (size_t i = 0; i < rows.size(); i++) {   // all first: no two may share a place
        ASSERT_GE(reg_of(*rows[i]), 0) << i;
        EXPECT_TRUE(k3_register_writable(reg_of(*rows[i]))) << i;
        k3_set(reg_of(*rows[i]), typed(i));
    }
    for (size_t i = 0; i < rows.size(); i++) {
        const register_row &row = *rows[i];
        EXPECT_EQ(register_value(row), changed_value(row, typed(i))) << k3_register_name(reg_of(row));
        EXPECT_EQ(k3_get(reg_of(row)), register_value(row)) << k3_register_name(reg_of(row));
    }
}

// Widths and groups as the page builds its panels from them, and the
// parts of the data path a step used, named as the picture names them.
TEST_F(Api, RegistersReportTheirWidthsGroupsAndTheStepsParts)
{
    const struct {
        const char *name;
        int width;
        const char *group;
        int writable;
    } cases[] = {
        {"R7", 16, "registers", 1},  {"CMAR", 12, "registers", 1}, {"C", 8, "registers", 1}, {"FSR", 4, "registers", 1},
        {"IOBUS", 16, "buses", 1},   {"CZ", 1, "flags", 1},        {"ADF", 9, "fields", 0},  {"SQF", 4, "fields", 0},
        {"IOCYCLE", 2, "cycles", 1}, {"SP", 4, "stack", 1},        {"S3", 16, "stack", 1},   {"STOP", 1, "run", 0},
    };
    for (const auto &c : cases) {
        const int reg = k3_register(c.name);
        ASSERT_GE(reg, 0) << c.name;
        EXPECT_EQ(k3_register_width(reg), c.width) << c.name;
        EXPECT_STREQ(k3_register_group(reg), c.group) << c.name;
        EXPECT_EQ(k3_register_writable(reg), c.writable) << c.name;
    }
    EXPECT_EQ(k3_register_width(k3_register_count()), 0);
    EXPECT_STREQ(k3_register_group(-1), "");

    ASSERT_GT(k3_part_count(), 0);
    EXPECT_STREQ(k3_part_name(0), "CMAR");
    EXPECT_STREQ(k3_part_name(k3_part_count()), "");

    // Greeting word 000: R1 <- the word's constant ED01, C <- its low byte;
    // then 001..003, and 004 takes the word that 003's read delivers.
    k3_load_text(example_file("greeting/greeting.cm").c_str());
    k3_load_text(example_file("greeting/greeting.mm").c_str());
    k3_run(1, 0);
    EXPECT_STREQ(k3_step_parts(0, 0, 0), "CMAR CM MIR SEQ MIR-SEQ SEQ-CMAR R1 C CONST ALU SHIFTER RBUS ABUS SBUS "
                                         "CONST-RBUS SBUS-R1 RBUS-C");
    k3_run(3, 0);
    const uint32_t ir = k3_get(k3_register("IR")), memory_cycle = k3_get(k3_register("MEMCYCLE"));
    ASSERT_EQ(memory_cycle, 1u);   // a read in flight
    k3_run(1, 0);
    const std::string parts = k3_step_parts(ir, memory_cycle, 0);
    EXPECT_NE((" " + parts + " ").find(" MM-LBUS "), std::string::npos) << parts;
    EXPECT_EQ((std::string(" ") + k3_step_parts(ir, 0, 0) + " ").find(" MM-LBUS "), std::string::npos);
}

}  // namespace

TEST(ApiWords, DisassemblyAndFieldsDescribeControlMemory)
{
    k3_power_on();
    k3_load_text(example_file("greeting/greeting.cm").c_str());
    // Word 003: LBF 2, ALF 0, SBF 2, MMF 0, EXF 3.
    EXPECT_STREQ(k3_word_text(3), "L=R2 ALU=ADD TO=R2 MEM=READ EX=ONEIN");
    EXPECT_STREQ(k3_word_text(5), "MEM=IDLE IF ZER JUMP 0x007");
    EXPECT_STREQ(k3_word_text(0x1000), "");
    ASSERT_EQ(k3_field_count(), 10);
    EXPECT_STREQ(k3_field_name(4), "SBF");
    EXPECT_EQ(k3_field_low_bit(4), 22);
    EXPECT_EQ(k3_field_width(9), 9);
    EXPECT_EQ(k3_cm_field(0, 1), 0xBu);    // RBF of FBFC7FED01
    EXPECT_EQ(k3_cm_field(0, 9), 0x101u);  // ADF
    EXPECT_STREQ(k3_mnemonic(0, 12), "MEM");
    EXPECT_STREQ(k3_mnemonic(1, 10), "");    // R=#: a constant, no mnemonic
    EXPECT_STREQ(k3_mnemonic(7, 5), "CZERO");
    EXPECT_STREQ(k3_mnemonic(6, 0), "");

    // The disassembly assembles back to the same control memory.
    const std::string cm = k3_cm_load_file(), source = k3_disassemble();
    ASSERT_EQ(k3_assemble("greeting.masm", source.c_str(), 0), 0) << k3_assembly_messages();
    EXPECT_EQ(k3_assembly_load_file(), cm);
    EXPECT_NE(std::string(k3_assembly_labels()).find("\nL_003 0x003\n"), std::string::npos);
}
