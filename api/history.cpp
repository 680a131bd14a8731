// The history of runs (see history.hpp and kalvo3_api.h).
//
// The machine is deterministic between changes made from outside: a state
// and the card deck it reads decide every later state. So the history is a
// list of snapshots, one every `interval` steps from its start, and a state
// between two of them is found again by restoring the earlier one and running
// on. A snapshot holds the machine state after the two memories (a few
// hundred bytes), the memories in pages shared with the snapshot before when
// they did not change, the card reader's position and the printer text's
// length (the text before a point never changes within a history).
//
// Memory stays bounded: at SNAPSHOTS (256) snapshots every other one is dropped and
// the interval doubles, so a history of n steps keeps between SNAPSHOTS / 2
// and SNAPSHOTS of them, about n / SNAPSHOTS steps apart at most.
//
// A run records as it goes: it runs to the next snapshot's step, takes the
// snapshot and goes on, with the run loop unchanged. Before each run, seek
// and question the machine is compared with the state the history's present
// left: any difference is a change made from outside, and the history starts
// anew from the machine as it stands.
//
// A seek restores the latest snapshot before the target (or goes on from
// the present when that is nearer) and replays to one step before it with
// the run loop, console text discarded, then makes the last step alone, with
// the break point check after it, to learn what a run stopping there reports.
//
// A question replays intervals newest first with the printer writing
// nowhere, and puts the present back after every call. The run loop's
// watching kind notes the last change of the register or memory word as it
// runs; CMAR, CZ and the fields, which the loop does not keep, are watched
// a micro-cycle at a time.
#include "api/history.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "api/kalvo3_api.h"
#include "api/machine_copy.hpp"
#include "core/fast_loop.hpp"
#include "core/machine_description.hpp"
#include "core/micro_cycle.hpp"
#include "core/stepping.hpp"

