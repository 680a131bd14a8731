// The card reader and the line printer, each test in a fresh directory of
// its own: transfer timing across cycles, the end of the cards, the printer
// file's life, the I/O instruction errors and transfers without a stream.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/micro_cycle.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

class DeviceTest : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        ASSERT_NE(getcwd(home_, sizeof home_), nullptr);
        char pattern[] = "/tmp/kalvo3_devices_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }

    void TearDown() override
    {
        close_devices();
        EXPECT_EQ(chdir(home_), 0);
        std::remove((dir_ + "/KALV.CRD").c_str());
        std::remove((dir_ + "/KALV.LPT").c_str());
        rmdir(dir_.c_str());
    }

    static void write_file(const char *name, const std::string &text)
    {
        std::ofstream(name, std::ios::binary) << text;
    }

    // The file as it stands on disk; "<none>" when it does not exist.
    static std::string file_text(const char *name)
    {
        std::ifstream in(name, std::ios::binary);
        if (!in) return "<none>";
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Starts a transfer with the I/O instruction `ir` and completes it, as two
    // consecutive cycles would.
    static void transfer(uint16_t ir)
    {
        M.IR = ir;
        start_io();
        complete_input();
        complete_output();
    }

private:
    char home_[4096];
    std::string dir_;
};

}  // namespace

TEST_F(DeviceTest, CardBytesReachIobusInTheNextCycle)
{
    write_file("KALV.CRD", "AB\n");
    M.IR = 0xEC00;
    M.CM[0] = micro{.exf = 7}.word();
    for (int r = 0; r < 4; r++)   // take the byte into Rr and start the next input
        M.CM[1 + r] = micro{.lbf = 11, .sbf = r, .exf = r < 3 ? 7 : 15}.word();

    micro_cycle();
    EXPECT_EQ(M.io_cycle, 1);
    EXPECT_EQ(M.IOBUS, 0);
    for (int r = 0; r < 4; r++) micro_cycle();
    EXPECT_EQ(M.R[0], 0x0041);
    EXPECT_EQ(M.R[1], 0x0042);
    EXPECT_EQ(M.R[2], 0x000A);
    EXPECT_EQ(M.R[3], 0xFFFF);
    EXPECT_EQ(M.IOBUS, 0xFFFF);
    EXPECT_EQ(M.io_cycle, 0);
    EXPECT_EQ(errors(), (std::vector<int>{12}));
    EXPECT_EQ(console(), "\nERROR 12\n NO DATA ON I/O DEVICE !\n");

    // The cards are not rewound: the next input meets the end again.
    transfer(0xEC00);
    EXPECT_EQ(errors(), (std::vector<int>{12, 12}));
}

TEST_F(DeviceTest, PrinterTakesIobusInTheMiddleOfTheNextCycle)
{
    M.IR = 0xED01;
    M.IOBUS = 0x1241;
    M.R[0] = 0x0042;
    M.R[1] = 0x000A;
    M.CM[0] = micro{.exf = 7}.word();
    M.CM[1] = micro{}.word();                    // writes the IOBUS held since before
    M.CM[2] = micro{.exf = 7}.word();
    M.CM[3] = micro{.lbf = 0, .exf = 5}.word();  // writes the value it copies to IOBUS
    M.CM[4] = micro{.lbf = 1, .exf = 5}.word();
    M.CM[5] = micro{.exf = 7}.word();
    M.CM[6] = micro{}.word();
    micro_cycle();
    EXPECT_EQ(M.io_cycle, 2);
    EXPECT_EQ(file_text("KALV.LPT"), "");        // created empty at the start
    for (int i = 1; i < 7; i++) micro_cycle();
    EXPECT_EQ(M.io_cycle, 0);
    EXPECT_EQ(file_text("KALV.LPT"), "AB\n");    // on disk already: a line end flushes
    EXPECT_EQ(errors(), none());
}

TEST_F(DeviceTest, PrinterFileEmptiedOnceThenCollectsEveryRun)
{
    write_file("KALV.LPT", "left from before\n");
    M.IOBUS = 'X';
    transfer(0xED01);
    flush_printer();
    EXPECT_EQ(file_text("KALV.LPT"), "X");

    M.IOBUS = 'Y';
    transfer(0xED01);   // a later start keeps the open stream
    close_devices();
    EXPECT_EQ(M.printer_file, nullptr);
    EXPECT_EQ(file_text("KALV.LPT"), "XY");
}

