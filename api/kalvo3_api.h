/* The machine for programs other than the console: a small C interface over
 * the one machine state, for the browser workbench (compiled to WebAssembly)
 * and the check runner.
 *
 * It drives the very code the console simulator runs: load-file text goes
 * through the Load command's reader, sources through kalvo3-asm's assembler,
 * and runs through the micro-cycle with the Run command's break point rules.
 * It prints nothing: what the console would print during a call (error
 * reports, break messages, the OV lamp) is collected and read with
 * k3_console_text(). The card reader reads a text given here and the printer
 * writes into memory; no file of the current directory is touched.
 *
 * Strings returned stay valid until the next call that returns one of the
 * same kind. Addresses and values are unsigned; a CM word is given as its
 * high and low 32 bits. */
#ifndef KALVO3_API_H
#define KALVO3_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Power on: registers reset, both memories cleared, the card deck and the
 * printer empty, the console text and the history cleared. */
void k3_power_on(void);

/* Registers reset as at power on (the memories, the card deck and the
 * printer kept); like every register reset, it frees the break points. */
void k3_reset(void);

/* ---- Console text ---------------------------------------------------- */

/* Everything the console would have printed since the last clear. */
const char *k3_console_text(void);
void k3_console_clear(void);

/* ---- Loading and assembling ------------------------------------------ */

/* Loads load-file text ("CM" or "MM" header, then address and value lines)
 * as the Load command loads a file. Returns 1 for CM, 2 for MM, 0 when the
 * header names no memory (error 5) or the text is empty. The first error it
 * reported (error 5, or 3 or 4 for an address beyond the memory: the load
 * goes on past those) is k3_last_error(), its line k3_last_error_line(). */
int k3_load_text(const char *text);

/* Assembles `source` as the file `name` (includes are looked up beside
 * `name`); `data` non-zero for a main-memory data source. Returns the number
 * of errors. Its errors, warnings (the timing check's among them, also when
 * there are errors) and notes are records, read with k3_diagnostic_*; the
 * same as text, one line each as kalvo3-asm prints them
 * ("name:line:column: error: ..."), in k3_assembly_messages(). On success
 * the load-file text is in k3_assembly_load_file() and nothing is loaded
 * yet. */
int k3_assemble(const char *name, const char *source, int data);
const char *k3_assembly_messages(void);

/* The records of the last assembly, in the order reported: how many there
 * are, how many of one severity, and each one's fields (record `i` from 0;
 * -1, 0 or "" for a record that does not exist). The file is the name given
 * to k3_assemble or an included file's path; line 0 is about the whole file
 * (its column is 0 too). */
enum k3_severity { K3_SEVERITY_ERROR = 0, K3_SEVERITY_WARNING = 1, K3_SEVERITY_NOTE = 2 };
int k3_diagnostic_count(void);
int k3_severity_count(int severity);
int k3_diagnostic_severity(int i);
const char *k3_diagnostic_file(int i);
int k3_diagnostic_line(int i);
int k3_diagnostic_column(int i);
const char *k3_diagnostic_message(int i);
const char *k3_assembly_load_file(void);
/* The labels of the last successful assembly as kalvo3-asm --symbols writes
 * them: a comment line (";"), then one "NAME 0xADDRESS" line each, in
 * address order. */
const char *k3_assembly_labels(void);
/* The source line (from 1) that placed the word at `address` in the last
 * successful assembly, 0 for none. Lines of included files count as 0. */
int k3_assembly_line(uint32_t address);

/* Source text that assembles back to the words of control memory that are
 * not zero (kalvo3-asm's disassembler; labels L_xxx for jump targets). */
const char *k3_disassemble(void);
/* The CM word at `address` as one source statement (no label, no comment;
 * a jump target as an address, or as L_xxx when the word jumps to itself),
 * "" beyond control memory. */
const char *k3_word_text(uint32_t address);

/* The memories as load files the console can load: every non-zero word
 * (load them into cleared memory). */
const char *k3_cm_load_file(void);
const char *k3_mm_load_file(void);

/* ---- Running ---------------------------------------------------------- */

enum k3_stop {
    K3_STOP_LIMIT = 0, /* the step limit was used up */
    K3_STOP_HALT = 1,  /* a halting extra function (EXF 13, 14) */
    K3_STOP_ERROR = 2, /* an error was reported; k3_last_error() names it */
    K3_STOP_BREAK = 3  /* a break point was reached */
};

/* Runs from the present CMAR as the Run command's loop does, at most `limit`
 * micro-cycles: break points checked before the first step and after each,
 * the run ends after the step that stops it. `profile` non-zero counts the
 * executions of each CM word (k3_profile). Returns a k3_stop; the steps made
 * are in k3_steps(). A long run may be made of several calls: the break
 * point check before the first step of a call can only hit where the run
 * would have stopped anyway. */
