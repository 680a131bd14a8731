// The Load command: fills control memory or main memory from a load file
// (core/load_file.hpp) that the operator names.
#pragma once

#include <cstdio>

#include "core/load_file.hpp"

// Loads an open load file as the Load command does after opening it: the
// header, every data line, the closing message. Returns the memory loaded,
// LOAD_INVALID for an empty file, a header that names no memory or a line
// that does not end within LOAD_LINE_LIMIT characters.
load_target load_stream(FILE *file);

void load_command();