namespace {

// ---- The machine state in parts ----

// The run bookkeeping and the device streams lie between these two: a run
// or the interface sets them, they are no change to the machine.
constexpr size_t RUN_OFFSET = offsetof(MachineState, stop_flag);
constexpr size_t AIDS_OFFSET = offsetof(MachineState, break_points);
static_assert(RUN_OFFSET < offsetof(MachineState, step_count) &&
                  offsetof(MachineState, max_steps) < offsetof(MachineState, reader_file) &&
                  offsetof(MachineState, printer_file) < AIDS_OFFSET,
              "run bookkeeping and streams lie together");

const unsigned char *bytes_of(const MachineState &state) { return reinterpret_cast<const unsigned char *>(&state); }

// ---- Snapshots ----

size_t snapshot_limit = 256;   // SNAPSHOTS
uint64_t first_interval = uint64_t{1} << 20;

struct snapshot {
    uint64_t step;
    machine_copy machine;
    size_t printer_length;
};

std::vector<snapshot> snapshots;      // by step; the first at step 0
uint64_t interval = first_interval;   // steps between snapshots
uint64_t position = 0;                // steps up to the present state
uint64_t history_end = 0;             // steps up to the last state recorded
uint64_t generation = 0;              // histories started so far

// The longest printer text of this history so far: the text at every step
// is a prefix of it. The printer holds it while the present is the history's
// end; a seek back cuts the printer's text and keeps the whole here, for a
// seek forward again.
std::string history_text;

// The machine as the present state left it, to tell changes from outside.
MachineState present;
uint32_t present_reader = 0;
size_t present_printer = 0;
uint64_t deck_generation = 0, present_deck = 0;

void remember_present()
{
    memcpy(&present, &M, sizeof M);
    present_reader = api_reader_position();
    present_printer = k3_printer_length();
    present_deck = deck_generation;
}

// Break points decide only where runs stop, never a state: setting or
// clearing one keeps the history, and every replay runs with the table the
// machine holds now.
struct break_table {
    point_slot points[POINT_SLOTS];
    int active;
};

break_table break_points_of(const MachineState &state)
{
    break_table table;
    memcpy(table.points, state.break_points, sizeof table.points);
    table.active = state.break_active;
    return table;
}

void put_break_points(MachineState &into, const break_table &table)
{
    memcpy(into.break_points, table.points, sizeof into.break_points);
    into.break_active = table.active;
}

bool unchanged_since_present()
{
    put_break_points(present, break_points_of(M));
    return memcmp(bytes_of(M), bytes_of(present), RUN_OFFSET) == 0 &&
           memcmp(bytes_of(M) + AIDS_OFFSET, bytes_of(present) + AIDS_OFFSET, sizeof M - AIDS_OFFSET) == 0 &&
           api_reader_position() == present_reader && k3_printer_length() == present_printer &&
           deck_generation == present_deck;
}

void take_snapshot()
{
    if (snapshots.size() >= snapshot_limit) {   // thin: keep every other one from the first
        size_t kept = 0;
        for (size_t i = 0; i < snapshots.size(); i += 2) snapshots[kept++] = std::move(snapshots[i]);
        snapshots.resize(kept);
        interval *= 2;
    }
    const snapshot *before = snapshots.empty() ? nullptr : &snapshots.back();
    snapshot s;
    s.step = position;
    s.machine = copy_machine(before ? &before->machine : nullptr);
    s.printer_length = k3_printer_length();
    snapshots.push_back(std::move(s));
}

void start_history()
{
    snapshots.clear();
    snapshots.reserve(snapshot_limit);
    interval = first_interval;
    position = history_end = 0;
    generation++;
    history_text.clear();
    take_snapshot();
    remember_present();
}

// Starts a new history if the machine was changed from outside.
void follow_outside_changes()
{
    if (snapshots.empty() || !unchanged_since_present()) start_history();
}

// The latest snapshot at or before `step`.
const snapshot &snapshot_at_or_before(uint64_t step)
{
    auto after = std::upper_bound(snapshots.begin(), snapshots.end(), step,
                                  [](uint64_t at, const snapshot &s) { return at < s.step; });
    return *(after - 1);
}

// Puts the machine state of `s` into M; the printer text is cut to its
// length only when `printer` (a question's replay prints nowhere).
void restore(const snapshot &s, bool printer)
{
    const break_table live = break_points_of(M);
    restore_machine(s.machine);
    put_break_points(M, live);
    if (printer && k3_printer_length() != s.printer_length) {
        if (k3_printer_length() > history_text.size()) history_text.assign(k3_printer_text(), k3_printer_length());
        const std::string kept = history_text.substr(0, s.printer_length);
        api_printer_replace(kept.data(), kept.size());
    }
}

// ---- Console text while replaying ----

void discard_console(const char *, size_t) {}

// Replays from the state after step `from` to the state after step `to`
// with the run loop, across stops of every kind.
void replay(uint64_t from, uint64_t to)
{
    while (from < to) {
        M.stop_flag = 0;
        from += run_steps(to - from);
    }
}

// ---- Reverse questions ----

struct question {
    int kind = -1;
    uint32_t what = 0;
    uint64_t generation = 0;   // of the history it asks
    uint64_t from = 0;         // the present when it began
    uint64_t scan_end = 0;     // intervals from here back are still to replay
    uint64_t searched = 0;
    int status = K3_FIND_LOST;
    uint64_t found = 0;
    uint32_t word = 0, starter = 0;
} asked;

FILE *nowhere()
{
    static FILE *stream = fopen("/dev/null", "w");
    return stream;
}

// Where M holds what a question about a register or a main-memory word
// watches.
const void *watched_place()
{
    if (asked.kind == K3_FIND_MM_WORD) return &M.MM[asked.what];
    // The interface numbers the registers as the machine's description
    // does, and the description says where each one lives.
    const machine_register &row = MACHINE_REGISTERS[asked.what];
    if (row.word16) return row.word16;
    if (row.word32) return row.word32;
    return row.word_int;
}

void note_found(uint64_t step, uint32_t word) { asked.found = step, asked.word = word, asked.status = K3_FIND_FOUND; }

// Steps a+1..b from state a, a micro-cycle at a time: the last step that
// changed *value.
template <typename Value>
void scan_stepping(uint64_t a, uint64_t b, const Value *value)
{
    Value before = *value;
    for (uint64_t t = a + 1; t <= b; t++) {
        const uint32_t word = M.CMAR;
        M.stop_flag = 0;
        micro_cycle();
        if (*value != before) note_found(t, word), before = *value;
    }
}

// Replays steps a+1..b from snapshot state a and notes the answer's last
// candidate in that range, if any.
void scan(uint64_t a, uint64_t b)
{
    for (point_slot &slot : M.break_points) slot.in_use = 0;
    M.break_active = 0;
    if (asked.kind == K3_FIND_ADDRESS) {   // states a..b-1, with a break point at the address
                                           // (any beyond the control memory stops the run loop too)
        M.break_points[0] = {1, static_cast<int32_t>(asked.what)};
        M.break_active = 1;
        uint64_t t = a;
        if (M.CMAR == asked.what) note_found(t, 0);
        while (t + 1 < b) {
            M.stop_flag = 0;
            t += fast_run(b - 1 - t);
            if (M.CMAR == asked.what) note_found(t, 0);
        }
        return;
    }
    const void *at = watched_place();
    if (fast_loop_watches(at)) {   // the run loop notes the changes itself
        value_watch watch{at, 0, 0};
        for (uint64_t t = a; t < b;) {
            M.stop_flag = 0;
            const uint64_t made = fast_run_watching(b - t, watch);
            if (watch.changed_in) note_found(t + watch.changed_in, watch.changed_by);
            t += made;
        }
        return;
    }
    const machine_register &row = MACHINE_REGISTERS[asked.what];
    if (row.word16)
        scan_stepping(a, b, row.word16);
    else if (row.word32)
        scan_stepping(a, b, row.word32);
    else
        scan_stepping(a, b, row.word_int);
}

// The word that step `step` (1 or later) ran: CMAR after the step before.
uint32_t word_of_step(uint64_t step)
{
    const snapshot &s = snapshot_at_or_before(step - 1);
    restore(s, false);
    M.break_active = 0;
    replay(s.step, step - 1);
    return M.CMAR;
}

// Replays intervals newest first until about `budget` steps are replayed or
// the question is answered.
void search(uint64_t budget)
{
    uint64_t done = 0;
    while (asked.status == K3_FIND_RUNNING && done < budget) {
        if (asked.scan_end == 0) {   // the history's start: nothing (further)
            asked.status = K3_FIND_NONE;
            break;
        }
        const snapshot &s = snapshot_at_or_before(asked.scan_end - 1);
        const uint64_t a = s.step, b = asked.scan_end;
        restore(s, false);
        scan(a, b);
        done += b - a;
        asked.searched += b - a;
        asked.scan_end = a;
    }
    // A main-memory word takes the data in the cycle after the one that
    // started the write (a write to a word beyond main memory, which is
    // retried, cannot start in a history: MAR comes from the 16-bit LBUS).
    if (asked.status == K3_FIND_FOUND && asked.kind == K3_FIND_MM_WORD)
        asked.starter = asked.found > 1 ? word_of_step(asked.found - 1) : K3_FIND_UNKNOWN;
}

}   // namespace

