#include "console/run.hpp"

#include <strings.h>

#include "console/line_input.hpp"
#include "core/devices.hpp"
#include "core/machine_state.hpp"

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
        report_error(ERR_CM_LIMIT);
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
    return true;
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

    start_run();
    M.step_count = 0;
    console_print(" Running\n");
    console_flush();   // all the dialogue shows while the run goes on
    run_steps(step_limit(no_step_limit));
    finish_run();
}
