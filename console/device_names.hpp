// Device names: how the operator names a register, bus, memory or flag set,
// for the Change command and the trace display selection.
#pragma once

#include "core/machine_state.hpp"   // device_code

// Prints "  DEVICE ?", reads one line and returns its device code;
// register_index is -1 unless the code is DEV_REGISTER.
int parse_device_name(int &register_index);
