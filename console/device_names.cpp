#include "console/device_names.hpp"

#include <cctype>
#include <strings.h>

#include "console/line_input.hpp"
#include "core/machine_state.hpp"

namespace {

struct device_name {
    device_code code;
    const char *name;
};

// Compared whole and without regard to case, in this order.
const device_name NAME_TABLE[] = {
    {DEV_PC,   "PC"},   {DEV_IR,    "IR"},    {DEV_LBUS, "LBUS"}, {DEV_SBUS,     "SBUS"},
    {DEV_ABUS, "ABUS"}, {DEV_IOBUS, "IOBUS"}, {DEV_FSR,  "FSR"},  {DEV_RBUS,     "RBUS"},
    {DEV_CM,   "CM"},   {DEV_MM,    "MM"},    {DEV_MAR,  "MAR"},  {DEV_CMAR,     "CMAR"},
    {DEV_C,    "C"},    {DEV_FLAG,  "FLAG"},  {DEV_ALL,  "*"},    {DEV_ALL_REGS, "R*"},
    {DEV_ALL_BUSES, "B*"}, {DEV_END, "."},
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int parse_device_name(int &register_index)
{
    char line[LINE_SIZE];
    register_index = -1;
    console_print("  DEVICE ?");
    read_console_line(line);
    if (is_end_token(line)) return DEV_END;

    // R and a digit is always a register: its decimal digits (up to the first
    // non-digit) must name R0..R7, and it never reaches the name table.
    if (toupper(static_cast<unsigned char>(line[0])) == 'R' && is_digit(line[1])) {
        int32_t number = decimal_to_i32(line + 1);
        if (number <= 7) {
            register_index = number;
            return DEV_REGISTER;
        }
    } else {
        for (const device_name &entry : NAME_TABLE)
            if (strcasecmp(line, entry.name) == 0) return entry.code;
    }
    report(ERR_ILLEGAL_INPUT);
    return DEV_UNKNOWN;
}
