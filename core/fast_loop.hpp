// The fast run loop: the micro-cycle of core/micro_cycle.cpp for whole runs,
// over control-memory words decoded into the work each one does.
#pragma once

#include <cstdint>

// Executes micro-instructions from CMAR, as many calls of micro_cycle() would,
// until stop_flag is set, `limit` steps are made, or (while break_active) CMAR
// reaches an address that a break point may name: a break point address of
// the control memory, or any address beyond it. Returns the steps made and
// leaves the machine state as micro_cycle() would have left it. The first
// step is always made, whatever stop_flag and the break points hold. The
// caller checks the break points after the return; none is looked at here.
// With `counts` (CM_WORDS + 1 of them), each step adds one to the count of
// the address it ran from, the last for any address beyond the control
// memory.
uint64_t fast_run(uint64_t limit, uint64_t *counts = nullptr);

// A value of the machine that a watching run follows, named by where M
// holds it: a register, bus, flag, cycle state or stack entry, or a
// main-memory word (not CMAR, CZ or the fields: fast_loop_watches says).
struct value_watch {
    const void *at;
    uint64_t changed_in;   // the run's last step (1 the first) after which it
                           // differed from before that step; 0 none
    uint32_t changed_by;   // the CMAR that step ran from
};

// Whether a watching run can follow the value at `at`.
bool fast_loop_watches(const void *at);

// fast_run without counts, noting in `watch` the last step of the run that
// changed the watched value and the word it ran.
uint64_t fast_run_watching(uint64_t limit, value_watch &watch);
