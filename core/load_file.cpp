#include "core/load_file.hpp"

#include <cstring>

#include "core/hex_text.hpp"

namespace {

// Where the value of a data line begins: a CM line is three address digits,
// two separators and ten value digits; an MM line four, two and four.
constexpr size_t CM_VALUE_COLUMN = 5;
constexpr size_t MM_VALUE_COLUMN = 6;

// True when the line reaches its value column, its newline counted. A shorter
// line has no value field; looking only this far never reads past the end of
// the line's text into what an earlier, longer line left in the buffer.
bool reaches(const char *line, size_t column) { return strnlen(line, column) == column; }

}  // namespace

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

namespace {

// Reads one line: its first LOAD_LINE_SIZE - 1 characters, newline included
// where it fits; the rest of a longer line belongs to it and is skipped. A CR
// ends a line too, alone or before a newline (then read as one newline).
// False at the end of the file with nothing read.
bool read_load_line(FILE *file, char *line)
{
    size_t length = 0;
    int byte;
    while ((byte = getc_unlocked(file)) != EOF) {
        if (length < LOAD_LINE_SIZE - 1) line[length++] = static_cast<char>(byte);
        if (byte == '\n') break;
        if (byte == '\r') {   // a line end, with the newline that may follow it
            const int next = getc_unlocked(file);
            if (next == '\n' && length < LOAD_LINE_SIZE - 1)
                line[length++] = '\n';
            else if (next != '\n' && next != EOF)
                ungetc(next, file);
            break;
        }
    }
    line[length] = '\0';
    return byte != EOF || length > 0;
}

}  // namespace

void read_load_lines(FILE *file, load_line_visitor visit, void *context)
{
    char line[LOAD_LINE_SIZE];
    while (read_load_line(file, line))
        if (!visit(line, context)) return;
}

void write_load_header(FILE *file, load_target target)
{
    fputs(target == LOAD_MM ? "MM\n" : "CM\n", file);
}

void write_cm_line(FILE *file, uint32_t address, uint64_t word)
{
    if (word >> 63)
        fprintf(file, "%03X  -%010llX\n", address, static_cast<unsigned long long>(0 - word));
    else
        fprintf(file, "%03X  %010llX\n", address, static_cast<unsigned long long>(word));
}

void write_mm_line(FILE *file, uint32_t address, uint16_t word)
{
    fprintf(file, "%04X  %04X\n", address, word);
}
