#include "console/load.hpp"

#include <cstdio>
#include <cstring>

#include "console/line_input.hpp"
#include "core/machine_state.hpp"

namespace {

// Where the value of a data line begins: a CM line is three address digits,
// two separators and ten value digits; an MM line four, two and four.
constexpr size_t CM_VALUE_COLUMN = 5;
constexpr size_t MM_VALUE_COLUMN = 6;

// True when the line reaches its value column, its newline counted. A shorter
// line has no value field; looking only this far never reads past the end of
// the line's text into what an earlier, longer line left in the buffer.
bool reaches(const char *line, size_t column) { return strnlen(line, column) == column; }

// Stores every further line of the file in the memory that target (CM or MM)
// names.
void load_data_lines(FILE *file, load_target target)
{
    char line[LINE_SIZE];
    uint32_t address;
    uint64_t value;
    while (read_load_line(file, line)) {
        if (!load_file_line(target, line, address, value)) continue;   // no value: skipped
        if (target == LOAD_CM) {   // the whole 64-bit value: bits above 39 as the file gives them
            if (address <= CM_LIMIT)
                M.CM[address] = value;
            else
                report(ERR_CM_LIMIT);
        } else {                   // the low 16 bits
            if (address <= MM_LIMIT)
                M.MM[address] = static_cast<uint16_t>(value);
            else
                report(ERR_MM_LIMIT);
        }
    }
}

}  // namespace

bool read_load_line(FILE *file, char *line)
{
    size_t length = 0;
    int byte;
    while ((byte = getc_unlocked(file)) != EOF) {
        if (length < LINE_SIZE - 1) line[length++] = static_cast<char>(byte);
        if (byte == '\n') break;
        if (byte == '\r') {   // a line end, with the newline that may follow it
            const int next = getc_unlocked(file);
            if (next == '\n' && length < LINE_SIZE - 1)
                line[length++] = '\n';
            else if (next != '\n' && next != EOF)
                ungetc(next, file);
            break;
        }
    }
    line[length] = '\0';
    return byte != EOF || length > 0;
}

load_target load_file_header(const char *line)
{
    if (line[0] == 'C' && line[1] == 'M') return LOAD_CM;
    if (line[0] == 'M' && line[1] == 'M') return LOAD_MM;
    return LOAD_INVALID;
}

bool load_file_line(load_target target, const char *line, uint32_t &address, uint64_t &value)
{
    switch (target) {
    case LOAD_INVALID: return false;
    case LOAD_CM:
        if (!reaches(line, CM_VALUE_COLUMN)) return false;
        value = static_cast<uint64_t>(hex_to_i64(line + CM_VALUE_COLUMN));
        break;
    case LOAD_MM:
        if (!reaches(line, MM_VALUE_COLUMN)) return false;
        value = hex_to_u32(line + MM_VALUE_COLUMN);
        break;
    }
    address = hex_to_u32(line);
    return true;
}

void load_command()
{
    char name[LINE_SIZE];
    console_print("LOAD\n  FILE NAME=?");
    read_console_line(name);   // no end token here: "." and the empty line are names too
    console_print("  LOADING '%s'\n", name);

    FILE *file = fopen(name, "r");
    if (!file) {
        report(ERR_IO_ERROR);
        return;
    }
    load_stream(file);
    fclose(file);
}

load_target load_stream(FILE *file)
{
    // An empty file, or one that cannot be read at all (a directory), loads
    // nothing and says nothing more; a read failure later ends the load as the
    // end of the file does.
    char header[LINE_SIZE];
    if (!read_load_line(file, header)) return LOAD_INVALID;
    const load_target target = load_file_header(header);
    switch (target) {
    case LOAD_INVALID: report(ERR_LOAD_FORMAT); break;
    case LOAD_CM:
        load_data_lines(file, LOAD_CM);
        console_print(" LOADED TO CM\n");
        break;
    case LOAD_MM:
        load_data_lines(file, LOAD_MM);
        console_print(" LOADED TO MM\n");
        break;
    }
    return target;
}
