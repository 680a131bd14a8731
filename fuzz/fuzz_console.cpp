// Fuzz target: arbitrary bytes as the operator's whole console input.
#include "fuzz/fuzz_session.hpp"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_session_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    run_fuzz_session(data, size);
    return 0;
}
