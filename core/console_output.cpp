#include "core/console_output.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

char console_buffer[CONSOLE_BUFFER_SIZE];
size_t console_used;           // bytes of console_buffer waiting
console_sink console_output;   // nullptr: descriptor 1
int line_buffered = -1;        // standard output is a terminal; -1 not yet asked

// Writes all of text to descriptor 1, or as much as it takes before failing.
void write_standard_output(const char *text, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(1, text, length);
        if (written > 0) {
            text += written;
            length -= static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out{1, POLLOUT, 0};
            if (poll(&out, 1, -1) < 0 && errno != EINTR) return;
        } else {
            return;   // the console is gone: the session goes on without it
        }
    }
}

}   // namespace

void console_flush()
{
    if (console_used == 0) return;
    if (console_output)
        console_output(console_buffer, console_used);
    else
        write_standard_output(console_buffer, console_used);
    console_used = 0;
}

void set_console_sink(console_sink sink)
{
    console_flush();
    console_output = sink;
}

int console_print(const char *format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    size_t room = sizeof console_buffer - console_used;
    int length = vsnprintf(console_buffer + console_used, room, format, args);
    if (length >= 0 && static_cast<size_t>(length) >= room) {   // it did not fit: empty the buffer first
        console_flush();
        room = sizeof console_buffer;
        length = vsnprintf(console_buffer, room, format, again);
        if (static_cast<size_t>(length) >= room) length = static_cast<int>(room - 1);
    }
    va_end(again);
    va_end(args);
    if (length < 0) return length;
    const char *text = console_buffer + console_used;
    console_used += static_cast<size_t>(length);
    if (console_output) {   // a sink takes each text as it comes
        console_flush();
        return length;
    }
    if (line_buffered < 0) line_buffered = isatty(1);
    if (line_buffered && memchr(text, '\n', static_cast<size_t>(length))) console_flush();
    return length;
}
