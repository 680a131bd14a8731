// Expressions nest to a fixed depth: beyond it the assembler reports where,
// and returns, whatever the input holds (a million levels included).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "asm/listing.hpp"
#include "asm_helpers.hpp"

namespace {

std::string repeated(const std::string &piece, int times)
{
    std::string text;
    for (int i = 0; i < times; i++) text += piece;
    return text;
}

struct nesting_case {
    const char *what;
    std::string source;
    source_kind kind;
    const char *message;   // nullptr: assembles; else the one message's start
};

TEST(Nesting, DeepExpressionsStopWithTheirPosition)
{
    const std::string deepest = repeated("(", 64) + "1" + repeated(")", 64);
    const nesting_case cases[] = {
        {"64 parentheses", "R=#" + deepest, source_kind::micro, nullptr},
        {"64 signs", "R=#" + repeated("-", 62) + "++1", source_kind::micro, nullptr},
        {"65 parentheses", "R=#(" + deepest + ")", source_kind::micro, "t.masm:1:68: error: the expression nests more"},
        {"65 signs", "R=#" + repeated("-", 65) + "1", source_kind::micro,
         "t.masm:1:68: error: the expression nests more"},
        {"a million parentheses", "R=#" + repeated("(", 1000000) + "1" + repeated(")", 1000000), source_kind::micro,
         "t.masm:1:68: error:"},
        {"100000 signs in .EQU", ".EQU x " + repeated("-", 100000) + "1", source_kind::micro, "t.masm:1:72: error:"},
        {"mixed, in a data word", ".WORD 1, " + repeated("-(", 100) + "2" + repeated(")", 100), source_kind::data,
         "t.mdat:1:74: error:"},
    };
    for (const nesting_case &c : cases) {
        assembly a = assemble_source(c.source, c.kind, c.kind == source_kind::data ? "t.mdat" : "t.masm");
        if (!c.message) {
            EXPECT_TRUE(a.ok && a.messages.empty()) << c.what << ": " << testing::PrintToString(a.messages);
            continue;
        }
        ASSERT_EQ(a.messages.size(), 1u) << c.what;
        EXPECT_EQ(a.messages[0].rfind(c.message, 0), 0u) << c.what << ": " << a.messages[0];
        EXPECT_FALSE(a.ok) << c.what;
    }
}

// Includes read from memory: found by the name joined to the including
// file's directory, an error where one is missing, and a file that includes
// itself stopped at the depth limit.
TEST(Nesting, IncludesFromMemory)
{
    const std::map<std::string, std::string> files = {
        {"consts.inc", ".EQU TARGET 0x10\n.INCLUDE \"sub/more.inc\"\n"},
        {"sub/more.inc", "NOP\n"},
        {"self.inc", ".INCLUDE \"self.inc\"\n"},
        {"twice.inc", "NOP\n.INCLUDE \"twice.inc\"\n.INCLUDE \"twice.inc\"\n"},
    };
    struct include_case {
        const char *source;
        size_t words;          // placed when it assembles
        const char *message;   // nullptr: no message; else a piece of one
    } cases[] = {
        {".INCLUDE \"consts.inc\"\nJUMP TARGET", 2, nullptr},
        {"NOP\n.INCLUDE \"missing.inc\"", 0, "main.masm:2:10: error: cannot open 'missing.inc'"},
        {".INCLUDE \"self.inc\"", 0, "self.inc:1:1: error: includes nested too deeply"},
        // Twice itself: 2^16 reads within the depth limit, stopped at 256.
        {".INCLUDE \"twice.inc\"", 0, "error: more than 256 includes in one assembly"},
    };
    for (const include_case &c : cases) {
        diagnostics diag;
        assembler a(source_kind::micro, diag);
        a.include_from(&files);
        a.assemble_text("main.masm", c.source);
        if (!c.message) {
            EXPECT_TRUE(diag.records().empty()) << c.source << ": " << testing::PrintToString(diag.messages());
            EXPECT_EQ(a.words().size(), c.words) << c.source;
            continue;
        }
        std::vector<std::string> said = diag.messages();
        EXPECT_TRUE(std::any_of(said.begin(), said.end(),
                                [&](const std::string &m) { return m.find(c.message) != std::string::npos; }))
            << c.source << ": " << testing::PrintToString(said);
        EXPECT_LE(said.size(), 600u) << c.source;
        // The listing shows each message once, however often its file is read.
        std::string listing = listing_text(a, {false, &diag});
        size_t shown = 0;
        for (size_t at = listing.find("\n***"); at != std::string::npos; at = listing.find("\n***", at + 1)) shown++;
        EXPECT_EQ(shown, said.size()) << c.source;
    }
}

}   // namespace
