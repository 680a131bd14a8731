#include "console/registers.hpp"

#include <strings.h>

namespace {

constexpr unsigned REGS = GROUP_ALL | GROUP_REGISTERS;

// A row of a described register: its name, width (and so its hex digits)
// and place from the description.
constexpr register_row row(device_code code, machine_register_id id, column_kind column, const char *header,
                           const char *trail, unsigned groups, change_kind change, const char *lead = "")
{
    const machine_register &reg = described(id);
    const int digits = (reg.width + 3) / 4;
    return {code, -1, &reg, reg.name, column, header, lead, digits, trail, width_mask(reg), groups, change};
}

constexpr const char *GENERAL_HEADERS[REGISTERS] = {" R0  ", " R1  ", " R2  ", " R3  ",
                                                    " R4  ", " R5  ", " R6  ", " R7  "};

// R0..R7, typed by their own rule rather than by name.
constexpr register_row general(int r)
{
    register_row g = row(DEV_REGISTER, static_cast<machine_register_id>(REG_R0 + r), HEX_COLUMN, nullptr, " ", REGS,
                         CHANGE_REGISTER);
    g.index = r;
    g.name = nullptr;
    g.header = GENERAL_HEADERS[r];
    return g;
}

// A row of no single register: the flag group and the memories.
constexpr register_row undescribed(device_code code, const char *name, column_kind column, const char *header,
                                   const char *trail, unsigned groups, change_kind change)
{
    return {code, -1, nullptr, name, column, header, "", 0, trail, 0, groups, change};
}

}  // namespace

// clang-format off
const register_row REGISTER_ROWS[] = {
    //  code       register  column      header    trail groups       change
    row(DEV_CMAR,  REG_CMAR, HEX_COLUMN, "CMAR ",  "  ", GROUP_ALL,   CHANGE_CM_ADDRESS),
    row(DEV_MAR,   REG_MAR,  HEX_COLUMN, "MAR  ",  " ", GROUP_ALL,   CHANGE_MM_ADDRESS),
    row(DEV_C,     REG_C,    HEX_COLUMN, "C  ",    " ", GROUP_ALL,   CHANGE_VALUE),
    row(DEV_PC,    REG_PC,   HEX_COLUMN, " PC  ",  " ", GROUP_ALL,   CHANGE_VALUE),
    row(DEV_IR,    REG_IR,   HEX_COLUMN, " IR  ",  " ", GROUP_ALL,   CHANGE_VALUE),
    undescribed(DEV_FLAG, "FLAG", FLAG_COLUMN, "ZNCOCT ", " ", GROUP_ALL, CHANGE_FLAGS),
    row(DEV_FSR,   REG_FSR,  HEX_COLUMN, "FSR ",   "  ", GROUP_ALL,   CHANGE_VALUE, " "),
    general(0), general(1), general(2), general(3), general(4), general(5), general(6), general(7),
    row(DEV_LBUS,  REG_LBUS, HEX_COLUMN, "LBUS ",  " ", GROUP_BUSES, CHANGE_VALUE),
    row(DEV_RBUS,  REG_RBUS, HEX_COLUMN, "RBUS ",  " ", GROUP_BUSES, CHANGE_VALUE),
    row(DEV_ABUS,  REG_ABUS, HEX_COLUMN, "ABUS ",  " ", GROUP_BUSES, CHANGE_VALUE),
    row(DEV_SBUS,  REG_SBUS, HEX_COLUMN, "SBUS ",  " ", GROUP_BUSES, CHANGE_VALUE),
    row(DEV_IOBUS, REG_IOBUS, HEX_COLUMN, "IOBUS ", " ", GROUP_BUSES, CHANGE_VALUE),
    undescribed(DEV_CM, "CM", NO_COLUMN, nullptr, "", 0, CHANGE_CM_WORDS),
    undescribed(DEV_MM, "MM", NO_COLUMN, nullptr, "", 0, CHANGE_MM_WORDS),
};
// clang-format on

const int REGISTER_ROW_COUNT = sizeof REGISTER_ROWS / sizeof REGISTER_ROWS[0];
static_assert(sizeof REGISTER_ROWS / sizeof REGISTER_ROWS[0] <= MAX_REGISTER_ROWS);

namespace {

struct group_name {
    device_code code;
    const char *name;
    unsigned group;
};

const group_name GROUP_NAMES[] = {
    {DEV_ALL, "*", GROUP_ALL},
    {DEV_ALL_REGS, "R*", GROUP_REGISTERS},
    {DEV_ALL_BUSES, "B*", GROUP_BUSES},
};

char *put_text(char *p, const char *text)
{
    while (*text) *p++ = *text++;
    return p;
}

// value in upper-case hex with at least `digits` digits, as "%0*X" would.
char *put_hex(char *p, unsigned value, int digits)
{
    int length = digits;   // more only for a value that the console set beyond its width
    while (length < 8 && (value >> (4 * length)) != 0) length++;
    for (int i = length - 1; i >= 0; i--) {
        p[i] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    }
    return p + length;
}

char flag_char(int flag) { return flag ? '1' : '0'; }

// The end of a line: the last column's trailing blank dropped if the style
// says so, then the line end.
char *end_line(char *start, char *p, const column_style &style)
{
    if (!style.trailing_blank && p > start && p[-1] == ' ') p--;
    *p++ = '\n';
    return p;
}

}  // namespace

const register_row *find_register_row(int code, int index)
{
    for (const register_row &row : register_rows())
        if (row.code == code && row.index == index) return &row;
    return nullptr;
}

unsigned group_of(int code)
{
    for (const group_name &g : GROUP_NAMES)
        if (g.code == code) return g.group;
    return 0;
}

int device_code_of_name(const char *name)
{
    for (const register_row &row : register_rows())
        if (row.name && strcasecmp(name, row.name) == 0) return row.code;
    for (const group_name &g : GROUP_NAMES)
        if (strcasecmp(name, g.name) == 0) return g.code;
    return DEV_UNKNOWN;
}

unsigned register_value(const register_row &row) { return row.reg ? register_value(*row.reg) : 0; }

void store_register_value(const register_row &row, unsigned value)
{
    if (row.reg) store_value(*row.reg, value);
}

unsigned changed_value(const register_row &row, unsigned value)
{
    return row.reg ? kept_value(*row.reg, value) : value & row.mask;
}

column_set columns_of(const column_style &style)
{
    column_set columns{{}, 0, style};
    for (const register_row &row : register_rows())
        if (row.column != NO_COLUMN && style.shown(row)) columns.rows[columns.count++] = &row;
    return columns;
}

char *format_register_header(char *p, const column_set &columns)
{
    char *start = p;
    for (int i = 0; i < columns.count; i++) p = put_text(p, columns.rows[i]->header);
    return end_line(start, p, columns.style);
}

char *format_register_values(char *p, const column_set &columns)
{
    char *start = p;
    for (int i = 0; i < columns.count; i++) {
        const register_row &row = *columns.rows[i];
        p = put_text(p, row.lead);
        if (row.column == HEX_COLUMN) {
            p = put_hex(p, register_value(row), row.digits);
        } else {   // ZER NEG CRY OVR, counter zero, T
            *p++ = flag_char(M.ZER);
            *p++ = flag_char(M.NEG);
            *p++ = flag_char(M.CRY);
            *p++ = flag_char(M.OVR);
            *p++ = flag_char(columns.style.counter_zero_from_c ? M.C == 0 : M.CZ);
            *p++ = flag_char(M.T);
        }
        p = put_text(p, row.trail);
    }
    return end_line(start, p, columns.style);
}
