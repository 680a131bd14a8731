#include "core/micro_cycle.hpp"

#include "core/machine_state.hpp"

void micro_cycle() { M.CMAR++; }
