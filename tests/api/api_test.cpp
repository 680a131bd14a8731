// The C interface drives the same machine as the console: the bundled
// examples give the console's results through it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "api/kalvo3_api.h"

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
}

TEST_F(Api, RegistersAreCutToTheirWidths)
{
    const struct { const char *name; uint32_t typed, stored; } cases[] = {
        {"r3", 0x12345, 0x2345}, {"C", 0x1FF, 0xFF}, {"FSR", 0x1F, 0xF},
        {"CMAR", 0x1000, 0x1000}, {"zer", 7, 1}, {"IOCYCLE", 3, 0},
    };
    for (const auto &c : cases) {
        k3_set(k3_register(c.name), c.typed);
        EXPECT_EQ(k3_get(k3_register(c.name)), c.stored) << c.name;
    }
    EXPECT_EQ(k3_register("R8"), -1);
}

}  // namespace
