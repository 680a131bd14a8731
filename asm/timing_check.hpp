// The machine's two-cycle timing rules, checked where straight-line code
// makes a breach certain: a micro-instruction and the one that surely comes
// next (the word at the next address when the sequencer continues, or the
// target of an unconditional jump or call).
//
// Memory reads and writes, and I/O transfers, start in one micro-cycle and
// complete in the next; the checks look at such pairs:
//   - L=MEM whose predecessor starts no read (the machine reports error 18);
//   - a write whose next micro-instruction puts L=MEM (error 18, a stale
//     word written) or, by default, 0 on the left bus as the data;
//   - an I/O start right after an I/O start whose input is not taken;
//   - L=IOBUS in a micro-instruction that starts a transfer when the one
//     before it started none (the input arrives a cycle later);
//   - a memory function while a read is not taken, or right after a write
//     (whose data would be the new address).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "asm/diagnostics.hpp"

struct timing_warning {
    uint32_t first;          // the address of the earlier micro-instruction
    uint32_t second;         // the address of the one after it
    source_position where;   // of the second; file empty when not known
    std::string reason;      // names the first by its line (or address)
};

// The breaches in `words`, in the order of the second word's address.
// `positions` gives where each word comes from (words without one are named
// by their address); `fields_set` the fields that each word's source set
// (a word without an entry counts as setting every field, as for words read
// from a load file: the left bus 0 of a write's data cycle is then taken to
// be meant).
std::vector<timing_warning> check_timing(const std::map<uint32_t, uint64_t> &words,
                                         const std::map<uint32_t, source_position> &positions,
                                         const std::map<uint32_t, uint64_t> &fields_set);