// ---- Hooks ----

uint64_t history_run(uint64_t limit, uint64_t *counts)
{
    follow_outside_changes();
    uint64_t done = 0;
    while (done < limit) {
        uint64_t slice = limit - done;
        if (position < history_end) {   // again through recorded states
            slice = std::min(slice, history_end - position);
        } else {
            if (position >= snapshots.back().step + interval) take_snapshot();
            slice = std::min(slice, snapshots.back().step + interval - position);
        }
        const uint64_t made = run_steps(slice, counts);
        done += made;
        position += made;
        history_end = std::max(history_end, position);
        if (position == history_end && position >= snapshots.back().step + interval) take_snapshot();
        if (M.stop_flag) break;
    }
    if (M.printer_file) fflush(M.printer_file);
    remember_present();
    return done;
}

void history_restart() { start_history(); }

void history_deck_replaced() { deck_generation++; }

void history_configure(uint64_t first, size_t limit)
{
    first_interval = std::max<uint64_t>(first, 1);
    snapshot_limit = std::max<size_t>(limit, 2);
    start_history();
}

// ---- Printer text shared by checkpoint records ----

struct printer_version {
    std::string text;   // the whole text, once it stopped being the printer's
    bool frozen = false;
};

namespace {
std::shared_ptr<printer_version> live_printer = std::make_shared<printer_version>();
}

