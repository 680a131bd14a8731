#include "console/change.hpp"

#include <cstdint>

#include "console/device_names.hpp"
#include "console/line_input.hpp"
#include "console/registers.hpp"
#include "core/machine_state.hpp"
#include "core/micro_word.hpp"

namespace {

// Control-memory words from a start address until an end token or past 0xFFF.
void change_control_memory()
{
    char line[LINE_SIZE];
    console_print("    FROM ADRS ?");
    for (uint32_t address = read_cm_address();; address++) {
        if (address > CM_LIMIT) {
            report_error(ERR_CM_LIMIT);
            return;
        }
        console_print("     %03X:%010llX->", address,
                      static_cast<unsigned long long>(M.CM[address]));
        read_console_line(line);
        if (is_end_token(line)) return;
        M.CM[address] = static_cast<uint64_t>(hex_to_i64(line)) & MICRO_WORD_MASK;
    }
}

// Main-memory words from a start address until an end token or past 0xFFFF.
void change_main_memory()
{
    console_print("    FROM ADRS ?");
    for (uint32_t address = read_mm_address();; address++) {
        if (address > MM_LIMIT) {
            report_error(ERR_MM_LIMIT);
            return;
        }
        console_print("     %04X:%04X->", address, M.MM[address]);
        int end = 0;
        int32_t value = read_hex_value(&end);
        if (end) return;
        M.MM[address] = static_cast<uint16_t>(value);
    }
}

int ask_flag(const char *question)
{
    console_print("%s", question);
    return read_flag_value();
}

// All six questions are always asked; a rejected answer sets the flag.
void change_flags()
{
    console_print("    PLEASE KEY IN (0 OR 1)");
    M.ZER = ask_flag("    ZER ?");
    M.NEG = ask_flag("    NEG ?");
    M.CRY = ask_flag("    CRY ?");
    M.OVR = ask_flag("    OVR ?");
    M.CZ  = ask_flag("    CZ  ?");
    M.T   = ask_flag("    T   ?");
}

// Asks for the new value of one row, showing the present one, and stores it.
void change_row(const register_row &row)
{
    const unsigned value = register_value(row);
    switch (row.change) {
    case CHANGE_REGISTER:   // every answer stores something: one without digits is 0
        console_print("    R[%d]:%0*X->", row.index, row.digits, value);
        store_register_value(row, changed_value(row, static_cast<unsigned>(read_hex_value())));
        break;
    case CHANGE_VALUE:
        console_print("    %s:%0*X->", row.name, row.digits, value & row.mask);
        store_register_value(row, changed_value(row, static_cast<unsigned>(read_hex_value())));
        break;
    case CHANGE_CM_ADDRESS:   // kept even beyond 0xFFF
        console_print("    %s:%0*X->", row.name, row.digits, value);
        store_register_value(row, read_cm_address());
        break;
    case CHANGE_MM_ADDRESS:   // kept even beyond 0xFFFF
        console_print("    %s:%0*X->", row.name, row.digits, value);
        store_register_value(row, read_mm_address());
        break;
    case CHANGE_FLAGS: change_flags(); break;
    case CHANGE_CM_WORDS: change_control_memory(); break;
    case CHANGE_MM_WORDS: change_main_memory(); break;
    }
}

}  // namespace

void change_command()
{
    console_print("CHANGE\n");
    for (;;) {
        int index;
        const int code = parse_device_name(index);
        if (code == DEV_END) return;   // end token, end of input
        // The group names and an unknown name (error 7 already shown) have no row.
        if (const register_row *row = find_register_row(code, index)) change_row(*row);
    }
}
