// Why a run ended, as the machine records it: the same for a run and a
// trace run, ranked when one step has several reasons, and the first error
// reported kept until a run or an operator action starts.
#include <gtest/gtest.h>

#include <vector>

#include "core/stepping.hpp"
#include "tests/unit/core_fixture.hpp"

namespace {

const micro HALT{.exf = 13};
const micro HALT_OV{.exf = 14};
const micro RESERVED_RBF{.rbf = 12};    // error 1
const micro EMPTY_RETURN{.sqf = 2};     // error 2 with an empty stack

class StopReasonTest : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        M.stop_reason = STOP_ERROR;   // left over from before: start_run clears them
        M.first_error = ERR_IO_ERROR;
        start_run();
    }
};

void no_show() {}

TEST_F(StopReasonTest, RunAndTraceRecordTheSameReason)
{
    struct program {
        const char *what;
        std::vector<micro> words;   // from address 0
        int break_at;               // -1 none
        uint64_t limit;
        stop_reason reason;
        int error;
        uint64_t steps;
    };
    const program cases[] = {
        {"halt", {micro{}, HALT}, -1, 10, STOP_HALT, 0, 2},
        {"halt with the lamp", {HALT_OV}, -1, 10, STOP_HALT, 0, 1},
        {"limit", {micro{}, micro{}, micro{}, micro{}}, -1, 3, STOP_NONE, 0, 3},
        {"error", {micro{}, RESERVED_RBF, HALT}, -1, 10, STOP_ERROR, 1, 2},
        {"break point", {micro{}, micro{}, HALT}, 2, 10, STOP_BREAK, 0, 2},
        {"error and halt in one step", {micro{.rbf = 12, .exf = 13}}, -1, 10, STOP_ERROR, 1, 1},
        {"halt onto a break point", {HALT, HALT}, 1, 10, STOP_BREAK, 0, 1},
        {"error onto a break point", {RESERVED_RBF, HALT}, 1, 10, STOP_ERROR, 1, 1},
        {"two errors in one step", {micro{.rbf = 12, .sqf = 2}}, -1, 10, STOP_ERROR, 2, 1},
    };
    for (const bool trace : {false, true})
        for (const program &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (trace ? " (trace)" : " (run)"));
            SetUp();
            for (size_t a = 0; a < c.words.size(); a++) M.CM[a] = c.words[a].word();
            if (c.break_at >= 0) {
                M.break_points[0] = {1, c.break_at};
                M.break_active = 1;
            }
            start_run();
            const uint64_t steps = trace ? trace_steps(c.limit, no_show) : run_steps(c.limit);
            EXPECT_EQ(steps, c.steps);
            EXPECT_EQ(M.stop_reason, c.reason);
            EXPECT_EQ(M.first_error, c.error);
            EXPECT_EQ(M.stop_flag, c.reason != STOP_NONE);
        }
}

TEST_F(StopReasonTest, TheFirstErrorStaysUntilAnActionOrRunStarts)
{
    report_error(ERR_NO_DATA);
    report_error(ERR_MM_LIMIT);
    EXPECT_EQ(M.first_error, ERR_NO_DATA);
    EXPECT_EQ(M.stop_reason, STOP_ERROR);
    EXPECT_EQ(errors(), (std::vector<int>{12, 3}));

    start_action();   // the run's verdict stays; the next error is the action's own
    EXPECT_EQ(M.first_error, 0);
    EXPECT_EQ(M.stop_reason, STOP_ERROR);
    EXPECT_EQ(M.stop_flag, 1);
    report_error(ERR_BREAK_OVERFLOW);
    EXPECT_EQ(M.first_error, ERR_BREAK_OVERFLOW);

    start_run();
    EXPECT_EQ(M.first_error, 0);
    EXPECT_EQ(M.stop_reason, STOP_NONE);
    EXPECT_EQ(M.stop_flag, 0);
}

TEST_F(StopReasonTest, TheHighestRankingReasonStays)
{
    const struct {
        std::vector<stop_reason> recorded;
        stop_reason kept;
    } cases[] = {
        {{STOP_HALT}, STOP_HALT},
        {{STOP_HALT, STOP_BREAK}, STOP_BREAK},
        {{STOP_BREAK, STOP_HALT}, STOP_BREAK},
        {{STOP_ERROR, STOP_BREAK, STOP_HALT}, STOP_ERROR},
        {{STOP_HALT, STOP_BREAK, STOP_ERROR}, STOP_ERROR},
    };
    for (const auto &c : cases) {
        start_run();
        for (stop_reason reason : c.recorded) record_stop(reason);
        EXPECT_EQ(M.stop_reason, c.kept);
        EXPECT_EQ(M.stop_flag, 1);
    }
}

TEST_F(StopReasonTest, MessagesComeFromTheOneTable)
{
    char text[ERROR_TEXT_SIZE];
    ASSERT_TRUE(error_message(ERR_CM_LIMIT, text));
    EXPECT_STREQ(text, " OUT OF CM ADDRESS LIMIT (0-FFF) ! ");
    report_error(ERR_CM_LIMIT);
    EXPECT_EQ(console(), "\nERROR 4\n" + std::string(text) + "\n");
    EXPECT_FALSE(error_message(6, text));
    EXPECT_STREQ(text, "");
}

}  // namespace
