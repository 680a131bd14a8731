// For C++ front ends of the C interface: which files k3_assemble may read.
#pragma once

#include "asm/assembler.hpp"

// Every later k3_assemble asks `policy` before it reads a file (an include);
// an empty policy reads every file.
void k3_set_assembly_read_policy(assembler::read_policy policy);
