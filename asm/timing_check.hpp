// The machine's two-cycle timing rules, checked over the control-flow graph
// of a microprogram: every successor a micro-instruction can have (both
// outcomes of a test, the fall-through, the entries of a dispatch table, a
// return to the call it belongs to), with what is known of the registers and
// IR carried along the paths. A rule counts as broken when some path breaks
// it.
//
// Warnings (the machine then does what no program means):
//   - L=MEM whose micro-instruction before starts no read (error 18);
//   - a new memory function while the word read is not taken (it is lost),
//     or in the data cycle of a write;
//   - a write whose next micro-instruction puts L=MEM (error 18) or, by
//     default, 0 on the left bus as the data;
//   - an output start (IR known to hold an output instruction) whose byte
//     nothing has put on the I/O bus by the next micro-instruction;
//   - an input byte (IR known to hold an input instruction) not taken before
//     the bus is overwritten, or taken in the micro-instruction that starts
//     the input, a cycle too early.
// Notes (also a real technique): a test of a flag, C or IR in the
// micro-instruction that changes it, when on some path into it the one
// before did not set it itself; the test then sees an older value.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "asm/diagnostics.hpp"

struct timing_warning {
    uint32_t first;          // the address of the earlier micro-instruction
    uint32_t second;         // the address of the one after it, where the message stands
    source_position where;   // of the second; file empty when not known
    std::string reason;      // names the first by its line (or address)
    severity level = severity::warning;   // or severity::note
};

// The findings in `words`, in the order of the second word's address.
// `positions` gives where each word comes from (words without one are named
// by their address); `fields_set` the fields that each word's source set
// (a word without an entry counts as setting every field, as for words read
// from a load file: the left bus 0 of a write's data cycle is then taken to
// be meant).
std::vector<timing_warning> check_timing(const std::map<uint32_t, uint64_t> &words,
                                         const std::map<uint32_t, source_position> &positions,
                                         const std::map<uint32_t, uint64_t> &fields_set);

// The comment text that marks a line's note as intended, and silences it.
constexpr const char *TIMING_INTENDED_MARK = "@intended";
