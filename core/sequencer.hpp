// The sequencer: next control-memory address and the test conditions.
#pragma once

// The condition that TSF selects: 1 true, 0 false.
int test_condition();

// Sets CMAR to the next micro-instruction's address by SQF, from the current
// CMAR, TSF, ADF, IR and the CMAR return stack.
void sequence_next();
