// Listings and symbol files: what an assembly placed where, for people and
// for the tools that name words by their labels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "asm/assembler.hpp"
#include "asm/diagnostics.hpp"
#include "core/load_file.hpp"

struct listing_options {
    bool fields = false;                     // CM words also split into their ten fields
    const diagnostics *messages = nullptr;   // shown under the lines they are about
};

// The listing of an assembly: every source line in reading order, each with
// the address and word of what it placed (with errors: of every word that
// assembled), the labels of that address and, for data, the word's value in
// decimal and as a character; .EQU lines with their value; the messages
// under their lines; then every name with its value, where it is defined
// and where it is used.
std::string listing_text(const assembler &source, const listing_options &options = {});

// The load file of a finished assembly, CM or MM as `target` says.
void write_load_file(FILE *stream, const assembler &source, load_target target);

// The symbol file of a finished assembly: one line "label address" per
// label, in address order, after a comment line that names the source.
std::string symbol_file_text(const assembler &source);

// One label of a symbol file, with the number of the line that gives it.
struct symbol_entry {
    std::string name;
    uint32_t address = 0;
    int line = 0;
};

// Whether a symbol file may give one label twice.
enum class repeated_labels { allowed, error };

// Reads the text of a symbol file, named `path` in messages: lines "label
// address" (hexadecimal, with or without 0x, at most 0xFFFF), blank lines,
// comment lines (';' or '#') and ';' comments after the address. Appends
// every label in the order given, up to the first malformed line; gives 0
// when there is none, else reports it and gives its number.
int read_symbol_text(const std::string &text, const std::string &path, std::vector<symbol_entry> &labels,
                     repeated_labels repeats, diagnostics &diag);

// Reads a symbol file (as read_symbol_text; a label given twice is an error)
// into the names of addresses: of several labels of one address the first is
// kept. Reports the first error and gives false.
bool read_symbol_file(const std::string &path, std::map<uint32_t, std::string> &names, diagnostics &diag);
