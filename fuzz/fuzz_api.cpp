// Fuzz target: the C interface as the workbench page calls it. The input
// bytes are a program of calls: each call is one byte that chooses it and
// the bytes of its arguments (numbers little-endian, texts up to a NUL byte
// or the end of the input). Missing bytes read as zero.
//
// Besides the sanitizers' faults, two properties are checked after the
// calls that allow it: the memories written out as load files load back to
// the same words, and a disassembly that assembles again gives back the
// words of control memory that it came from.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/kalvo3_api.h"
#include "fuzz/fuzz_session.hpp"

namespace {

// Runs are short here, whatever the input asks: the C interface's runs
// have no fuzz cap of their own.
constexpr uint32_t MAX_STEPS = 1000;
constexpr uint32_t CM_WORDS = 4096, MM_WORDS = 65536;
// The round trips go over both whole memories: a few per input are enough.
constexpr int MAX_ROUND_TRIPS = 2;
int round_trips = 0;

class input {
public:
    input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    uint32_t number(int bytes)
    {
        uint32_t value = 0;
        for (int i = 0; i < bytes; i++) value |= static_cast<uint32_t>(at_ < size_ ? data_[at_++] : 0) << (8 * i);
        return value;
    }
    std::string text()
    {
        const size_t start = at_;
        while (at_ < size_ && data_[at_] != 0) at_++;
        std::string t(reinterpret_cast<const char *>(data_ + start), at_ - start);
        if (at_ < size_) at_++;
        return t;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

uint64_t cm_word(uint32_t address) { return static_cast<uint64_t>(k3_cm_high(address)) << 32 | k3_cm_low(address); }

// The memories' load-file texts load back into cleared memories as the same
// words. This clears the rest of the machine too (a power-on).
void check_load_file_round_trip()
{
    std::vector<uint64_t> cm(CM_WORDS);
    for (uint32_t a = 0; a < CM_WORDS; a++) cm[a] = cm_word(a);
    const std::vector<uint16_t> mm(k3_mm(), k3_mm() + MM_WORDS);
    const std::string cm_text = k3_cm_load_file(), mm_text = k3_mm_load_file();
    k3_power_on();
    k3_load_text(cm_text.c_str());
    k3_load_text(mm_text.c_str());
    for (uint32_t a = 0; a < CM_WORDS; a++)
        if (cm_word(a) != cm[a]) abort();
    if (memcmp(k3_mm(), mm.data(), MM_WORDS * sizeof(uint16_t)) != 0) abort();
}

// The disassembly of control memory assembles again, to the same words
// (bits above the 40 of a micro-instruction too, which it spells as HI=).
void check_disassembly_round_trip()
{
    const std::string source = k3_disassemble();
    if (k3_assemble("fuzz.masm", source.c_str(), 0) != 0) {
        fprintf(stderr, "the disassembly does not assemble:\n%s\n%s", k3_assembly_messages(), source.c_str());
        abort();
    }
    std::vector<uint64_t> cm(CM_WORDS);
    for (uint32_t a = 0; a < CM_WORDS; a++) cm[a] = cm_word(a);
    const std::string load = k3_assembly_load_file();
    k3_power_on();
    k3_load_text(load.c_str());
    for (uint32_t a = 0; a < CM_WORDS; a++)
        if (cm_word(a) != cm[a]) {
            fprintf(stderr, "word %03X: %010llX assembled again as %010llX\n%s", a,
                    static_cast<unsigned long long>(cm[a]), static_cast<unsigned long long>(cm_word(a)),
                    source.c_str());
            abort();
        }
}

void assemble_and_load(const std::string &source, int data)
{
    if (k3_assemble(data ? "fuzz.mdat" : "fuzz.masm", source.c_str(), data) == 0) k3_load_text(k3_assembly_load_file());
    (void)k3_assembly_messages();
    (void)k3_assembly_labels();
}

// Reads everything that the page shows after a call.
void read_back(uint32_t address)
{
    (void)k3_console_text();
    (void)k3_printer_text();
    (void)k3_printer_length();
    (void)k3_cards_position();
    (void)k3_word_text(address);
    (void)k3_assembly_line(address);
    for (int reg = 0; reg < k3_register_count(); reg++) (void)k3_get(reg);
    for (int field = 0; field < k3_field_count(); field++) (void)k3_mnemonic(field, k3_cm_field(address, field));
}

void call(input &in)
{
    switch (in.number(1) % 22) {
    case 0: k3_load_text(in.text().c_str()); break;
    case 1: assemble_and_load(in.text(), 0); break;
    case 2: assemble_and_load(in.text(), 1); break;
    case 3: {
        const int reg = static_cast<int>(in.number(1)) - 2;   // -2 and -1 too
        k3_set(reg, in.number(4));
        break;
    }
    case 4: {
        const uint32_t address = in.number(2);   // past 0xFFF too
        const uint32_t high = in.number(4);
        k3_cm_set(address, high, in.number(4));
        break;
    }
    case 5: {
        const uint32_t address = in.number(3);   // past 0xFFFF too
        k3_mm_set(address, in.number(2));
        break;
    }
    case 6: {
        const uint32_t limit = in.number(2) % (MAX_STEPS + 1);
        const int profile = static_cast<int>(in.number(1) & 1);
        k3_run(limit, profile);
        (void)k3_steps();
        (void)k3_last_error();
        break;
    }
    case 7:   // Step, as the page makes it: a record first, then one cycle
        k3_checkpoint();
        k3_run(1, 0);
        break;
    case 8: k3_undo(); break;
    case 9: k3_checkpoint(); break;
    case 10: k3_break_set(in.number(2)); break;
    case 11: k3_break_clear(in.number(2)); break;
    case 12: (void)k3_break_at(in.number(2)); break;
    case 13: {
        const std::string deck = in.text();
        k3_cards_set(deck.data(), static_cast<uint32_t>(deck.size()));
        break;
    }
    case 14: k3_cards_rewind(); break;
    case 15: k3_reset(); break;
    case 16: k3_power_on(); break;
    case 17: read_back(in.number(2)); break;
    case 18:
        if (round_trips++ < MAX_ROUND_TRIPS) check_load_file_round_trip();
        break;
    case 19:
        if (round_trips++ < MAX_ROUND_TRIPS) check_disassembly_round_trip();
        break;
    case 20: (void)k3_register(in.text().c_str()); break;
    case 21:
        k3_printer_clear();
        k3_console_clear();
        k3_profile_clear();
        break;
    }
}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_session_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    k3_power_on();
    round_trips = 0;
    input in(data, size);
    while (in.more()) call(in);
    return 0;
}
