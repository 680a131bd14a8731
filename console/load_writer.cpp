#include "console/load_writer.hpp"

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
