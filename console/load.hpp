// The Load command: fills control memory or main memory from a load file
// (core/load_file.hpp) that the operator names.
#pragma once

#include <cstdio>

#include "core/load_file.hpp"

// The first error a load reported (0 for none) and the line of the file that
// made it (from 1: the header is line 1, a long line's skipped rest no line).
struct load_report {
    int error = 0;
    int line = 0;
};

// Loads an open load file as the Load command does after opening it: the
// header, every data line, the closing message. Returns the memory loaded,
// LOAD_INVALID for an empty file, a header that names no memory or a line
// that does not end within LOAD_LINE_LIMIT characters; with `report`, fills
// it in.
load_target load_stream(FILE *file, load_report *report = nullptr);

void load_command();