printer_mark printer_mark_now() { return {live_printer, k3_printer_length()}; }

void printer_dropping()
{
    if (live_printer.use_count() == 1) return;   // no record needs the text
    live_printer->text.assign(k3_printer_text(), k3_printer_length());
    live_printer->frozen = true;
    live_printer = std::make_shared<printer_version>();
}

void printer_restore(const printer_mark &mark)
{
    if (mark.version == live_printer && mark.length == k3_printer_length()) return;
    const std::string text =
        mark.version->frozen ? mark.version->text.substr(0, mark.length) : std::string(k3_printer_text(), mark.length);
    api_printer_replace(text.data(), text.size());
}

// ---- The C interface's calls ----

extern "C" {

uint64_t k3_position(void)
{
    follow_outside_changes();
    return position;
}

uint64_t k3_history_end(void)
{
    follow_outside_changes();
    return history_end;
}

int k3_seek(uint64_t step)
{
    follow_outside_changes();
    if (step > history_end) return 0;
    int error = 0;
    if (step == 0) {
        restore(snapshots.front(), true);
        start_run();
    } else {
        const snapshot &s = snapshot_at_or_before(step - 1);
        uint64_t at = position;
        if (position < s.step || position > step - 1) {
            restore(s, true);
            at = s.step;
        }
        set_console_sink(discard_console);
        replay(at, step - 1);
        start_run();   // the last step as a run of its own: its stop record
        micro_cycle();
        if (M.break_active) check_break_points();
        set_console_sink(api_console_collector());
        if (M.printer_file) fflush(M.printer_file);
        error = M.first_error;
    }
    M.step_count = static_cast<int32_t>(static_cast<uint32_t>(step));
    M.max_steps = step > INT32_MAX ? INT32_MAX : static_cast<int32_t>(step);
    api_set_run_record(static_cast<uint32_t>(step), error);
    position = step;
    remember_present();
    return 1;
}

uint64_t k3_history_memory(void)
{
    return memory_page_bytes() + snapshots.capacity() * sizeof(snapshot) + sizeof present + history_text.capacity();
}

int k3_find_start(int kind, uint32_t what)
{
    switch (kind) {
    case K3_FIND_REGISTER:
        if (what >= MACHINE_REGISTER_COUNT || what == REG_STOP) return 0;
        break;
    case K3_FIND_MM_WORD:
        if (what > MM_LIMIT) return 0;
        break;
    case K3_FIND_ADDRESS: break;
    default: return 0;
    }
    follow_outside_changes();
    asked = question{};
    asked.kind = kind;
    asked.what = what;
    asked.generation = generation;
    asked.from = asked.scan_end = position;
    asked.status = K3_FIND_RUNNING;
    return 1;
}

int k3_find_continue(uint64_t steps)
{
    follow_outside_changes();
    if (asked.generation != generation) asked.status = K3_FIND_LOST;
    if (asked.status != K3_FIND_RUNNING) return asked.status;

    const int stop_flag = M.stop_flag;
    const int32_t step_count = M.step_count, max_steps = M.max_steps;
    FILE *printer = M.printer_file;
    M.printer_file = nowhere();
    set_console_sink(discard_console);
    search(std::max<uint64_t>(steps, 1));   // at least one interval
    set_console_sink(api_console_collector());
    memcpy(&M, &present, sizeof M);   // the present, with the device streams it had
    M.printer_file = printer;
    M.stop_flag = stop_flag, M.step_count = step_count, M.max_steps = max_steps;
    api_reader_seek(present_reader);
    return asked.status;
}

uint64_t k3_find_searched(void) { return asked.searched; }
uint64_t k3_find_span(void) { return asked.from; }
uint64_t k3_find_step(void) { return asked.status == K3_FIND_FOUND ? asked.found : 0; }
uint32_t k3_find_word(void) { return asked.status == K3_FIND_FOUND ? asked.word : 0; }
uint32_t k3_find_starter(void) { return asked.status == K3_FIND_FOUND ? asked.starter : 0; }

}   // extern "C"
