// The machine for programs other than the console (see kalvo3_api.h).
//
// The console text of every call is collected through the console sink; a
// run's stop reason is read from it the way an operator reads the console:
// an "ERROR n" report, a " BREAK !! AT" message, or neither (a halt, or the
// step limit). The card deck is an in-memory stream and the printer writes
// into one, both put into the machine's device streams before start_io would
// open a file.
#include "api/kalvo3_api.h"
#include "api/history.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include "asm/assembler.hpp"
#include "asm/disassembler.hpp"
#include "asm/listing.hpp"
#include "asm/mnemonics.hpp"
#include "console/load.hpp"
#include "console/points.hpp"
#include "console/registers.hpp"
#include "core/load_file.hpp"
#include "core/machine_state.hpp"
#include "core/micro_cycle.hpp"
#include "core/stepping.hpp"

namespace {

// ---- Console text ----

std::string console_text;

void collect_console(const char *text, size_t length) { console_text.append(text, length); }

// ---- Devices ----

std::string card_deck;     // the stream reads this text
char *printer_bytes = nullptr;
size_t printer_size = 0;

// The card reader reads the deck from its start; an empty deck reads as an
// empty file.
void open_reader()
{
    if (M.reader_file) fclose(M.reader_file);
    M.reader_file = card_deck.empty() ? fopen("/dev/null", "r")
                                      : fmemopen(card_deck.data(), card_deck.size(), "r");
}

void open_printer(const char *text, size_t length)
{
    printer_dropping();
    if (M.printer_file) fclose(M.printer_file);
    free(printer_bytes);
    printer_bytes = nullptr;
    printer_size = 0;
    M.printer_file = open_memstream(&printer_bytes, &printer_size);
    if (length) fwrite(text, 1, length, M.printer_file);
    fflush(M.printer_file);
}

uint32_t reader_position()
{
    long at = M.reader_file ? ftell(M.reader_file) : 0;
    return at > 0 ? static_cast<uint32_t>(at) : 0;
}

// ---- History ----

// The memories in pages; a record shares every page that did not change
// since the record before it.
constexpr int PAGE_WORDS = 1024;
using cm_page = std::array<uint64_t, PAGE_WORDS>;
using mm_page = std::array<uint16_t, PAGE_WORDS>;
constexpr int CM_PAGES = CM_WORDS / PAGE_WORDS;
constexpr int MM_PAGES = MM_WORDS / PAGE_WORDS;

// Everything of the machine state after the two memories.
static_assert(offsetof(MachineState, CM) == 0 && offsetof(MachineState, MM) == sizeof M.CM,
              "the memories must open the machine state");
constexpr size_t TAIL_OFFSET = offsetof(MachineState, MM) + sizeof M.MM;
constexpr size_t TAIL_BYTES = sizeof(MachineState) - TAIL_OFFSET;

struct record {
    std::array<unsigned char, TAIL_BYTES> tail;
    std::array<std::shared_ptr<const cm_page>, CM_PAGES> cm;
    std::array<std::shared_ptr<const mm_page>, MM_PAGES> mm;
    uint32_t reader_at;
    printer_mark printed;
};

std::deque<record> history;

template <typename Page, typename Word>
std::shared_ptr<const Page> keep_page(const Word *words, const std::shared_ptr<const Page> &before)
{
    if (before && memcmp(before->data(), words, sizeof(Page)) == 0) return before;
    auto page = std::make_shared<Page>();
    memcpy(page->data(), words, sizeof(Page));
    return page;
}

// ---- Assembly ----

std::string assembly_messages, assembly_load_file, assembly_labels;
std::map<uint32_t, int> assembly_lines;

// The text that `write` writes into a stream.
template <typename Writer>
std::string written_text(Writer write)
{
    char *bytes = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&bytes, &size);
    write(stream);
    fclose(stream);
    std::string text(bytes, size);
    free(bytes);
    return text;
}

// ---- Running ----

uint32_t steps_made = 0;
int last_error = 0;
std::array<uint64_t, CM_WORDS + 1> profile_counts{};

// ---- Registers ----

