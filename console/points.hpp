// Break points and trace points: two tables of 32 slots, each edited in the
// same small S)et, R)eset, D)isplay menu.
#pragma once

// The Break command.
void break_point_menu();

// The trace point menu of the Trace command.
void trace_point_menu();
