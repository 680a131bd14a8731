// The machine for programs other than the console (see kalvo3_api.h).
//
// The console text of every call is collected through the console sink, for
// showing only: how a run ended and which error a call reported are what the
// machine records (stop_reason, first_error), and an assembly's messages are
// the assembler's records. The card deck is an in-memory stream and the printer writes
// into one, both put into the machine's device streams before start_io would
// open a file.
#include "api/kalvo3_api.h"
#include "api/history.hpp"
#include "api/machine_copy.hpp"

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

#include "api/assembly_policy.hpp"
#include "asm/assembler.hpp"
#include "asm/disassembler.hpp"
#include "asm/listing.hpp"
#include "asm/mnemonics.hpp"
#include "console/load.hpp"
#include "console/points.hpp"
#include "console/run.hpp"
#include "core/load_file.hpp"
#include "core/machine_description.hpp"
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

// A record: the machine, and the printer text as it stood.
struct record {
    machine_copy machine;
    printer_mark printed;
};

std::deque<record> history;

// ---- Assembly ----

std::string assembly_messages, assembly_load_file, assembly_labels;
std::map<uint32_t, int> assembly_lines;
std::vector<diagnostic> assembly_records;
std::array<int, SEVERITIES> assembly_counts{};

const diagnostic *assembly_record(int i)
{
    return i >= 0 && static_cast<size_t>(i) < assembly_records.size() ? &assembly_records[static_cast<size_t>(i)]
                                                                      : nullptr;
}

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
int last_error = 0;        // of the last run or operator call
int last_error_line = 0;   // of a load: the load file's line
std::array<uint64_t, CM_WORDS + 1> profile_counts{};

// ---- Registers ----

// The interface numbers the registers as the machine's description does
// (core/machine_description.hpp) and stores by its rules.
const machine_register *register_of(int reg)
{
    return reg >= 0 && reg < MACHINE_REGISTER_COUNT ? &MACHINE_REGISTERS[reg] : nullptr;
}

std::string text_buffer;   // what the last call returning text made

}  // namespace

