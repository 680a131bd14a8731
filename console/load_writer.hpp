// Writing load files in the layout the Load command reads.
//
// CM: the header "CM", then "%03X  %010llX" per word (value from column 5).
// MM: the header "MM", then "%04X  %04X" per word (value from column 6).
#pragma once

#include <cstdint>
#include <cstdio>

#include "console/load.hpp"

// The header line naming the memory (LOAD_CM or LOAD_MM).
void write_load_header(FILE *file, load_target target);

// One CM data line. A word with bit 63 set is written as a negative number,
// because the loader's signed conversion would saturate the positive form.
void write_cm_line(FILE *file, uint32_t address, uint64_t word);

// One MM data line.
void write_mm_line(FILE *file, uint32_t address, uint16_t word);
