#include "console/run.hpp"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "console/line_input.hpp"
#include "core/devices.hpp"
#include "core/fast_loop.hpp"
#include "core/machine_state.hpp"

namespace {

// The break points by their address's low 12 bits, made when a run with
// break points starts: the table cannot change while the run goes on, so each
// step costs one byte test, and check_break_points runs (for its exact
// messages) only on a possible hit. An address beyond the control memory
// marks the byte of its low bits, so a CMAR there is never missed; a CMAR
// that merely shares the low bits costs one walk and prints nothing.
uint8_t break_map[CM_WORDS];

void make_break_map()
{
    memset(break_map, 0, sizeof break_map);
    for (const point_slot &slot : M.break_points)
        if (slot.in_use) break_map[static_cast<uint32_t>(slot.address) & CM_LIMIT] = 1;
}

bool break_point_may_hit() { return break_map[M.CMAR & CM_LIMIT]; }

// Steps while no break point is set.
uint64_t run_plain(uint64_t limit) { return fast_run(limit); }

// Steps with break points checked before the first step and after every step.
// Only the first check before a step can hit: every later one looks at the
// address that the check after the step before has just passed. The fast
// loop returns at every address a break point may name.
uint64_t run_with_break_points(uint64_t limit)
{
    make_break_map();
    if (limit == 0) return 0;
    check_break_points();
    uint64_t steps = 0;
    while (steps < limit) {
        steps += fast_run(limit - steps);   // its first step even after a hit before it
        if (break_point_may_hit()) [[unlikely]] check_break_points();
        if (M.stop_flag) break;
    }
    return steps;
}

// Steps until a stop is requested or the step limit is used up, and leaves
// the count in step_count. Without a limit the count wraps at 32 bits instead
// of overflowing.
void run_steps(bool no_step_limit)
{
    const uint64_t limit = no_step_limit ? UINT64_MAX : static_cast<uint64_t>(std::max(M.max_steps, 0));
    const uint64_t steps = M.break_active ? run_with_break_points(limit) : run_plain(limit);
    M.step_count = static_cast<int32_t>(static_cast<uint32_t>(steps));
}

}  // namespace

bool read_run_parameters(bool &no_step_limit)
{
    char line[LINE_SIZE];
    no_step_limit = false;

    console_print(" CMAR=?");
    read_console_line(line);   // end of input reads as the empty line
    if (is_end_token(line)) return false;
    if (strcasecmp(line, "CNT") != 0)   // "CNT" continues from the present CMAR
        M.CMAR = static_cast<uint32_t>(hex_to_i32(line));
    if (M.CMAR > CM_LIMIT) {   // negative addresses included
        report(ERR_CM_LIMIT);
        M.CMAR = 0;
    }

    M.max_steps = -1;
    console_print(" MAX STEP=?");
    if (!read_console_line(line) || line[0] == '.') return false;
    if (line[0] == '\0') {
        console_print("   MAX STEP IS NOT USED\n");
        no_step_limit = true;
    } else {
        M.max_steps = decimal_to_i32(line);
    }
#ifdef KALVO3_FUZZ_STEP_CAP
    // Fuzz builds only: every run and trace run ends within the cap, so no
    // input can keep the fuzzer waiting on a microprogram that never halts.
    if (no_step_limit || M.max_steps > KALVO3_FUZZ_STEP_CAP) M.max_steps = KALVO3_FUZZ_STEP_CAP;
    no_step_limit = false;
#endif
    return true;
}

void check_break_points()
{
    for (const point_slot &slot : M.break_points)
        if (slot.in_use && static_cast<uint32_t>(slot.address) == M.CMAR) {
            console_print(" BREAK !! AT %03X\n", M.CMAR);
            M.stop_flag = 1;
        }
}

void finish_run()
{
    flush_printer();
    console_print(" CPU HALTED !\n");
    if (M.step_count == M.max_steps)
        console_print(" MAX STEPS EXAUSTED\n");
    else
        console_print(" % 3d STEPS USED\n", M.step_count);
}

void run_command()
{
    console_print("RUN\n");
    bool no_step_limit;
    if (!read_run_parameters(no_step_limit)) return;

    M.stop_flag = 0;
    M.step_count = 0;
    console_print(" Running\n");
    run_steps(no_step_limit);
    finish_run();
}
