#include "console/points.hpp"

#include "console/line_input.hpp"

namespace {

// What tells one point menu from the other.
struct point_menu_kind {
    const char *title;            // printed once on entry
    const char *prompt;           // menu prompt
    const char *address_prompt;
    point_slot (&table)[POINT_SLOTS];
    error_number overflow;        // reported when all slots are in use
    int &active;                  // recomputed on leaving
};

const point_menu_kind BREAK_POINTS = {
    "BREAK POINT\n", "  B?",  "   ADRS ?",  M.break_points, ERR_BREAK_OVERFLOW, M.break_active,
};
const point_menu_kind TRACE_POINTS = {
    "",              "   TA?", "    ADRS ?", M.trace_points, ERR_TRACE_OVERFLOW, M.trace_active,
};

void display_points(const point_slot (&table)[POINT_SLOTS])
{
    for (const point_slot &slot : table)
        if (slot.in_use) console_print("     %04X\n", static_cast<unsigned>(slot.address));
}

// Reads addresses until "." or end of input and sets (or clears) each. An
// address beyond the control memory is reported and still taken as typed.
void address_loop(const point_menu_kind &kind, bool setting)
{
    char line[LINE_SIZE];
    for (;;) {
        console_print("%s", kind.address_prompt);
        if (!read_console_line(line) || line[0] == '.') return;
        int32_t address = hex_to_i32(line);
        if (static_cast<uint32_t>(address) > CM_LIMIT) report_error(ERR_CM_LIMIT);
        if (setting)
            set_point(kind.table, address, kind.overflow);
        else
            clear_point(kind.table, address);
    }
}

void point_menu(const point_menu_kind &kind)
{
    console_print("%s", kind.title);
    for (char choice; (choice = read_choice(kind.prompt)) != '.';) {
        switch (choice) {
        case 'D': display_points(kind.table); break;
        case 'R': address_loop(kind, false); break;
        case 'S': address_loop(kind, true); break;
        default: console_print("Please key in S)et, R)eset, D)isplay or \".\"(end)\n"); break;
        }
    }
    kind.active = any_point_in_use(kind.table);
}

}  // namespace

bool set_point(point_slot (&table)[POINT_SLOTS], int32_t address, error_number overflow)
{
    point_slot *free_slot = nullptr;
    for (point_slot &slot : table) {
        if (slot.in_use && slot.address == address) return true;
        if (!slot.in_use && !free_slot) free_slot = &slot;
    }
    if (!free_slot) {
        report_error(overflow);
        return false;
    }
    free_slot->in_use = 1;
    free_slot->address = address;
    return true;
}

void clear_point(point_slot (&table)[POINT_SLOTS], int32_t address)
{
    for (point_slot &slot : table)
        if (slot.in_use && slot.address == address) slot.in_use = 0;
}

bool any_point_in_use(const point_slot (&table)[POINT_SLOTS])
{
    for (const point_slot &slot : table)
        if (slot.in_use) return true;
    return false;
}

void break_point_menu() { point_menu(BREAK_POINTS); }

void trace_point_menu() { point_menu(TRACE_POINTS); }
