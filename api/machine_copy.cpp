#include "api/machine_copy.hpp"

#include <cstdio>
#include <cstring>

#include "api/history.hpp"

namespace {

uint64_t page_bytes = 0;

template <typename Word>
std::shared_ptr<const memory_page<Word>> share_page(const Word *words,
                                                    const std::shared_ptr<const memory_page<Word>> &before)
{
    if (before && memcmp(before->words.data(), words, sizeof before->words) == 0) return before;
    return std::make_shared<const memory_page<Word>>(words);
}

}   // namespace

template <typename Word>
memory_page<Word>::memory_page(const Word *from)
{
    memcpy(words.data(), from, sizeof words);
    page_bytes += sizeof *this;
}

template <typename Word>
memory_page<Word>::~memory_page()
{
    page_bytes -= sizeof *this;
}

template struct memory_page<uint64_t>;
template struct memory_page<uint16_t>;

uint64_t memory_page_bytes() { return page_bytes; }

machine_copy copy_machine(const machine_copy *before)
{
    machine_copy copy;
    memcpy(copy.tail.data(), reinterpret_cast<const unsigned char *>(&M) + TAIL_OFFSET, TAIL_BYTES);
    for (int p = 0; p < CM_PAGES; p++) copy.cm[p] = share_page(M.CM + p * PAGE_WORDS, before ? before->cm[p] : nullptr);
    for (int p = 0; p < MM_PAGES; p++) copy.mm[p] = share_page(M.MM + p * PAGE_WORDS, before ? before->mm[p] : nullptr);
    copy.reader_at = api_reader_position();
    return copy;
}

void restore_machine(const machine_copy &copy)
{
    FILE *const reader = M.reader_file, *const printer = M.printer_file;
    memcpy(reinterpret_cast<unsigned char *>(&M) + TAIL_OFFSET, copy.tail.data(), TAIL_BYTES);
    M.reader_file = reader;
    M.printer_file = printer;
    for (int p = 0; p < CM_PAGES; p++)
        memcpy(M.CM + p * PAGE_WORDS, copy.cm[p]->words.data(), sizeof copy.cm[p]->words);
    for (int p = 0; p < MM_PAGES; p++)
        memcpy(M.MM + p * PAGE_WORDS, copy.mm[p]->words.data(), sizeof copy.mm[p]->words);
    api_reader_seek(copy.reader_at);
}
