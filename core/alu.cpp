#include "core/alu.hpp"

#include "core/machine_state.hpp"

void alu_operate() {}
