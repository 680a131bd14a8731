#include "console/line_input.hpp"

#include <poll.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/machine_state.hpp"

namespace {

// The next byte of standard input; EOF at its end or on a read error. A
// non-blocking standard input that has nothing to read yet is waited for.
int next_input_byte()
{
    for (;;) {
        const int byte = getc(stdin);
        if (byte != EOF || !ferror(stdin)) return byte;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return EOF;
        const bool interrupted = errno == EINTR;
        clearerr(stdin);
        pollfd in{fileno(stdin), POLLIN, 0};
        if (in.fd < 0) return EOF;   // a stream without a descriptor cannot be waited for
        if (!interrupted && poll(&in, 1, -1) < 0 && errno != EINTR) return EOF;
    }
}

}  // namespace

bool read_console_line(char *line)
{
    console_flush();
    // The piece is counted as it is read: a NUL byte in it is text like any other.
    size_t length = 0;
    for (int byte; length < LINE_SIZE - 1 && (byte = next_input_byte()) != EOF;) {
        line[length++] = static_cast<char>(byte);
        if (byte == '\n') break;
    }
    line[length] = '\0';
    if (length == 0) return false;
    // A CR LF line end is one newline, also when the piece filled the buffer
    // right after the CR.
    if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
        line[length - 2] = '\n';
        line[length - 1] = '\0';
    } else if (length == LINE_SIZE - 1 && line[length - 1] == '\r') {
        const int next = next_input_byte();
        if (next == '\n')
            line[length - 1] = '\n';
        else if (next != EOF)
            ungetc(next, stdin);
    }
    normalise_line(line);
    return true;
}

void normalise_line(char *line)
{
    size_t start = 0;
    while (line[start] && isspace(static_cast<unsigned char>(line[start]))) start++;
    size_t length = strlen(line + start);
    memmove(line, line + start, length + 1);
    if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
}

char read_choice(const char *prompt)
{
    char line[LINE_SIZE];
    console_print("%s", prompt);
    if (!read_console_line(line)) return '.';
    return static_cast<char>(toupper(static_cast<unsigned char>(line[0])));
}

bool is_end_token(const char *line)
{
    return line[0] == '\0' || line[0] == '\n' || line[0] == '.';
}

int32_t decimal_to_i32(const char *text)
{
    while (*text && isspace(static_cast<unsigned char>(*text))) text++;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > 0x80000000LL) magnitude = 0x80000000LL;   // saturate, keep scanning
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(value);
}

int32_t read_hex_value(int *end_flag)
{
    char line[LINE_SIZE];
    if (end_flag) *end_flag = 0;
    read_console_line(line);
    if (is_end_token(line) && end_flag) *end_flag = 1;
    return hex_to_i32(line);
}

int read_flag_value()
{
    char line[LINE_SIZE];
    read_console_line(line);
    switch (line[0]) {
    case '0':
    case 'F':
        return 0;
    case '1':
    case 'T':
        return 1;
    default:
        report_error(ERR_ILLEGAL_INPUT);
        return 1;
    }
}

namespace {

// One line as an unsigned address, reported once when it lies beyond `limit`
// and returned all the same: what an address out of range does is the
// caller's decision.
uint32_t read_address(uint32_t limit, error_number beyond_limit)
{
    char line[LINE_SIZE];
    read_console_line(line);
    uint32_t address = hex_to_u32(line);
    if (address > limit) report_error(beyond_limit);
    return address;
}

}  // namespace

uint32_t read_cm_address() { return read_address(CM_LIMIT, ERR_CM_LIMIT); }

uint32_t read_mm_address() { return read_address(MM_LIMIT, ERR_MM_LIMIT); }