// The interface numbers the registers in the order of this table. Those that
// the console names one by one (the general registers, PC, IR, MAR, CMAR, C,
// FSR and the buses) are its rows (console/registers.hpp), which say where
// each lives and what a new value keeps; the rest are described here: the
// flags one by one (the console changes them together), the fields of the
// micro-instruction in progress, the cycle states, the CMAR stack and STOP.
enum register_kind { CONSOLE, FLAG, FIELD, STATE, STACK };

struct api_register {
    register_kind kind;
    device_code code;     // CONSOLE: the console's row
    int index;
    const char *name;     // the others
    void *where;
};

constexpr api_register console_row(device_code code, int index = -1) { return {CONSOLE, code, index, nullptr, nullptr}; }
constexpr api_register own_row(const char *name, register_kind kind, void *where)
{
    return {kind, DEV_UNKNOWN, -1, name, where};
}

const api_register REGISTERS_TABLE[] = {
    console_row(DEV_REGISTER, 0), console_row(DEV_REGISTER, 1), console_row(DEV_REGISTER, 2), console_row(DEV_REGISTER, 3),
    console_row(DEV_REGISTER, 4), console_row(DEV_REGISTER, 5), console_row(DEV_REGISTER, 6), console_row(DEV_REGISTER, 7),
    console_row(DEV_PC), console_row(DEV_IR), console_row(DEV_MAR), console_row(DEV_CMAR),
    console_row(DEV_C), console_row(DEV_FSR),
    console_row(DEV_LBUS), console_row(DEV_RBUS), console_row(DEV_ABUS), console_row(DEV_SBUS), console_row(DEV_IOBUS),
    own_row("ZER", FLAG, &M.ZER), own_row("NEG", FLAG, &M.NEG), own_row("CRY", FLAG, &M.CRY),
    own_row("OVR", FLAG, &M.OVR), own_row("CZ", FLAG, &M.CZ), own_row("T", FLAG, &M.T),
    own_row("LBF", FIELD, &M.current.LBF), own_row("RBF", FIELD, &M.current.RBF), own_row("ALF", FIELD, &M.current.ALF),
    own_row("SHF", FIELD, &M.current.SHF), own_row("SBF", FIELD, &M.current.SBF), own_row("MMF", FIELD, &M.current.MMF),
    own_row("SQF", FIELD, &M.current.SQF), own_row("TSF", FIELD, &M.current.TSF), own_row("EXF", FIELD, &M.current.EXF),
    own_row("ADF", FIELD, &M.current.ADF),
    own_row("MEMCYCLE", STATE, &M.mem_cycle), own_row("IOCYCLE", STATE, &M.io_cycle), own_row("SP", STATE, &M.cmar_sp),
    own_row("S0", STACK, &M.cmar_stack[0]), own_row("S1", STACK, &M.cmar_stack[1]), own_row("S2", STACK, &M.cmar_stack[2]),
    own_row("S3", STACK, &M.cmar_stack[3]), own_row("S4", STACK, &M.cmar_stack[4]), own_row("S5", STACK, &M.cmar_stack[5]),
    own_row("S6", STACK, &M.cmar_stack[6]), own_row("S7", STACK, &M.cmar_stack[7]),
    own_row("STOP", FIELD, &M.stop_flag),
};
constexpr int REGISTER_COUNT = sizeof REGISTERS_TABLE / sizeof REGISTERS_TABLE[0];

// The console types R0..R7 by a rule of its own rather than by name.
const char *const GENERAL_REGISTER_NAMES[REGISTERS] = {"R0", "R1", "R2", "R3", "R4", "R5", "R6", "R7"};

const register_row &console_row_of(const api_register &reg) { return *find_register_row(reg.code, reg.index); }

const char *name_of(const api_register &reg)
{
    if (reg.kind != CONSOLE) return reg.name;
    const register_row &row = console_row_of(reg);
    return row.name ? row.name : GENERAL_REGISTER_NAMES[row.index];
}

std::string text_buffer;   // what the last call returning text made

}  // namespace

