#include "console/device_names.hpp"

#include <cctype>

#include "console/line_input.hpp"
#include "console/registers.hpp"
#include "core/machine_state.hpp"

namespace {

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
        if (number < REGISTERS) {
            register_index = number;
            return DEV_REGISTER;
        }
    } else if (int code = device_code_of_name(line); code != DEV_UNKNOWN) {
        return code;   // compared whole and without regard to case
    }
    report_error(ERR_ILLEGAL_INPUT);
    return DEV_UNKNOWN;
}
