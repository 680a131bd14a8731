// Hexadecimal numbers written as text, as the operator types them and as load
// files hold them: leading white space, an optional sign, an optional 0x,
// digits up to the first non-digit; no digits gives 0; saturating.
#pragma once

#include <cstdint>

int32_t hex_to_i32(const char *text);
uint32_t hex_to_u32(const char *text);   // a minus sign negates modulo 2^32
int64_t hex_to_i64(const char *text);
