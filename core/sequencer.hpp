// The sequencer: next control-memory address and the test conditions.
#pragma once

int test_condition();
void sequence_next();
