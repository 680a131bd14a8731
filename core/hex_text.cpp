#include "core/hex_text.hpp"

#include <cctype>

namespace {

// The digits of a hexadecimal number as a magnitude, saturated at 2^64 - 1;
// `overflow` tells whether it was saturated.
struct hex_number {
    bool negative;
    uint64_t magnitude;
    bool overflow;
};

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

hex_number scan_hex(const char *text)
{
    hex_number n{false, 0, false};
    while (*text && isspace(static_cast<unsigned char>(*text))) text++;
    if (*text == '+' || *text == '-') n.negative = *text++ == '-';
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && hex_digit(text[2]) >= 0)
        text += 2;
    for (int d; (d = hex_digit(*text)) >= 0; text++) {
        if (n.magnitude > (UINT64_MAX >> 4)) n.overflow = true;
        if (!n.overflow) n.magnitude = (n.magnitude << 4) | static_cast<uint64_t>(d);
    }
    return n;
}

}  // namespace

int32_t hex_to_i32(const char *text)
{
    hex_number n = scan_hex(text);
    if (n.negative)
        return n.overflow || n.magnitude >= 0x80000000u ? INT32_MIN
                                                         : -static_cast<int32_t>(n.magnitude);
    return n.overflow || n.magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n.magnitude);
}

uint32_t hex_to_u32(const char *text)
{
    hex_number n = scan_hex(text);
    if (n.overflow || n.magnitude > UINT32_MAX) return UINT32_MAX;
    uint32_t value = static_cast<uint32_t>(n.magnitude);
    return n.negative ? 0u - value : value;
}

int64_t hex_to_i64(const char *text)
{
    hex_number n = scan_hex(text);
    if (n.negative)
        return n.overflow || n.magnitude >= 0x8000000000000000u
                   ? INT64_MIN
                   : -static_cast<int64_t>(n.magnitude);
    return n.overflow || n.magnitude > INT64_MAX ? INT64_MAX : static_cast<int64_t>(n.magnitude);
}
