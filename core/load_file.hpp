// The load-file format: reading and writing the text files that fill the
// control memory or the main memory.
//
// A load file's first line, the header, names the memory: "CM" or "MM" in
// columns 0 and 1, anything after them ignored. Each further line holds a
// hexadecimal address from column 0 and a hexadecimal value from column 5
// (CM: "%03X  %010llX") or column 6 (MM: "%04X  %04X"); whatever stands
// between the address digits and the value column, and after the value
// digits, is ignored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <type_traits>

// A line is read as its first LOAD_LINE_SIZE - 1 characters at most.
constexpr int LOAD_LINE_SIZE = 512;

enum load_target { LOAD_INVALID, LOAD_CM, LOAD_MM };

// The memory that a header line names.
load_target load_file_header(const char *line);

// Reads the address and value of one data line of a file for `target`.
// Returns false for a line that ends before its value column (it stores
// nothing). The address is returned unchecked; the CM value whole (64 bits),
// the MM value as the unsigned 32-bit conversion gives it.
bool load_file_line(load_target target, const char *line, uint32_t &address, uint64_t &value);

// A line that has not ended after this many characters is no line of a
// load file: reading stops there (an endless stream, /dev/zero, would
// otherwise never give the next line).
constexpr long LOAD_LINE_LIMIT = 16L << 20;

// How read_load_lines ended.
enum load_read_end {
    LOAD_READ_END,        // at the end of the file (or a read error)
    LOAD_READ_STOPPED,    // the visitor said so
    LOAD_READ_TOO_LONG,   // a line went on past LOAD_LINE_LIMIT characters
};

// Reads `file` from where it stands, line by line, and hands each line (its
// newline included, where it has one) to `visit`, until `visit` returns false
// or the file ends; a read error ends it as the end of the file does. A CR
// alone ends a line as a newline does. A line longer than LOAD_LINE_SIZE - 1
// characters is handed on as its first LOAD_LINE_SIZE - 1 characters, before
// anything more of it is read; when `visit` goes on, the rest belongs to that
// line and is skipped, up to LOAD_LINE_LIMIT characters in all.
using load_line_visitor = bool (*)(const char *line, void *context);
load_read_end read_load_lines(FILE *file, load_line_visitor visit, void *context);

// The same with any callable taking the line and returning whether to go on.
template <class Visit>
load_read_end read_load_lines(FILE *file, Visit &&visit)
{
    using V = std::remove_reference_t<Visit>;
    return read_load_lines(
        file, [](const char *line, void *context) { return (*static_cast<V *>(context))(line); }, &visit);
}

// Writing: the header line naming the memory (LOAD_CM or LOAD_MM).
void write_load_header(FILE *file, load_target target);

// One CM data line. A word with bit 63 set is written as a negative number,
// because the loader's signed conversion would saturate the positive form.
void write_cm_line(FILE *file, uint32_t address, uint64_t word);

// One MM data line.
void write_mm_line(FILE *file, uint32_t address, uint16_t word);
