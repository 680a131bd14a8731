// The shifter: SBUS from ABUS by SHF, with the IR load of EXF 4.
#pragma once

// Loads IR from LBUS under EXF 4, then forms SBUS from ABUS by SHF and sets
// CRY (and OVR for the arithmetic left shift); EXF 2 or 3 gives the shift-in bit.
void shift_operate();
