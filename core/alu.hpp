// The ALU: ABUS and the flags from LBUS, RBUS and ALF.
#pragma once

// Combines LBUS and RBUS by ALF (by IR bits 6..4 when ALF is 5) into ABUS and
// sets the flags the code calls for; the carry-in comes from EXF 2 or 3.
void alu_operate();