// A printer stream that refuses writes while `refusing` is set, as a full
// disk does, and keeps what it takes in `taken`.
struct refusing_printer {
    bool refusing = false;
    std::string taken;

    FILE *open()
    {
        cookie_io_functions_t io{};
        io.write = [](void *cookie, const char *data, size_t size) -> ssize_t {
            auto *printer = static_cast<refusing_printer *>(cookie);
            if (printer->refusing) {
                errno = ENOSPC;
                return -1;
            }
            printer->taken.append(data, size);
            return static_cast<ssize_t>(size);
        };
        FILE *file = fopencookie(this, "w", io);
        setvbuf(file, nullptr, _IONBF, 0);
        return file;
    }
};

TEST_F(DeviceTest, RefusedPrinterBytesWaitInOrderUntilTheFileTakesThem)
{
    refusing_printer printer;
    M.printer_file = printer.open();
    auto print = [](const char *text) {
        for (; *text; text++) {
            M.IOBUS = static_cast<uint8_t>(*text);
            transfer(0xED01);
        }
    };
    print("A");
    printer.refusing = true;
    print("BC");                                   // each refused output reports
    EXPECT_EQ(printer.taken, "A");
    EXPECT_EQ(errors(), (std::vector<int>{17, 17}));
    printer.refusing = false;
    print("D");                                    // the waiting bytes first, no report
    EXPECT_EQ(printer.taken, "ABCD");
    EXPECT_EQ(errors(), (std::vector<int>{17, 17}));

    // More bytes than the printer keeps: it writes nothing more, ever.
    printer.refusing = true;
    for (int i = 0; i < 300; i++) print("x");
    printer.refusing = false;
    print("E");
    EXPECT_EQ(printer.taken, "ABCD");
    EXPECT_EQ(errors().size(), 2u + 301u);
}

TEST_F(DeviceTest, UndefinedInstructionsAndDevices)
{
    write_file("KALV.CRD", "A");
    M.IR = 0xEC01;
    start_io();
    EXPECT_EQ(M.io_cycle, 1);
    EXPECT_EQ(M.reader_file, nullptr);
    M.io_cycle = 0;
    M.IR = 0xED00;
    start_io();
    EXPECT_EQ(M.io_cycle, 2);
    EXPECT_EQ(M.printer_file, nullptr);
    EXPECT_EQ(errors(), (std::vector<int>{9, 9}));

    for (uint16_t ir : {0xEE00, 0x0000, 0xEB00}) {
        M.io_cycle = 0;
        M.IR = ir;
        start_io();
        EXPECT_EQ(M.io_cycle, 0) << ir;
    }
    EXPECT_EQ(errors(), (std::vector<int>{9, 9, 8, 8, 8}));
    EXPECT_NE(console().find("\nERROR 8\n UNDEFINED I/O INSTRUCTION ON IR !\n"), std::string::npos);
    EXPECT_NE(console().find("\nERROR 9\n UNDEFINED I/O DEVICE NO. ON IR !\n"), std::string::npos);
}

// A transfer completing with no open stream: the input ends as at the end of
// the cards, the output writes nothing; the next valid start opens the file.
TEST_F(DeviceTest, TransfersWithoutAStream)
{
    M.IOBUS = 'Z';
    transfer(0xED00);
    EXPECT_EQ(M.io_cycle, 0);
    EXPECT_EQ(file_text("KALV.LPT"), "<none>");

    transfer(0xEC00);   // no card file yet: the open fails quietly
    EXPECT_EQ(M.reader_file, nullptr);
    EXPECT_EQ(M.IOBUS, 0xFFFF);
    EXPECT_EQ(M.io_cycle, 0);
    EXPECT_EQ(errors(), (std::vector<int>{9, 12}));

    write_file("KALV.CRD", "QR");
    transfer(0xEC00);
    EXPECT_EQ(M.IOBUS, 'Q');
    transfer(0xEC07);   // wrong device, but the open stream still delivers
    EXPECT_EQ(M.IOBUS, 'R');
    EXPECT_EQ(errors(), (std::vector<int>{9, 12, 9}));
}
