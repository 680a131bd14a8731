#include "core/shifter.hpp"

#include "core/machine_state.hpp"

void shift_operate() {}
