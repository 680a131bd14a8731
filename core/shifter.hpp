// The shifter: SBUS from ABUS by SHF, with the IR load of EXF 4.
#pragma once

void shift_operate();
