// The ALU: ABUS and the flags from LBUS, RBUS and ALF.
#pragma once

void alu_operate();
