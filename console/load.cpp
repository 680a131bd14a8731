#include "console/load.hpp"

#include <cstdio>

#include "console/line_input.hpp"
#include "core/machine_state.hpp"

namespace {

// Stores one data line in the memory that target (CM or MM) names; a line
// without a value column stores nothing. Returns the error it reported, or 0.
int store_line(load_target target, const char *line)
{
    uint32_t address;
    uint64_t value;
    if (!load_file_line(target, line, address, value)) return 0;
    if (target == LOAD_CM) {   // the whole 64-bit value: bits above 39 as the file gives them
        if (address > CM_LIMIT) {
            report_error(ERR_CM_LIMIT);
            return ERR_CM_LIMIT;
        }
        M.CM[address] = value;
    } else {                   // the low 16 bits
        if (address > MM_LIMIT) {
            report_error(ERR_MM_LIMIT);
            return ERR_MM_LIMIT;
        }
        M.MM[address] = static_cast<uint16_t>(value);
    }
    return 0;
}

}  // namespace

void load_command()
{
    char name[LINE_SIZE];
    console_print("LOAD\n  FILE NAME=?");
    read_console_line(name);   // no end token here: "." and the empty line are names too
    console_print("  LOADING '%s'\n", name);

    FILE *file = fopen(name, "r");
    if (!file) {
        report_error(ERR_IO_ERROR);
        return;
    }
    load_stream(file);
    fclose(file);
}

load_target load_stream(FILE *file, load_report *report)
{
    // An empty file, or one that cannot be read at all (a directory), has no
    // header: it loads nothing and says nothing more.
    bool has_header = false;
    load_target target = LOAD_INVALID;
    load_report first;
    int line_number = 0;
    const load_read_end end = read_load_lines(file, [&](const char *line) {
        line_number++;
        if (has_header) {
            const int error = store_line(target, line);
            if (error && !first.error) first = {error, line_number};
            return true;
        }
        has_header = true;
        target = load_file_header(line);
        return target != LOAD_INVALID;
    });
    if (end == LOAD_READ_TOO_LONG) {
        // A line that never ends (an endless stream): no load file. The
        // words stored before it stay stored.
        if (!first.error) first = {ERR_LOAD_FORMAT, line_number + 1};
        if (report) *report = first;
        report_error(ERR_LOAD_FORMAT);
        return LOAD_INVALID;
    }
    if (has_header && target == LOAD_INVALID) first = {ERR_LOAD_FORMAT, 1};
    if (report) *report = first;
    if (has_header) {
        switch (target) {
        case LOAD_INVALID: report_error(ERR_LOAD_FORMAT); break;
        case LOAD_CM: console_print(" LOADED TO CM\n"); break;
        case LOAD_MM: console_print(" LOADED TO MM\n"); break;
        }
    }
    return target;
}
