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

// Reads the first piece of one line: its first LOAD_LINE_SIZE - 1 characters,
// newline included where it fits. A CR ends a line too, alone or before a
// newline. False at the end of the file with
// nothing read; `ended` tells whether the line's end was read with it.
bool read_load_piece(FILE *file, char *line, bool &ended)
{
    size_t length = 0;
    int byte = 0;
    ended = false;
    while (length < LOAD_LINE_SIZE - 1 && (byte = getc_unlocked(file)) != EOF) {
        line[length++] = static_cast<char>(byte);
        if (byte == '\n') {
            ended = true;
            break;
        }
        if (byte == '\r') {   // a line end, with the newline that may follow it
            const int next = getc_unlocked(file);
            if (next == '\n' && length < LOAD_LINE_SIZE - 1)
                line[length++] = '\n';
            else if (next != '\n' && next != EOF)
                ungetc(next, file);
            ended = true;
            break;
        }
    }
    if (byte == EOF) ended = true;
    line[length] = '\0';
    return length > 0 || byte != EOF;
}

// Skips the rest of a line whose first piece has been read: false when it has
// not ended within LOAD_LINE_LIMIT characters in all.
bool skip_rest_of_line(FILE *file)
{
    for (long count = LOAD_LINE_SIZE - 1; count < LOAD_LINE_LIMIT; count++) {
        const int byte = getc_unlocked(file);
        if (byte == EOF || byte == '\n') return true;
        if (byte == '\r') {
            const int next = getc_unlocked(file);
            if (next != '\n' && next != EOF) ungetc(next, file);
            return true;
        }
    }
    return false;
}

}  // namespace

load_read_end read_load_lines(FILE *file, load_line_visitor visit, void *context)
{
    char line[LOAD_LINE_SIZE];
    bool ended;
    while (read_load_piece(file, line, ended)) {
        if (!visit(line, context)) return LOAD_READ_STOPPED;
        if (!ended && !skip_rest_of_line(file)) return LOAD_READ_TOO_LONG;
    }
    return LOAD_READ_END;
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
