// Shared ground for the tests that go through the Run command: the command
// with the operator's answers, and break points placed straight in the table.
#pragma once

#include <string>

#include "console/run.hpp"
#include "tests/unit/core_fixture.hpp"

class RunCommandTest : public CoreTest {
protected:
    // The Run command with the operator's answers.
    void run(const std::string &answers)
    {
        StdinFeed feed(answers);
        run_command();
    }

    void set_break_point(int slot, int32_t address, int in_use = 1)
    {
        M.break_points[slot] = {in_use, address};
        M.break_active = 1;
    }
};
