// SPDX-License-Identifier: MIT
// quillkit.cpp: buffer padding and number reading.
#include "quillkit.h"

#include <cassert>
#include <cstring>

void qkit_pad(uint8_t *buffer, size_t size, uint32_t value, int32_t pad_granularity)
{
    assert((pad_granularity == 1) || (pad_granularity == 2) || (pad_granularity == 4));
    assert(((uintptr_t)buffer & (pad_granularity - 1)) == 0);
    assert((size & (pad_granularity - 1)) == 0);

    if (pad_granularity == 1) {
        memset(buffer, int(value & 0xFF), size);
        return;
    }
    // Spread the unit over eight bytes, least significant byte first, and
    // store that; the size is a whole number of units, so the tail is too.
    uint8_t pattern[8];
    for (int i = 0; i < 8; i++)
        pattern[i] = uint8_t(value >> (8 * (i % pad_granularity)));
    uint64_t word;
    memcpy(&word, pattern, sizeof word);
    size_t i = 0;
    for (; i + 8 <= size; i += 8)
        memcpy(buffer + i, &word, 8);
    memcpy(buffer + i, pattern, size - i);
}

static unsigned digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return unsigned(c - '0');
    if (c >= 'a' && c <= 'z')
        return unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z')
        return unsigned(c - 'A' + 10);
    return 99;
}

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

uint64_t qkit_parse_unsigned(const char *text, const char **end)
{
    const char *p = text;
    while (is_space(*p))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        p++;
    }

    unsigned base = 10;
    if (p[0] == '0') {
        // A prefix counts only when a digit of its base follows it;
        // otherwise the "0" is an octal number on its own.
        if ((p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
            base = 16;
            p += 2;
        } else if ((p[1] == 'b' || p[1] == 'B') && digit_value(p[2]) < 2) {
            base = 2;
            p += 2;
        } else {
            base = 8;
        }
    }

    const char *digits = p;
    uint64_t value = 0;
    bool overflow = false;
    for (unsigned digit; (digit = digit_value(*p)) < base; p++) {
        if (value > (UINT64_MAX - digit) / base)
            overflow = true;
        else
            value = value * base + digit;
    }
    if (p == digits) {
        *end = text;
        return 0;
    }
    *end = p;
    if (overflow)
        return UINT64_MAX;
    return negative ? 0 - value : value;
}
