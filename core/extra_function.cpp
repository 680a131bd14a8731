#include "core/extra_function.hpp"

#include "core/machine_state.hpp"

void extra_function() {}
