#include "core/stepping.hpp"

#include <algorithm>
#include <cstring>

#include "core/fast_loop.hpp"
#include "core/machine_state.hpp"
#include "core/micro_cycle.hpp"

namespace {

// The break points by their address's low 12 bits, made when a run with
// break points starts (the table cannot change during a run):
// check_break_points, with its exact messages, runs only where the map is
// set. An address beyond the control memory marks the entry of its low bits,
// so a CMAR there is never missed; a CMAR that merely shares the low bits
// makes a walk that prints nothing.
uint8_t break_map[CM_WORDS];

void make_break_map()
{
    memset(break_map, 0, sizeof break_map);
    for (const point_slot &slot : M.break_points)
        if (slot.in_use) break_map[static_cast<uint32_t>(slot.address) & CM_LIMIT] = 1;
}

bool break_point_may_hit() { return break_map[M.CMAR & CM_LIMIT]; }

// The steps of a run in step_count, which wraps at 32 bits for a run without
// a limit instead of overflowing.
uint64_t counted(uint64_t steps)
{
    M.step_count = static_cast<int32_t>(static_cast<uint32_t>(steps));
    return steps;
}

uint64_t run_plain(uint64_t limit, uint64_t *counts)
{
    uint64_t steps = 0;
    while (steps < limit) {
        steps += fast_run(limit - steps, counts);
        if (M.stop_flag) break;
    }
    return steps;
}

uint64_t run_with_break_points(uint64_t limit, uint64_t *counts)
{
    make_break_map();
    if (limit == 0) return 0;
    check_break_points();
    uint64_t steps = 0;
    while (steps < limit) {
        steps += fast_run(limit - steps, counts);   // its first step even after a hit before it
        if (break_point_may_hit()) [[unlikely]] check_break_points();
        if (M.stop_flag) break;
    }
    return steps;
}

}  // namespace

uint64_t step_limit(bool no_step_limit)
{
    uint64_t limit = no_step_limit ? UINT64_MAX : static_cast<uint64_t>(std::max(M.max_steps, 0));
#ifdef KALVO3_FUZZ_STEP_CAP
    // Fuzz builds only: no input can keep the fuzzer waiting on a
    // microprogram that never halts.
    limit = std::min<uint64_t>(limit, KALVO3_FUZZ_STEP_CAP);
#endif
    return limit;
}

uint64_t run_steps(uint64_t limit, uint64_t *counts)
{
    return counted(M.break_active ? run_with_break_points(limit, counts) : run_plain(limit, counts));
}

uint64_t trace_steps(uint64_t limit, void (*show)())
{
    uint64_t steps = 0;
    while (steps < limit) {
        micro_cycle();
        show();
        if (M.break_active) check_break_points();
        steps++;
        if (M.stop_flag) break;
    }
    return counted(steps);
}

void check_break_points()
{
    for (const point_slot &slot : M.break_points)
        if (slot.in_use && static_cast<uint32_t>(slot.address) == M.CMAR) {
            console_print(" BREAK !! AT %03X\n", M.CMAR);
            M.stop_flag = 1;
        }
}
