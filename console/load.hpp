// The Load command: fills control memory or main memory from a load file
// (core/load_file.hpp) that the operator names.
#pragma once

#include "core/load_file.hpp"

void load_command();
