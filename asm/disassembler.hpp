// Reading a CM load file and turning its words back into microprogram source.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "asm/diagnostics.hpp"

// Reads the CM load file at `path` with the Load command's rules: the words
// the simulator would store, by address. Lines the simulator skips give a
// warning; a file that is not a CM load file gives an error and false.
bool read_cm_load_file(const std::string &path, std::map<uint32_t, uint64_t> &words, diagnostics &diag);

// Source text that assembles back to exactly these words. A word whose
// address has a name in `names` carries that label, and jumps to it use it;
// other jump targets are labelled L_xxx.
std::string disassemble(const std::map<uint32_t, uint64_t> &words, const std::map<uint32_t, std::string> &names = {});
