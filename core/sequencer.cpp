#include "core/sequencer.hpp"

#include "core/machine_state.hpp"

int test_condition() { return 0; }
void sequence_next() {}
