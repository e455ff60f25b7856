// SPDX-License-Identifier: MIT
// quillkit.h: the buffer and text helpers of quillkit that are not IHEX
// specific. Nothing here allocates or does input or output.
#pragma once

#include <cstddef>
#include <cstdint>

/*
 * Fills `size` bytes from `buffer` with `value` repeated in units of
 * `pad_granularity` bytes (1, 2 or 4): each unit receives the low 8, 16 or
 * all 32 bits of the value, least significant byte first. The pattern's phase
 * is fixed by the buffer's start. A size of 0 writes nothing.
 *
 * Preconditions, each checked by an assertion in this order: the granularity
 * is 1, 2 or 4; the buffer is aligned to it; the size is a multiple of it.
 */
void qkit_pad(uint8_t *buffer, size_t size, uint32_t value, int32_t pad_granularity);

/*
 * Reads an unsigned number the way C23's strtoul does with base 0: leading
 * white space, an optional '+' or '-', then "0x"/"0X" hexadecimal,
 * "0b"/"0B" binary, a leading "0" octal, else decimal. A '-' negates the
 * value modulo 2^64; a number too large for 64 bits reads as UINT64_MAX.
 * "0x" or "0b" without a valid digit after it reads as 0 and leaves the
 * letter unread.
 *
 * *end receives the first character not used. When the text holds no digit
 * at all, nothing is used and *end is `text` itself, so " " and "+" leave
 * characters unread while "" reads as 0 with nothing left.
 */
uint64_t qkit_parse_unsigned(const char *text, const char **end);