extern "C" {

void k3_power_on(void)
{
    set_console_sink(collect_console);
    // The machine as a program starts with it: every byte zero (the stack
    // entries and the last word's fields too, which a register reset keeps),
    // then reset. The device streams are the interface's own and reopened
    // below.
    FILE *const reader = M.reader_file, *const printer = M.printer_file;
    memset(&M, 0, sizeof M);
    M.reader_file = reader;
    M.printer_file = printer;
    reset_registers();
    start_run();
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
    last_error_line = 0;
    history_restart();
}

void k3_reset(void)
{
    reset_registers();
    start_run();
}

const char *k3_console_text(void) { return console_text.c_str(); }

void k3_console_clear(void) { console_text.clear(); }

int k3_load_text(const char *text)
{
    start_action();
    last_error = last_error_line = 0;
    const size_t length = strlen(text);
    if (length == 0) return 0;
    FILE *stream = fmemopen(const_cast<char *>(text), length, "r");
    if (!stream) return 0;
    load_report report;
    const load_target target = load_stream(stream, &report);
    fclose(stream);
    last_error = report.error;
    last_error_line = report.line;
    return target == LOAD_CM ? 1 : target == LOAD_MM ? 2 : 0;
}

extern "C++" {
namespace {
assembler::read_policy assembly_read_policy;
}   // namespace

void k3_set_assembly_read_policy(assembler::read_policy policy) { assembly_read_policy = std::move(policy); }
}

int k3_assemble(const char *name, const char *source, int data)
{
    diagnostics diag;
    assembler source_file(data ? source_kind::data : source_kind::micro, diag);
    source_file.set_read_policy(assembly_read_policy);
    source_file.assemble_text(name, source);
    assembly_messages.clear();
    for (const std::string &message : diag.messages()) assembly_messages += message + "\n";
    assembly_records = diag.records();
    for (int level = 0; level < SEVERITIES; level++) assembly_counts[level] = diag.count(static_cast<severity>(level));
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

int k3_diagnostic_count(void) { return static_cast<int>(assembly_records.size()); }

int k3_severity_count(int level) { return level >= 0 && level < SEVERITIES ? assembly_counts[level] : 0; }

int k3_diagnostic_severity(int i)
{
    const diagnostic *record = assembly_record(i);
    if (!record) return -1;
    switch (record->level) {
    case severity::error: return K3_SEVERITY_ERROR;
    case severity::warning: return K3_SEVERITY_WARNING;
    case severity::note: return K3_SEVERITY_NOTE;
    }
    return -1;
}

const char *k3_diagnostic_file(int i)
{
    const diagnostic *record = assembly_record(i);
    return record ? record->where.file.c_str() : "";
}

int k3_diagnostic_line(int i)
{
    const diagnostic *record = assembly_record(i);
    return record ? record->where.line : 0;
}

int k3_diagnostic_column(int i)
{
    const diagnostic *record = assembly_record(i);
    return record && record->where.line > 0 ? record->where.column : 0;
}

const char *k3_diagnostic_message(int i)
{
    const diagnostic *record = assembly_record(i);
    return record ? record->reason.c_str() : "";
}
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
    start_run();
    M.step_count = 0;
    M.max_steps = limit > INT32_MAX ? INT32_MAX : static_cast<int32_t>(limit);
    steps_made = static_cast<uint32_t>(history_run(limit, profile ? profile_counts.data() : nullptr));
    M.step_count = static_cast<int32_t>(steps_made);
    if (M.printer_file) fflush(M.printer_file);

    last_error = M.first_error;
    last_error_line = 0;
    switch (M.stop_reason) {
    case STOP_ERROR: return K3_STOP_ERROR;
    case STOP_BREAK: return K3_STOP_BREAK;
    case STOP_HALT: return K3_STOP_HALT;
    default: return K3_STOP_LIMIT;
    }
}

uint32_t k3_steps(void) { return steps_made; }

void k3_run_end(uint32_t steps, int32_t limit)
{
    M.step_count = static_cast<int32_t>(steps);
    M.max_steps = limit;
    finish_run();
}
int k3_last_error(void) { return last_error; }
int k3_last_error_line(void) { return last_error_line; }

const char *k3_error_text(int number)
{
    static std::string text;
    char message[ERROR_TEXT_SIZE];
    error_message(number, message);
    text = message + strspn(message, " ");
    text.erase(text.find_last_not_of(' ') + 1);
    return text.c_str();
}
const uint64_t *k3_profile(void) { return profile_counts.data(); }
void k3_profile_clear(void) { profile_counts.fill(0); }

void k3_checkpoint(void)
{
    record r;
    r.machine = copy_machine(history.empty() ? nullptr : &history.back().machine);
    r.printed = printer_mark_now();
    history.push_back(std::move(r));
    if (history.size() > K3_HISTORY) history.pop_front();
}

int k3_undo(void)
{
    if (history.empty()) return 0;
    const record &r = history.back();
    restore_machine(r.machine);
    printer_restore(r.printed);
    history.pop_back();
    return 1;
}

int k3_history_size(void) { return static_cast<int>(history.size()); }

int k3_break_set(uint32_t address)
{
    start_action();
    if (address > CM_LIMIT) report_error(ERR_CM_LIMIT);   // reported and still taken, as the Break command does
    const bool set = set_point(M.break_points, static_cast<int32_t>(address), ERR_BREAK_OVERFLOW);
    M.break_active = any_point_in_use(M.break_points);
    last_error = M.first_error;
    last_error_line = 0;
    return set;
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
    const machine_register *reg = find_machine_register(name);
    return reg ? static_cast<int>(reg - MACHINE_REGISTERS) : -1;
}

const char *k3_register_name(int reg) { return register_of(reg) ? register_of(reg)->name : ""; }

int k3_register_count(void) { return MACHINE_REGISTER_COUNT; }

uint32_t k3_get(int reg) { return register_of(reg) ? register_value(*register_of(reg)) : 0; }

void k3_set(int reg, uint32_t value)
{
    if (const machine_register *r = register_of(reg)) store_value(*r, kept_value(*r, value));
}

int k3_register_writable(int reg) { return register_of(reg) && register_of(reg)->store != STORE_READ_ONLY; }

int k3_register_width(int reg) { return register_of(reg) ? register_of(reg)->width : 0; }

const char *k3_register_group(int reg) { return register_of(reg) ? MACHINE_GROUP_NAMES[register_of(reg)->group] : ""; }

int k3_part_count(void) { return DATA_PATH_PARTS; }

const char *k3_part_name(int part) { return part >= 0 && part < DATA_PATH_PARTS ? DATA_PATH_PART_NAMES[part] : ""; }

const char *k3_step_parts(uint32_t ir_before, uint32_t mem_cycle_before, uint32_t io_cycle_before)
{
    const step_view step{M.current, static_cast<uint16_t>(ir_before), M.IR, static_cast<int>(mem_cycle_before),
                         static_cast<int>(io_cycle_before)};
    const part_set used = parts_used(step);
    static std::string names;
    names.clear();
    for (int p = 0; p < DATA_PATH_PARTS; p++)
        if (used.test(p)) {
            if (!names.empty()) names += ' ';
            names += DATA_PATH_PART_NAMES[p];
        }
    return names.c_str();
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
