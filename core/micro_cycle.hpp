// One micro-cycle: fetch, decode and execute the micro-instruction at CMAR.
#pragma once

// Executes the whole micro-instruction at CMAR, whatever stop_flag holds; on
// return CMAR addresses the next one. Faults are reported and set stop_flag.
void micro_cycle();