int k3_run(uint32_t limit, int profile);
uint32_t k3_steps(void);
/* Adds the console's closing lines of a run to the console text, as its Run
 * command prints them (" CPU HALTED !", then the steps used or that the step
 * limit was used up): for a run of `steps` micro-cycles in all, made of one
 * or more k3_run calls, with the step limit `limit` (-1: none). */
void k3_run_end(uint32_t steps, int32_t limit);
/* The number of the first error reported by the last run or by the last
 * operator call that may report one (k3_load_text, k3_break_set), 0 for
 * none; for a load, the line of the load-file text that made it (from 1, the
 * header line 1), else 0. */
int k3_last_error(void);
int k3_last_error_line(void);
/* The machine's message for an error number, as the console prints it under
 * "ERROR n" without the spaces around it ("NO DATA ON I/O DEVICE !"); "" for
 * a number that names no error. */
const char *k3_error_text(int number);

/* Executions of the CM word at each address (4096 counts), and of fetches
 * beyond 0xFFF (index 4096), summed over profiled runs since the last clear. */
const uint64_t *k3_profile(void);
void k3_profile_clear(void);

/* Checkpoints of changes made from outside: k3_checkpoint() records the
 * whole machine (registers, memories, the card reader's position, the
 * printer text); k3_undo() returns to the latest record and drops it, or
 * returns 0 when there is none. The last K3_HISTORY records are kept; memory
 * pages that did not change are shared between records, and the printer text
 * is shared too (a record holds its length; the text is copied once, when
 * the printer is cleared or cut while a record still needs it), so a record
 * costs about 2 KiB. Runs need no record: see k3_seek. */
#define K3_HISTORY 4096
void k3_checkpoint(void);
int k3_undo(void);
int k3_history_size(void);

/* ---- Time travel ------------------------------------------------------- */

/* Every run is recorded: the history holds every state the machine passed
 * through since the last change made from outside (power on, reset, a load,
 * a register, a memory word, the card deck, the printer, an undo; not a
 * break point, which decides only where runs stop) and grows across any
 * number of k3_run calls. It keeps snapshots at
 * intervals and replays between them, so it takes bounded memory (under
 * 64 MiB) however long the runs.
 *
 * k3_position: the steps in the history up to the present state (0 right
 * after a change from outside); k3_history_end: up to its last state.
 *
 * k3_seek(step), step <= k3_history_end(): puts the machine in the state it
 * had after that many steps (registers, buses, flags, fields, cycle states,
 * CMAR stack, both memories, the card reader's position, the printer text)
 * and returns 1. The console text is not repeated. The run bookkeeping is as
 * one run from the history's start that stopped there: k3_steps() and the
 * step counter give `step` (cut to 32 bits), STOP is what that last step and
 * the break point check after it left, k3_last_error() the error that step
 * reported. Beyond the end it returns 0 and changes nothing.
 *
 * A run after a seek back goes through the recorded states again (the
 * machine is deterministic between changes from outside), so the later
 * history is kept and the run extends it only past its end. A change from
 * outside after a seek back starts a new history from that state: the
 * states after it, and before it, are dropped (k3_checkpoint/k3_undo keep
 * the outside changes).
 *
 * With WebAssembly, 64-bit arguments and results are BigInt (the module is
 * built with WASM_BIGINT). */
uint64_t k3_position(void);
uint64_t k3_history_end(void);
int k3_seek(uint64_t step);
/* Bytes the history holds now (snapshots, their shared memory pages). */
uint64_t k3_history_memory(void);

/* Reverse questions, answered by replaying the history backwards from the
 * present, newest interval first, a bounded number of steps per call:
 *  - K3_FIND_REGISTER (what: a register number of k3_register): the last
 *    step t <= k3_position() after which the register's value differs from
 *    its value before it; k3_find_word() the CM address of the word run in
 *    step t.
 *  - K3_FIND_MM_WORD (what: a main-memory address): the same for the word;
 *    k3_find_word() the word in whose cycle the data was taken (step t),
 *    k3_find_starter() the word that started the write (K3_FIND_UNKNOWN
 *    when it was started before the history's start).
 *  - K3_FIND_ADDRESS (what: a CM address): the last step t < k3_position()
 *    after which CMAR held the address (run backwards to a break point).
 * k3_find_start starts a question (0 for an unknown kind or register, else
 * 1); k3_find_continue(steps) replays about `steps` more steps (whole
 * intervals, at least one) and returns K3_FIND_RUNNING, K3_FIND_FOUND,
 * K3_FIND_NONE (nothing in the whole history) or K3_FIND_LOST (the history
 * started anew since the question began, or no question). The machine state
 * shown is unchanged by these calls; stop a search by not continuing it.
 * k3_find_searched: steps replayed so far, for a progress display, of
 * k3_find_span() in all at most. */
