// The history of runs behind the C interface's time travel (k3_position,
// k3_seek, the k3_find_ questions) and the printer text that checkpoint
// records share. The machine allocates nothing: the history lives here, in
// snapshots of the machine state with shared memory pages, and replays
// between them with the run loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/machine_state.hpp"

// ---- What the C interface (kalvo3_api.cpp) provides ----

// Replaces the printer's text with `length` bytes of `text` (may be null
// when length is 0); the card reader's byte position, and moving it.
void api_printer_replace(const char *text, size_t length);
uint32_t api_reader_position();
void api_reader_seek(uint32_t at);
// Where the interface collects console text.
console_sink api_console_collector();
// The run bookkeeping that k3_steps() and k3_last_error() give.
void api_set_run_record(uint32_t steps, int error);

// ---- Hooks the C interface calls ----

// Runs as k3_run does (run_steps), at most `limit` steps, recording the
// steps into the history. Returns the steps made.
uint64_t history_run(uint64_t limit, uint64_t *counts);
// Power on: a new history from the machine as it stands.
void history_restart();
// The card deck's bytes were replaced.
void history_deck_replaced();

// For tests and the benchmark: the interval between snapshots of a new
// history (2^20 steps) and the snapshots kept before thinning (256); starts
// a new history.
void history_configure(uint64_t first_interval, size_t snapshots);

// ---- Printer text shared by checkpoint records ----

struct printer_version;
// The printer text as it stands: which text and how much of it.
struct printer_mark {
    std::shared_ptr<printer_version> version;
    size_t length = 0;
};
printer_mark printer_mark_now();
// Puts the printer text back as it was when `mark` was taken.
void printer_restore(const printer_mark &mark);
// Called before the printer's text is replaced (cleared, cut, restored):
// records that still need the text keep a copy of it.
void printer_dropping();