extern "C" {

void k3_power_on(void)
{
    set_console_sink(collect_console);
    reset_registers();
    clear_control_memory();
    clear_main_memory();
    M.stop_flag = 0;
    M.step_count = 0;
    M.max_steps = 0;
    card_deck.clear();
    open_reader();
    open_printer(nullptr, 0);
    console_text.clear();
    history.clear();
    profile_counts.fill(0);
    steps_made = 0;
    last_error = 0;
    history_restart();
}

void k3_reset(void)
{
    reset_registers();
    M.stop_flag = 0;
}

const char *k3_console_text(void) { return console_text.c_str(); }

void k3_console_clear(void) { console_text.clear(); }

int k3_load_text(const char *text)
{
    const size_t length = strlen(text);
    if (length == 0) return 0;
    FILE *stream = fmemopen(const_cast<char *>(text), length, "r");
    if (!stream) return 0;
    const load_target target = load_stream(stream);
    fclose(stream);
    return target == LOAD_CM ? 1 : target == LOAD_MM ? 2 : 0;
}

int k3_assemble(const char *name, const char *source, int data)
{
    diagnostics diag;
    assembler source_file(data ? source_kind::data : source_kind::micro, diag);
    source_file.assemble_text(name, source);
    assembly_messages.clear();
    for (const std::string &message : diag.messages()) assembly_messages += message + "\n";
    if (const int errors = diag.count(severity::error)) return errors;

    assembly_load_file =
        written_text([&](FILE *stream) { write_load_file(stream, source_file, data ? LOAD_MM : LOAD_CM); });
    assembly_labels = symbol_file_text(source_file);
    assembly_lines.clear();
    for (const auto &[address, where] : source_file.placed())
        if (where.file == name) assembly_lines[address] = where.line;
    return 0;
}

const char *k3_assembly_messages(void) { return assembly_messages.c_str(); }
const char *k3_assembly_load_file(void) { return assembly_load_file.c_str(); }
const char *k3_assembly_labels(void) { return assembly_labels.c_str(); }

int k3_assembly_line(uint32_t address)
{
    auto it = assembly_lines.find(address);
    return it == assembly_lines.end() ? 0 : it->second;
}

const char *k3_disassemble(void)
{
    std::map<uint32_t, uint64_t> words;
    for (uint32_t a = 0; a <= CM_LIMIT; a++)
        if (M.CM[a]) words[a] = M.CM[a];
    text_buffer = disassemble(words);
    return text_buffer.c_str();
}

const char *k3_word_text(uint32_t address)
{
    text_buffer.clear();
    if (address > CM_LIMIT) return "";
    // The last line of a one-word disassembly: an 8-column label field, the
    // statement, then "; address word".
    const std::string text = disassemble({{address, M.CM[address]}});
    const size_t line = text.rfind('\n', text.size() - 2);
    std::string statement = text.substr(line == std::string::npos ? 0 : line + 1);
    statement = statement.substr(std::min<size_t>(8, statement.size()));
    statement = statement.substr(0, statement.find(';'));
    statement.erase(statement.find_last_not_of(" \n") + 1);
    text_buffer = statement;
    return text_buffer.c_str();
}

const char *k3_cm_load_file(void)
{
    text_buffer = written_text([](FILE *stream) {
        write_load_header(stream, LOAD_CM);
        for (uint32_t a = 0; a <= CM_LIMIT; a++)
            if (M.CM[a]) write_cm_line(stream, a, M.CM[a]);
    });
    return text_buffer.c_str();
}

const char *k3_mm_load_file(void)
{
    text_buffer = written_text([](FILE *stream) {
        write_load_header(stream, LOAD_MM);
        for (uint32_t a = 0; a <= MM_LIMIT; a++)
            if (M.MM[a]) write_mm_line(stream, a, M.MM[a]);
    });
    return text_buffer.c_str();
}

int k3_run(uint32_t limit, int profile)
{
    const size_t console_start = console_text.size();
    M.stop_flag = 0;
    M.step_count = 0;
    M.max_steps = limit > INT32_MAX ? INT32_MAX : static_cast<int32_t>(limit);
    steps_made = static_cast<uint32_t>(history_run(limit, profile ? profile_counts.data() : nullptr));
    M.step_count = static_cast<int32_t>(steps_made);
    if (M.printer_file) fflush(M.printer_file);

    const char *said = console_text.c_str() + console_start;
    const char *error = strstr(said, "\nERROR ");
    last_error = error ? atoi(error + 7) : 0;
    if (last_error) return K3_STOP_ERROR;
    if (strstr(said, " BREAK !! AT ")) return K3_STOP_BREAK;
    return M.stop_flag ? K3_STOP_HALT : K3_STOP_LIMIT;
}

uint32_t k3_steps(void) { return steps_made; }
int k3_last_error(void) { return last_error; }
const uint64_t *k3_profile(void) { return profile_counts.data(); }
void k3_profile_clear(void) { profile_counts.fill(0); }

void k3_checkpoint(void)
{
    record r;
    memcpy(r.tail.data(), reinterpret_cast<const unsigned char *>(&M) + TAIL_OFFSET, TAIL_BYTES);
    const record *before = history.empty() ? nullptr : &history.back();
    for (int p = 0; p < CM_PAGES; p++)
        r.cm[p] = keep_page<cm_page>(M.CM + p * PAGE_WORDS, before ? before->cm[p] : nullptr);
    for (int p = 0; p < MM_PAGES; p++)
        r.mm[p] = keep_page<mm_page>(M.MM + p * PAGE_WORDS, before ? before->mm[p] : nullptr);
    r.reader_at = reader_position();
    r.printed = printer_mark_now();
    history.push_back(std::move(r));
    if (history.size() > K3_HISTORY) history.pop_front();
}

int k3_undo(void)
{
    if (history.empty()) return 0;
    const record &r = history.back();
    FILE *reader = M.reader_file, *printer = M.printer_file;
    memcpy(reinterpret_cast<unsigned char *>(&M) + TAIL_OFFSET, r.tail.data(), TAIL_BYTES);
    M.reader_file = reader;
    M.printer_file = printer;
    for (int p = 0; p < CM_PAGES; p++) memcpy(M.CM + p * PAGE_WORDS, r.cm[p]->data(), sizeof(cm_page));
    for (int p = 0; p < MM_PAGES; p++) memcpy(M.MM + p * PAGE_WORDS, r.mm[p]->data(), sizeof(mm_page));
    if (M.reader_file) {
        clearerr(M.reader_file);
        fseek(M.reader_file, r.reader_at, SEEK_SET);
    }
    printer_restore(r.printed);
    history.pop_back();
    return 1;
}

int k3_history_size(void) { return static_cast<int>(history.size()); }

int k3_break_set(uint32_t address)
{
    const size_t said = console_text.size();
    set_point(M.break_points, static_cast<int32_t>(address), ERR_BREAK_OVERFLOW);
    M.break_active = any_point_in_use(M.break_points);
    return console_text.size() == said;
}

void k3_break_clear(uint32_t address)
{
    clear_point(M.break_points, static_cast<int32_t>(address));
    M.break_active = any_point_in_use(M.break_points);
}

int k3_break_at(uint32_t address)
{
    for (const point_slot &slot : M.break_points)
        if (slot.in_use && static_cast<uint32_t>(slot.address) == address) return 1;
    return 0;
}

int k3_register(const char *name)
{
    for (int r = 0; r < REGISTER_COUNT; r++)
        if (strcasecmp(name, name_of(REGISTERS_TABLE[r])) == 0) return r;
    return -1;
}

const char *k3_register_name(int reg)
{
    return reg >= 0 && reg < REGISTER_COUNT ? name_of(REGISTERS_TABLE[reg]) : "";
}

int k3_register_count(void) { return REGISTER_COUNT; }

uint32_t k3_get(int reg)
{
    if (reg < 0 || reg >= REGISTER_COUNT) return 0;
    const api_register &row = REGISTERS_TABLE[reg];
    switch (row.kind) {
    case CONSOLE: return register_value(console_row_of(row));
    case STACK: return *static_cast<uint16_t *>(row.where);
    case FLAG:
    case FIELD:
    case STATE: return static_cast<uint32_t>(*static_cast<int *>(row.where));
    }
    return 0;
}

void k3_set(int reg, uint32_t value)
{
    if (reg < 0 || reg >= REGISTER_COUNT) return;
    const api_register &row = REGISTERS_TABLE[reg];
    switch (row.kind) {
    case CONSOLE: {   // as the Change command stores it
        const register_row &console = console_row_of(row);
        store_register_value(console, changed_value(console, value));
        break;
    }
    case STACK: *static_cast<uint16_t *>(row.where) = static_cast<uint16_t>(value); break;
    case FLAG: *static_cast<int *>(row.where) = value != 0; break;
    case STATE:   // cycle states 0..2, stack depth 0..8
        *static_cast<int *>(row.where) = static_cast<int>(value <= (row.where == &M.cmar_sp ? 8u : 2u) ? value : 0);
        break;
    case FIELD: break;
    }
}

int k3_register_writable(int reg)
{
    return reg >= 0 && reg < REGISTER_COUNT && REGISTERS_TABLE[reg].kind != FIELD;
}

int k3_field_count(void) { return static_cast<int>(std::size(MICRO_FIELDS)); }

const char *k3_field_name(int field)
{
    return field >= 0 && field < k3_field_count() ? MICRO_FIELDS[field].name : "";
}

int k3_field_low_bit(int field) { return field >= 0 && field < k3_field_count() ? MICRO_FIELDS[field].low_bit : 0; }
int k3_field_width(int field) { return field >= 0 && field < k3_field_count() ? MICRO_FIELDS[field].width : 0; }

uint32_t k3_cm_field(uint32_t address, int field)
{
    if (address > CM_LIMIT || field < 0 || field >= k3_field_count()) return 0;
    return static_cast<uint32_t>(field_of(M.CM[address], MICRO_FIELDS[field]));
}

const char *k3_mnemonic(int field, uint32_t code)
{
    if (field < 0 || field >= k3_field_count() || code > 15) return "";
    if (MICRO_FIELDS[field].low_bit == FIELD_TSF.low_bit)
        return code < std::size(TEST_CONDITIONS) && TEST_CONDITIONS[code] ? TEST_CONDITIONS[code] : "";
    for (const field_mnemonics *table : CLAUSE_FIELDS)
        if (table->field.low_bit == MICRO_FIELDS[field].low_bit)
            return table->names[code] ? table->names[code] : "";
    return "";
}

uint32_t k3_cm_high(uint32_t address) { return address <= CM_LIMIT ? static_cast<uint32_t>(M.CM[address] >> 32) : 0; }
uint32_t k3_cm_low(uint32_t address) { return address <= CM_LIMIT ? static_cast<uint32_t>(M.CM[address]) : 0; }

void k3_cm_set(uint32_t address, uint32_t high, uint32_t low)
{
    if (address <= CM_LIMIT) M.CM[address] = (static_cast<uint64_t>(high) << 32 | low);
}

uint32_t k3_mm_get(uint32_t address) { return address <= MM_LIMIT ? M.MM[address] : 0; }

void k3_mm_set(uint32_t address, uint32_t value)
{
    if (address <= MM_LIMIT) M.MM[address] = static_cast<uint16_t>(value);
}

const uint16_t *k3_mm(void) { return M.MM; }

void k3_cards_set(const char *bytes, uint32_t length)
{
    card_deck.assign(bytes, length);
    open_reader();
    history_deck_replaced();
}

void k3_cards_rewind(void)
{
    if (!M.reader_file) return;
    clearerr(M.reader_file);
    fseek(M.reader_file, 0, SEEK_SET);
}

uint32_t k3_cards_position(void) { return reader_position(); }

const char *k3_printer_text(void)
{
    if (M.printer_file) fflush(M.printer_file);
    return printer_bytes ? printer_bytes : "";
}

uint32_t k3_printer_length(void)
{
    if (M.printer_file) fflush(M.printer_file);
    return static_cast<uint32_t>(printer_size);
}

void k3_printer_clear(void) { open_printer(nullptr, 0); }

}  // extern "C"

// ---- For the history (api/history.hpp) ----

void api_printer_replace(const char *text, size_t length) { open_printer(text, length); }
uint32_t api_reader_position() { return reader_position(); }

void api_reader_seek(uint32_t at)
{
    if (!M.reader_file) return;
    clearerr(M.reader_file);
    fseek(M.reader_file, at, SEEK_SET);
}

console_sink api_console_collector() { return collect_console; }

void api_set_run_record(uint32_t steps, int error)
{
    steps_made = steps;
    last_error = error;
}
