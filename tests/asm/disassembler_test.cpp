// Disassembly: readable source that assembles back to the very same words,
// read from CM load files exactly as the simulator's Load reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <unistd.h>

#include "asm/disassembler.hpp"
#include "asm/mnemonics.hpp"
#include "console/load.hpp"
#include "core/machine_state.hpp"
#include "tests/asm/asm_helpers.hpp"
#include "tests/unit/stdin_feed.hpp"

namespace {

// Disassembles the words, assembles the text and expects the same words.
void expect_round_trip(const std::map<uint32_t, uint64_t> &words)
{
    std::string source = disassemble(words);
    assembly a = assemble_source(source);
    ASSERT_TRUE(a.ok) << a.messages[0] << "\n" << source;
    for (auto [address, word] : words) {
        ASSERT_TRUE(a.words.count(address)) << std::hex << address;
        ASSERT_EQ(a.words.at(address), word) << std::hex << "address " << address << "\n" << source;
    }
    EXPECT_EQ(a.words.size(), words.size());
}

}  // namespace

TEST(Disassembler, EveryCodeOfEveryFieldRoundTrips)
{
    for (uint64_t base : {DEFAULT_MICRO_WORD, uint64_t{0}, MICRO_WORD_MASK}) {
        std::map<uint32_t, uint64_t> words;
        uint32_t address = 0;
        for (micro_field field : MICRO_FIELDS)
            for (uint64_t code = 0; code < (uint64_t{1} << field.width); code += field.width == 9 ? 7 : 1)
                words[address++] = with_field(base, field, code);
        expect_round_trip(words);
    }
}

TEST(Disassembler, RandomWordsFillingControlMemoryRoundTrip)
{
    std::mt19937_64 random(20240607);
    std::map<uint32_t, uint64_t> words;
    for (uint32_t address = 0; address <= CM_LIMIT; address++) words[address] = random() & MICRO_WORD_MASK;
    expect_round_trip(words);

    // Bits 63..40 too, which only HI= can write; a sparse memory needs .ORG.
    std::map<uint32_t, uint64_t> sparse;
    for (int i = 0; i < 300; i++) sparse[static_cast<uint32_t>(random() & CM_LIMIT)] = random();
    expect_round_trip(sparse);
}

TEST(Disassembler, ReadableSourceWithLabelsForTargets)
{
    const std::map<uint32_t, uint64_t> words = {
        {0x000, 0xAF1F0F0600},   // fetch
        {0x001, 0xCFFFEF0800},
        {0x002, 0xFFFFE51E01},   // SQF 5, ADF 1: table 0x010
        {0x010, 0xFFFFE01E00},   // SQF 0 to 0x000
        {0x011, 0xFFFFE41F23},   // SQF 4, TSF 0, ADF 0x123: no word there
        {0x012, 0xFAFFE0BE34},   // RBF 10 and SQF 0: ADF serves both
        {0x013, 0xFFFFE7BFE5},   // SQF 7, TSF 5, ADF 0x1E5: bits the table leaves out
    };
    EXPECT_EQ(disassemble(words),
              "L_000:  L=PC ALU=ADD TO=PC MEM=READ EX=ONEIN            ; 000  AF1F0F0600\n"
              "        L=MEM EX=LOADIR                                 ; 001  CFFFEF0800\n"
              "        DISPATCH OP L_010                               ; 002  FFFFE51E01\n"
              "        .ORG 0x010\n"
              "L_010:  JUMP L_000                                      ; 010  FFFFE01E00\n"
              "        IF NOT ZER JUMP 0x123                           ; 011  FFFFE41F23\n"
              "        R=#0x034 SQF=0 TSF=5                            ; 012  FAFFE0BE34\n"
              "        SQF=7 TSF=5 ADF=0x1E5                           ; 013  FFFFE7BFE5\n");
    expect_round_trip(words);
}

namespace {

std::string write_temp(const std::string &text)
{
    char name[] = "/tmp/kalvo3_asm_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    return name;
}

}  // namespace

TEST(Disassembler, ReadsTheWordsTheSimulatorsLoadStores)
{
    std::string text = "CM  header comment\n"
                       "000  AF1F0F0600\n"
                       "10  1234567890\n"            // the value column is 5: one digit lost
                       "1000  0000000001\n"          // beyond CM: skipped
                       "5\n"                         // no value column: nothing stored
                       "000  FFFFEF1E00\n"           // the later word wins
                       "030  -1\n"                   // all 64 bits
                       "040  7\r041  8\r\n"            // a CR alone ends a line too
                       "001  5" + std::string(505, ' ') + "020  1234\n";   // beyond 511 characters: skipped
    std::string path = write_temp(text);

    diagnostics diag;
    std::map<uint32_t, uint64_t> words;
    ASSERT_TRUE(read_cm_load_file(path, words, diag));
    const std::map<uint32_t, uint64_t> expected = {
        {0x000, 0xFFFFEF1E00}, {0x001, 5}, {0x010, 0x234567890}, {0x030, ~uint64_t{0}}, {0x040, 7}, {0x041, 8}};
    EXPECT_EQ(words, expected);
    ASSERT_EQ(diag.messages().size(), 2u);
    EXPECT_EQ(diag.messages()[0], path + ":4:1: warning: address 0x1000 is beyond control memory: Load skips this line");
    EXPECT_EQ(diag.messages()[1], path + ":6:1: warning: address 0x000 appears again: this word replaces the one of line 2");

    // The simulator's own Load of the same file stores the same words.
    M.CM[0x001] = M.CM[0x010] = M.CM[0x020] = M.CM[0x030] = M.CM[0x040] = M.CM[0x041] = 0;
    {
        StdoutCapture console;
        StdinFeed answer(path + "\n");
        load_command();
    }
    for (auto [address, word] : expected) EXPECT_EQ(M.CM[address], word) << std::hex << address;
    EXPECT_EQ(M.CM[0x020], 0u);
    remove(path.c_str());
}

TEST(Disassembler, RefusesWhatIsNotACmLoadFile)
{
    for (const char *text : {"MM\n0000  0001\n", " CM\n", ""}) {
        std::string path = write_temp(text);
        diagnostics diag;
        std::map<uint32_t, uint64_t> words;
        EXPECT_FALSE(read_cm_load_file(path, words, diag));
        ASSERT_EQ(diag.messages().size(), 1u);
        EXPECT_EQ(diag.messages()[0], path + ":1:1: error: not a CM load file: the first line must begin with CM");
        remove(path.c_str());
    }
    diagnostics diag;
    std::map<uint32_t, uint64_t> words;
    EXPECT_FALSE(read_cm_load_file("/nonexistent/x.cm", words, diag));
    EXPECT_EQ(diag.messages().at(0), "/nonexistent/x.cm: error: cannot open the file");
}
