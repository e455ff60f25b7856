// SPDX-License-Identifier: MIT
// values.h: option values as both commands read them, each whole: one
// beyond what its option holds is a usage error that names the option, and
// nothing is cut short; and what an IHEX address mode reaches.
#pragma once

#include "ihex.h"

#include <cstdint>

// An address, 0 to FFFFFFFFh.
uint32_t read_address(const char *option, const char *text);
// A number from `low` to `high`.
uint32_t read_bounded(const char *option, const char *text, uint32_t low, uint32_t high);
// A power of two from `low` to `high`, both powers of two: a few named
// ("Must be 1, 2 or 4"), more by their bound ("a power of two up to 4096").
uint32_t read_power_of_two(const char *option, const char *text, uint32_t low, uint32_t high);
// "<first>:<last>", both included, or "<first>+<size>". A range written
// FIRST:LAST whose ends are both multiples of 100h was most likely meant to
// end before LAST, as srec_cat's ranges do: a warning says so.
void read_range(const char *option, const char *text, uint32_t *first, uint32_t *last);
// The words of that warning, for errors that such a range causes too:
// "--fill 0x08004000:0x08020000 includes 08020000h; did you mean
// 0x08004000:0x0801FFFF (0x08004000+0x1C000)?"; "" for another range.
const char *range_end_hint(const char *option, uint32_t first, uint32_t last, char (&text)[192]);
// "little" or "big": true for big.
bool read_big_endian(const char *option, const char *text);

// 16bit, segment or linear.
ihex_address_mode_t read_address_mode(const char *text);
const char *address_mode_name(ihex_address_mode_t mode);
// The highest address the mode reaches, and whether it reaches `last`.
uint32_t address_mode_limit(ihex_address_mode_t mode);
bool address_mode_reaches(ihex_address_mode_t mode, uint64_t last);
// A --start value the mode cannot write is a usage error.
void check_start_address(ihex_address_mode_t mode, uint32_t start_address);
