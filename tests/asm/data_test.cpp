// Main-memory data sources and the load-file writer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "core/load_file.hpp"
#include "tests/asm/asm_helpers.hpp"

TEST(Data, NumbersCharactersStringsAndLabels)
{
    assembly a = assemble_source(
        "        .EQU    PRINT 0xD000\n"
        "        .ORG    0x0100\n"
        "main:   .WORD   PRINT + message, 0xF000\n"
        "message: .WORD  \"Hi\\n\", '\\\\', 0, -1   ; a string places one word per character\n"
        "length: .WORD   length - message, -(main - 0x0FF), 0b101\n",
        source_kind::data, "t.mdat");
    ASSERT_TRUE(a.ok) << a.messages[0];
    const std::map<uint32_t, uint64_t> expected = {
        {0x100, 0xD102}, {0x101, 0xF000},                  // main
        {0x102, 'H'}, {0x103, 'i'}, {0x104, 0x0A},          // message
        {0x105, '\\'}, {0x106, 0}, {0x107, 0xFFFF},
        {0x108, 6}, {0x109, 0xFFFF}, {0x10A, 5},            // length
    };
    EXPECT_EQ(a.words, expected);
}

TEST(Data, IncludedConstantsAreShared)
{
    std::string data = std::getenv("KALVO3_ASM_TEST_DATA");
    diagnostics diag;
    assembler a(source_kind::data, diag);
    a.assemble_file(data + "/program.mdat");
    ASSERT_FALSE(diag.has_errors()) << diag.messages()[0];
    const std::map<uint32_t, uint64_t> expected = {{0x10, 0x1000 + 0x12}, {0x11, 0xF000}, {0x12, 'x'}};
    EXPECT_EQ(a.words(), expected);
}

// Writes through `write` into a memory stream and gives the text.
template <typename F> static std::string written(F write)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *file = open_memstream(&text, &size);
    write(file);
    fclose(file);
    std::string out(text, size);
    free(text);
    return out;
}

TEST(LoadWriter, LinesReadBackByTheLoaderAsTheSameWords)
{
    EXPECT_EQ(written([](FILE *f) {
                  write_load_header(f, LOAD_MM);
                  write_mm_line(f, 0x100, 0xD102);
                  write_mm_line(f, 0xFFFF, 0x0A);
              }),
              "MM\n0100  D102\nFFFF  000A\n");
    EXPECT_EQ(written([](FILE *f) {
                  write_load_header(f, LOAD_CM);
                  write_cm_line(f, 0x00F, 0xAF1F0F0600);
              }),
              "CM\n00F  AF1F0F0600\n");

    // Words with bits above 39, bit 63 among them, survive the loader's
    // signed 64-bit conversion.
    for (uint64_t word : {uint64_t{0x123FCDB691E00}, ~uint64_t{0}, uint64_t{1} << 63, uint64_t{0x7FFFFFFFFFFFFFFF}}) {
        std::string line = written([&](FILE *f) { write_cm_line(f, 0xFFF, word); });
        uint32_t address = 0;
        uint64_t value = 0;
        ASSERT_TRUE(load_file_line(LOAD_CM, line.c_str(), address, value)) << line;
        EXPECT_EQ(address, 0xFFFu);
        EXPECT_EQ(value, word) << line;
    }
}
