// SPDX-License-Identifier: MIT
// key_sort.h: a stable sort of (address, item) keys by address, in linear
// time, shared by tesslar's section list and the image of the other commands.
#pragma once

#include <cstddef>
#include <cstdint>

struct sort_key_t {
    uint32_t address;
    const void *item;
};

// Sorts `count` keys by address, stably (keys with equal addresses keep their
// order), through `scratch`, room for as many, and returns whichever of the
// two arrays holds the result. A radix sort, 11 bits a pass; a pass in which
// every key has the same digit is skipped.
sort_key_t *sort_keys(sort_key_t *keys, sort_key_t *scratch, size_t count);
