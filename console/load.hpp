// The Load command and the load-file format it reads.
//
// A load file's first line names the memory ("CM" or "MM" in columns 0 and 1);
// each further line holds a hexadecimal address from column 0 and a
// hexadecimal value from column 5 (CM) or column 6 (MM).
#pragma once

#include <cstdint>
#include <cstdio>

enum load_target { LOAD_INVALID, LOAD_CM, LOAD_MM };

// The memory that a header line names.
load_target load_file_header(const char *line);

// Reads the address and value of one data line of a file for `target`.
// Returns false for a line that ends before its value column (it stores
// nothing). The address is returned unchecked; the CM value whole (64 bits),
// the MM value as the unsigned 32-bit conversion gives it.
bool load_file_line(load_target target, const char *line, uint32_t &address, uint64_t &value);

// Reads one line of a load file: its first piece of at most 511 characters,
// line end included, into the 512-byte `line`; the rest of a longer line is
// skipped, so it stores nothing. A line ends at a newline, a CR LF pair or a
// CR alone. Returns false at the end of the file or on a read error.
bool read_load_line(FILE *file, char *line);

// Loads an open load file as the Load command does after opening it: the
// header, every data line, the closing message. Returns the memory loaded,
// LOAD_INVALID for an empty file or a header that names no memory.
load_target load_stream(FILE *file);

void load_command();
