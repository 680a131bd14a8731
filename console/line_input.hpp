// Console line input and the value readers every command shares.
//
// Every operator answer is one console line of at most 511 characters (a
// longer line arrives in pieces), normalised: white space at its start and one
// newline at its end removed. Numbers typed by the operator are hexadecimal,
// converted by the saturating conversions of core/hex_text.hpp.
#pragma once

#include <cstdint>

#include "core/hex_text.hpp"   // hex_to_i32, hex_to_u32, hex_to_i64

constexpr int LINE_SIZE = 512;

// Reads one line (or the next 511-character piece of a long line) from
// standard input, after flushing the console so that every prompt shows.
// A CR LF pair counts as one newline. A non-blocking standard input is
// waited for. Returns false at end of input or on a read error, with the
// empty line in the buffer.
bool read_console_line(char *line);

// Removes leading white space and one trailing newline, in place.
void normalise_line(char *line);

// A menu choice: prints `prompt`, reads one line and returns its first
// character in upper case ('\0' for an empty line, '.' at end of input).
char read_choice(const char *prompt);

// An empty line, a line beginning with a newline, or any line beginning with ".".
bool is_end_token(const char *line);

// Decimal conversion in the manner of atoi (optional sign, leading digits, no
// digits gives 0), saturating at the signed 32-bit limits.
int32_t decimal_to_i32(const char *text);

// One line as a signed 32-bit hexadecimal number; when end_flag is given it
// becomes 1 for an end token, 0 otherwise. No mask, no range check.
int32_t read_hex_value(int *end_flag = nullptr);

// One line as a flag: first character 0 or F gives 0, 1 or T gives 1; any
// other answer reports error 7 and gives 1.
int read_flag_value();

// One line as an unsigned address; above the memory's last address it is
// reported (error 4 or 3) and still returned.
uint32_t read_cm_address();
uint32_t read_mm_address();
