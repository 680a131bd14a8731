#include "console/run.hpp"

#include <strings.h>

#include "console/line_input.hpp"
#include "core/devices.hpp"
#include "core/machine_state.hpp"
#include "core/micro_cycle.hpp"

namespace {

// One step of a run with break points set: the check at the address about to
// be executed, the micro-cycle (executed even after a hit), the check at the
// next address.
[[gnu::noinline]] void step_between_break_checks()
{
    check_break_points();
    micro_cycle();
    check_break_points();
}

// Steps until a stop is requested or the step limit is used up. This is the
// simulator's hot path: flattened, so that the micro-cycle and the machine
// steps it calls are compiled into the loop; break points cost one flag test
// per step while none is set.
[[gnu::flatten]] void run_steps(bool no_step_limit)
{
    while (M.step_count < M.max_steps || no_step_limit) {
        if (M.break_active) [[unlikely]]
            step_between_break_checks();
        else
            micro_cycle();
        // Without a limit the count wraps at 32 bits instead of overflowing.
        M.step_count = static_cast<int32_t>(static_cast<uint32_t>(M.step_count) + 1);
        if (M.stop_flag) break;
    }
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

void run_command()
{
    console_print("RUN\n");
    bool no_step_limit;
    if (!read_run_parameters(no_step_limit)) return;

    M.stop_flag = 0;
    M.step_count = 0;
    console_print(" Running\n");
    run_steps(no_step_limit);
    flush_printer();

    console_print(" CPU HALTED !\n");
    if (M.step_count == M.max_steps)
        console_print(" MAX STEPS EXAUSTED\n");
    else
        console_print(" % 3d STEPS USED\n", M.step_count);
}