enum k3_find_kind { K3_FIND_REGISTER = 0, K3_FIND_MM_WORD = 1, K3_FIND_ADDRESS = 2 };
enum k3_find_status { K3_FIND_RUNNING = 0, K3_FIND_FOUND = 1, K3_FIND_NONE = 2, K3_FIND_LOST = -1 };
#define K3_FIND_UNKNOWN 0xFFFFFFFFu
int k3_find_start(int kind, uint32_t what);
int k3_find_continue(uint64_t steps);
uint64_t k3_find_searched(void);
uint64_t k3_find_span(void);
uint64_t k3_find_step(void);
uint32_t k3_find_word(void);
uint32_t k3_find_starter(void);

/* ---- Break points ------------------------------------------------------ */

/* Sets or clears a break point as the Break command's S)et and R)eset do.
 * Returns 0 when the table is full (error 15 reported, k3_last_error() 15),
 * else 1; an address beyond control memory is set all the same, with error 4
 * reported (k3_last_error() 4), as at the console. */
int k3_break_set(uint32_t address);
void k3_break_clear(uint32_t address);
int k3_break_at(uint32_t address);

/* ---- Registers, buses, flags, fields ---------------------------------- */

/* Register names: R0..R7 PC IR MAR CMAR C FSR LBUS RBUS ABUS SBUS IOBUS
 * ZER NEG CRY OVR CZ T, the fields LBF RBF ALF SHF SBF MMF SQF TSF EXF ADF,
 * MEMCYCLE IOCYCLE SP S0..S7 (the CMAR stack), STOP. Any case. Returns the
 * register's number, or -1. */
int k3_register(const char *name);
const char *k3_register_name(int reg);
int k3_register_count(void);
uint32_t k3_get(int reg);
/* Stores `value` cut to the register's width (MAR and CMAR keep 32 bits,
 * as the Change command leaves them). Fields and STOP are read-only. */
void k3_set(int reg, uint32_t value);
/* 1 when k3_set changes the register, 0 for the fields and STOP. */
int k3_register_writable(int reg);
/* The register's width in bits (CMAR 12, C 8, FSR 4, a flag 1, a field its
 * own, MEMCYCLE and IOCYCLE 2, SP 4), and the group a front end shows it in:
 * "registers", "buses", "flags", "fields", "cycles", "stack" or "run"
 * (STOP); 0 and "" for no register. */
int k3_register_width(int reg);
const char *k3_register_group(int reg);

/* The parts of the data path: units (R0..R7, PC, IR, MAR, MM, ALU, SHIFTER,
 * FLAGS, CONST, READER, PRINTER, ...), buses (LBUS, RBUS, ABUS, SBUS, IOBUS)
 * and connections named SOURCE-DESTINATION (R-LBUS, SBUS-PC, LBUS-MAR, ...).
 * k3_step_parts names, separated by blanks, the parts that the last
 * micro-cycle used: its fields are the field registers, IR after it is IR
 * now; the arguments are IR and the memory and I/O cycle states before it. */
int k3_part_count(void);
const char *k3_part_name(int part);
const char *k3_step_parts(uint32_t ir_before, uint32_t mem_cycle_before, uint32_t io_cycle_before);

/* The ten fields of the micro-instruction word, most significant first
 * (0 LBF .. 9 ADF): name, lowest bit, width; the field `field` of the CM
 * word at `address`; the assembler's mnemonic of a field's code ("" where
 * the code has none: sequence and address fields, constants, reserved
 * codes; for TSF the test condition's name). */
int k3_field_count(void);
const char *k3_field_name(int field);
int k3_field_low_bit(int field);
int k3_field_width(int field);
uint32_t k3_cm_field(uint32_t address, int field);
const char *k3_mnemonic(int field, uint32_t code);

/* ---- Memories ----------------------------------------------------------- */

uint32_t k3_cm_high(uint32_t address);
uint32_t k3_cm_low(uint32_t address);
void k3_cm_set(uint32_t address, uint32_t high, uint32_t low);
uint32_t k3_mm_get(uint32_t address);
void k3_mm_set(uint32_t address, uint32_t value);
/* The 65536 main-memory words, for fast reading. */
const uint16_t *k3_mm(void);

/* ---- Devices ------------------------------------------------------------- */

/* The card deck: `length` bytes read from the start. Replaces the deck. */
void k3_cards_set(const char *bytes, uint32_t length);
/* Rewinds the card reader to the first byte. */
void k3_cards_rewind(void);
/* Bytes of the deck read so far. */
uint32_t k3_cards_position(void);

/* Everything printed since the last clear, and its length. */
const char *k3_printer_text(void);
uint32_t k3_printer_length(void);
void k3_printer_clear(void);

#ifdef __cplusplus
}
#endif

#endif
