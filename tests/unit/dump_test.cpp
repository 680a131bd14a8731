// Dump listings over whole memories: clamped to the last word, never wrapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "console/dump.hpp"
#include "core/machine_state.hpp"
#include "tests/unit/stdin_feed.hpp"

namespace {

std::string dump(const std::string &session)
{
    StdinFeed feed(session);
    StdoutCapture capture;
    dump_command();
    return capture.text();
}

long lines_in(const std::string &text) { return std::count(text.begin(), text.end(), '\n'); }

}  // namespace

TEST(DumpListing, HugeEndAddressStopsAtTheLastCmWord)
{
    clear_control_memory();
    M.CM[0] = 0xABCDEF0123;
    M.CM[0xFFF] = 0xFFFFFFFFFFFFFFFF;   // bits above 39 print as further digits
    std::string out = dump("c\n0\nFFFFFFFF\n.\n");
    // "DUMP", the error report (empty line, ERROR 4, message), 4096 words.
    EXPECT_EQ(lines_in(out), 1 + 3 + 4096);
    EXPECT_NE(out.find("END   ADRS ?\nERROR 4\n"), std::string::npos);
    EXPECT_NE(out.find("\n000:ABCDEF0123\n001:0000000000\n"), std::string::npos);
    EXPECT_NE(out.find("\nFFF:FFFFFFFFFFFFFFFF\n  D?"), std::string::npos);
}

TEST(DumpListing, HugeEndAddressStopsAtTheLastMmWord)
{
    clear_main_memory();
    M.MM[0xFFFF] = 0x1234;
    std::string out = dump("m\n-1\n-1\nm\n0\nFFFFFFFF\n.\n");
    // The first listing starts past the end (two reports, nothing listed); the
    // second covers all of MM once.
    EXPECT_EQ(lines_in(out), 1 + 3 + 3 + 3 + 65536);
    EXPECT_EQ(out.find("FFFF:1234\n"), out.rfind("FFFF:1234\n"));
    EXPECT_NE(out.find("\nFFFF:1234\n  D?"), std::string::npos);
}
