// Listings and symbol files: what an assembly placed where, for people and
// for the tools that name words by their labels.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "asm/assembler.hpp"
#include "asm/diagnostics.hpp"

// The listing of a finished assembly: every source line in reading order,
// each with the address and word of what it placed, the labels of that
// address and, for data, the word's value in decimal and as a character.
std::string listing_text(const assembler &source);

// The symbol file of a finished assembly: one line "label address" per
// label, in address order, after a comment line that names the source.
std::string symbol_file_text(const assembler &source);

// Reads a symbol file: lines "label address" (hexadecimal, with or without
// 0x, at most 0xFFFF), blank lines and ';' comments. Of several labels of one
// address the first is kept. Reports the first malformed line and gives false.
bool read_symbol_file(const std::string &path, std::map<uint32_t, std::string> &names, diagnostics &diag);
