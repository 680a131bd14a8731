// Break points and trace points: two tables of 32 slots, each edited in the
// same small S)et, R)eset, D)isplay menu.
#pragma once

#include <cstdint>

#include "core/machine_state.hpp"

// Adds address to the table unless an in-use slot already holds it; the
// lowest-numbered free slot takes it. With all slots in use it reports
// `overflow`, stores nothing and returns false.
bool set_point(point_slot (&table)[POINT_SLOTS], int32_t address, error_number overflow);

// Frees every in-use slot that holds address (the address stays in the slot).
void clear_point(point_slot (&table)[POINT_SLOTS], int32_t address);

bool any_point_in_use(const point_slot (&table)[POINT_SLOTS]);

// The Break command: "BREAK POINT", then the menu on break_points.
void break_point_menu();

// The trace point menu of the Trace command, on trace_points.
void trace_point_menu();
