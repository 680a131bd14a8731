#include "console/registers.hpp"

#include <strings.h>

namespace {

constexpr unsigned REGS = GROUP_ALL | GROUP_REGISTERS;

}  // namespace

// clang-format off
const register_row REGISTER_ROWS[] = {
    // code    index name    column       header     lead digits trail mask    word16      word32     groups       change
    {DEV_CMAR,  -1, "CMAR",  HEX_COLUMN,  "CMAR ",   "",  3,    "  ", 0,      nullptr,    &M.CMAR,   GROUP_ALL,   CHANGE_CM_ADDRESS},
    {DEV_MAR,   -1, "MAR",   HEX_COLUMN,  "MAR  ",   "",  4,    " ",  0,      nullptr,    &M.MAR,    GROUP_ALL,   CHANGE_MM_ADDRESS},
    {DEV_C,     -1, "C",     HEX_COLUMN,  "C  ",     "",  2,    " ",  0xFF,   nullptr,    &M.C,      GROUP_ALL,   CHANGE_VALUE},
    {DEV_PC,    -1, "PC",    HEX_COLUMN,  " PC  ",   "",  4,    " ",  0xFFFF, nullptr,    &M.PC,     GROUP_ALL,   CHANGE_VALUE},
    {DEV_IR,    -1, "IR",    HEX_COLUMN,  " IR  ",   "",  4,    " ",  0xFFFF, &M.IR,      nullptr,   GROUP_ALL,   CHANGE_VALUE},
    {DEV_FLAG,  -1, "FLAG",  FLAG_COLUMN, "ZNCOCT ", "",  0,    " ",  0,      nullptr,    nullptr,   GROUP_ALL,   CHANGE_FLAGS},
    {DEV_FSR,   -1, "FSR",   HEX_COLUMN,  "FSR ",    " ", 1,    "  ", 0xF,    &M.FSR,     nullptr,   GROUP_ALL,   CHANGE_VALUE},
    {DEV_REGISTER, 0, nullptr, HEX_COLUMN, " R0  ",  "",  4,    " ",  0xFFFF, &M.R[0],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_REGISTER, 1, nullptr, HEX_COLUMN, " R1  ",  "",  4,    " ",  0xFFFF, &M.R[1],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_REGISTER, 2, nullptr, HEX_COLUMN, " R2  ",  "",  4,    " ",  0xFFFF, &M.R[2],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_REGISTER, 3, nullptr, HEX_COLUMN, " R3  ",  "",  4,    " ",  0xFFFF, &M.R[3],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_REGISTER, 4, nullptr, HEX_COLUMN, " R4  ",  "",  4,    " ",  0xFFFF, &M.R[4],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_REGISTER, 5, nullptr, HEX_COLUMN, " R5  ",  "",  4,    " ",  0xFFFF, &M.R[5],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_REGISTER, 6, nullptr, HEX_COLUMN, " R6  ",  "",  4,    " ",  0xFFFF, &M.R[6],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_REGISTER, 7, nullptr, HEX_COLUMN, " R7  ",  "",  4,    " ",  0xFFFF, &M.R[7],    nullptr,   REGS,        CHANGE_REGISTER},
    {DEV_LBUS,  -1, "LBUS",  HEX_COLUMN,  "LBUS ",   "",  4,    " ",  0xFFFF, &M.LBUS,    nullptr,   GROUP_BUSES, CHANGE_VALUE},
    {DEV_RBUS,  -1, "RBUS",  HEX_COLUMN,  "RBUS ",   "",  4,    " ",  0xFFFF, &M.RBUS,    nullptr,   GROUP_BUSES, CHANGE_VALUE},
    {DEV_ABUS,  -1, "ABUS",  HEX_COLUMN,  "ABUS ",   "",  4,    " ",  0xFFFF, &M.ABUS,    nullptr,   GROUP_BUSES, CHANGE_VALUE},
    {DEV_SBUS,  -1, "SBUS",  HEX_COLUMN,  "SBUS ",   "",  4,    " ",  0xFFFF, &M.SBUS,    nullptr,   GROUP_BUSES, CHANGE_VALUE},
    {DEV_IOBUS, -1, "IOBUS", HEX_COLUMN,  "IOBUS ",  "",  4,    " ",  0xFFFF, &M.IOBUS,   nullptr,   GROUP_BUSES, CHANGE_VALUE},
    {DEV_CM,    -1, "CM",    NO_COLUMN,   nullptr,   "",  0,    "",   0,      nullptr,    nullptr,   0,           CHANGE_CM_WORDS},
    {DEV_MM,    -1, "MM",    NO_COLUMN,   nullptr,   "",  0,    "",   0,      nullptr,    nullptr,   0,           CHANGE_MM_WORDS},
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

unsigned register_value(const register_row &row)
{
    if (row.word16) return *row.word16;
    if (row.word32) return *row.word32;
    return 0;
}

void store_register_value(const register_row &row, unsigned value)
{
    if (row.word16) *row.word16 = static_cast<uint16_t>(value);
    if (row.word32) *row.word32 = value;
}

unsigned changed_value(const register_row &row, unsigned value)
{
    return row.change == CHANGE_CM_ADDRESS || row.change == CHANGE_MM_ADDRESS ? value : value & row.mask;
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
