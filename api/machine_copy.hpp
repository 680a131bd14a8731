// Copies of the whole machine for the C interface's checkpoint records and
// its history's snapshots: the state after the two memories as bytes, the
// memories in pages, and the card reader's position. A copy shares every
// page that did not change since the copy it is taken after, so a copy of a
// machine that wrote a few words costs a page or two.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/machine_state.hpp"

constexpr int PAGE_WORDS = 1024;
constexpr int CM_PAGES = CM_WORDS / PAGE_WORDS;
constexpr int MM_PAGES = MM_WORDS / PAGE_WORDS;

static_assert(offsetof(MachineState, CM) == 0 && offsetof(MachineState, MM) == sizeof M.CM,
              "the memories open the machine state");
// Everything of the machine state after the two memories.
constexpr size_t TAIL_OFFSET = offsetof(MachineState, MM) + sizeof M.MM;
constexpr size_t TAIL_BYTES = sizeof(MachineState) - TAIL_OFFSET;

template <typename Word>
struct memory_page {
    std::array<Word, PAGE_WORDS> words;
    explicit memory_page(const Word *from);
    ~memory_page();
    memory_page(const memory_page &) = delete;
    memory_page &operator=(const memory_page &) = delete;
};

struct machine_copy {
    std::array<unsigned char, TAIL_BYTES> tail;
    std::array<std::shared_ptr<const memory_page<uint64_t>>, CM_PAGES> cm;
    std::array<std::shared_ptr<const memory_page<uint16_t>>, MM_PAGES> mm;
    uint32_t reader_at;
};

// M as it stands, sharing the pages of `before` (may be null) that are equal.
machine_copy copy_machine(const machine_copy *before);

// Puts `copy` into M, keeping M's device streams, and the card reader back
// at the copy's position.
void restore_machine(const machine_copy &copy);

// Bytes held by every memory page alive, of records and snapshots alike.
uint64_t memory_page_bytes();
