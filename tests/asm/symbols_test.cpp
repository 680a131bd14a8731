// Symbol files: the assembler's labels written out and read back, and the
// disassembler naming words by them.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "asm/disassembler.hpp"
#include "asm/listing.hpp"
#include "tests/asm/asm_helpers.hpp"

namespace {

std::string temp_file(const std::string &text)
{
    char name[] = "/tmp/kalvo3_sym_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    return name;
}

}  // namespace

TEST(Symbols, LabelsOnlyInAddressOrderAndReadBack)
{
    diagnostics diag;
    assembler a(source_kind::micro, diag);
    a.assemble_text("t.masm", ".EQU K 5\n.ORG 0x20\nlate: NOP\n.ORG 0x10\nfirst: alias:\nTO=R2 JUMP late\n");
    ASSERT_FALSE(diag.has_errors());
    std::string text = symbol_file_text(a);
    EXPECT_EQ(text, "; labels of t.masm and their CM addresses\nfirst 0x010\nalias 0x010\nlate 0x020\n");

    std::string path = temp_file(text);
    std::map<uint32_t, std::string> names;
    EXPECT_TRUE(read_symbol_file(path, names, diag));
    EXPECT_EQ(names, (std::map<uint32_t, std::string>{{0x10, "first"}, {0x20, "late"}}));
    remove(path.c_str());
}

TEST(Symbols, MalformedLinesAreNamedByFileLineAndColumn)
{
    const struct {
        const char *text;
        const char *error;   // after "PATH:"
    } cases[] = {
        {"; ok\n\nfetch 0x001 ; comment\n9lives 002\n", "4:1: error: a label is expected"},
        {"fetch\n", "1:6: error: a hexadecimal address 0..0xFFFF is expected after 'fetch'"},
        {"fetch 0x10000\n", "1:7: error: a hexadecimal address 0..0xFFFF is expected after 'fetch'"},
        {"fetch 0x0FFFFF\n", "1:7: error: a hexadecimal address 0..0xFFFF is expected after 'fetch'"},
        {"fetch 01G\n", "1:7: error: a hexadecimal address 0..0xFFFF is expected after 'fetch'"},
        {"fetch 001 002\n", "1:11: error: unexpected text after the address"},
        {"a 1\r\nb 2\r\na 3\r\n", "3:1: error: 'a' is given again (first on line 1)"},
        {"\x7F" "ELF\x01\x01\n", "1:1: error: a label is expected"},
    };
    for (const auto &c : cases) {
        std::string path = temp_file(c.text);
        diagnostics diag;
        std::map<uint32_t, std::string> names;
        EXPECT_FALSE(read_symbol_file(path, names, diag)) << c.text;
        ASSERT_EQ(diag.messages().size(), 1u) << c.text;
        EXPECT_EQ(diag.messages()[0], path + ":" + c.error);
        remove(path.c_str());
    }
    diagnostics diag;
    std::map<uint32_t, std::string> names;
    EXPECT_FALSE(read_symbol_file("/tmp", names, diag));
    EXPECT_EQ(diag.messages().at(0), "/tmp: error: is a directory, not a symbol file");
}

// The text reader that kalvo3-check shares: every label in file order with
// its line, up to the first malformed line, whose number it gives.
TEST(Symbols, TextGivesEveryLabelWithItsLine)
{
    const struct {
        const char *text;
        repeated_labels repeats;
        int bad_line;
        const char *labels;   // "name address line", joined by blanks
        const char *error;    // the message after "t.sym:", or ""
    } cases[] = {
        {"; c\n# c\nstart 0x000\n\nalias 0\nstart 2 ; again\n", repeated_labels::allowed, 0,
         "start 0 3 alias 0 5 start 2 6", ""},
        {"; c\n# c\nstart 0x000\n\nalias 0\nstart 2 ; again\n", repeated_labels::error, 6,
         "start 0 3 alias 0 5", "6:1: error: 'start' is given again (first on line 3)"},
        {"a 1\r\n  b 0xFFFF\nc 0x000000C", repeated_labels::error, 0, "a 1 1 b 65535 2 c 12 3", ""},
        {"a 1\nb\nc 3\n", repeated_labels::allowed, 2, "a 1 1",
         "2:2: error: a hexadecimal address 0..0xFFFF is expected after 'b'"},
        {"", repeated_labels::error, 0, "", ""},
    };
    for (const auto &c : cases) {
        diagnostics diag;
        std::vector<symbol_entry> labels;
        EXPECT_EQ(read_symbol_text(c.text, "t.sym", labels, c.repeats, diag), c.bad_line) << c.text;
        std::string got;
        for (const symbol_entry &l : labels)
            got += (got.empty() ? "" : " ") + l.name + " " + std::to_string(l.address) + " " + std::to_string(l.line);
        EXPECT_EQ(got, c.labels) << c.text;
        EXPECT_EQ(diag.messages().empty() ? "" : diag.messages()[0], *c.error ? std::string("t.sym:") + c.error : "")
            << c.text;
    }
}

// Given names label their words even where nothing jumps; jump targets
// without one get L_xxx, made unique against the given names; a long name
// stands on a line of its own. The text assembles back to the same words.
TEST(Symbols, DisassemblyUsesTheNames)
{
    const std::map<uint32_t, uint64_t> words = {
        {0, assemble_source("TO=R3 JUMP 1").words.at(0)},
        {1, assemble_source("TO=R1 JUMP 2").words.at(0)},
        {2, assemble_source("EX=HALT").words.at(0)},
    };
    const std::map<uint32_t, std::string> names = {{0, "L_001"}, {2, "a_long_label"}, {5, "nowhere"}};
    std::string text = disassemble(words, names);
    EXPECT_NE(text.find("L_001:  TO=R3 JUMP L_001_ "), std::string::npos) << text;
    EXPECT_NE(text.find("L_001_: TO=R1 JUMP a_long_label "), std::string::npos) << text;
    EXPECT_NE(text.find("a_long_label:\n        EX=HALT "), std::string::npos) << text;
    EXPECT_EQ(text.find("nowhere"), std::string::npos) << text;
    assembly again = assemble_source(text);
    ASSERT_TRUE(again.ok) << again.messages[0] << "\n" << text;
    EXPECT_EQ(again.words, words);
}
