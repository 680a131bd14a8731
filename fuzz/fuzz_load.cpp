// Fuzz target: arbitrary bytes as the contents of a load file, loaded by the
// Load command; whatever reached control memory then runs from address 0
// (within the fuzz build's step cap), so odd microprograms reach the core.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_session.hpp"

namespace {

constexpr char LOAD_FILE[] = "fuzz.load";

// Load the file, run it from 0 without a step limit (the cap ends it), end.
constexpr char SESSION[] = "L\nfuzz.load\nR\n0\n\nE\n";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_session_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *file = fopen(LOAD_FILE, "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0) abort();
    run_fuzz_session(reinterpret_cast<const uint8_t *>(SESSION), sizeof SESSION - 1);
    return 0;
}
