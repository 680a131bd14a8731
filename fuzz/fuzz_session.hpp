// The in-process harness shared by the fuzz targets: one whole operator
// session through the command interpreter per input.
#pragma once

#include <cstddef>
#include <cstdint>

// Once per process: standard output to /dev/null, descriptor 0 to /dev/null
// (so a session that loads "/dev/stdin" reads nothing), and a fresh scratch
// directory as the working directory, removed at exit. The scratch directory
// holds a copy of every load file, source and card deck of the transcript tests and
// examples, so fuzzed sessions that load them by name run real microprograms.
void fuzz_session_setup();

// Runs command_loop() with the bytes as its standard input, then closes the
// device streams, removes KALV.LPT and zeroes the machine, so that the next
// input starts afresh and every input behaves the same when run again.
void run_fuzz_session(const uint8_t *data, size_t size);
