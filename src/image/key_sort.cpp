// SPDX-License-Identifier: MIT
// key_sort.cpp: the radix sort of address keys.
#include "image/key_sort.h"

#include <utility>

sort_key_t *sort_keys(sort_key_t *keys, sort_key_t *scratch, size_t count)
{
    constexpr unsigned digit_bits = 11;
    constexpr size_t digits = size_t(1) << digit_bits;
    for (unsigned shift = 0; shift < 32; shift += digit_bits) {
        size_t starts[digits] = {};
        for (size_t i = 0; i < count; i++)
            starts[(keys[i].address >> shift) & (digits - 1)]++;
        if (count == 0 || starts[(keys[0].address >> shift) & (digits - 1)] == count)
            continue; // every key has this digit: the pass would change nothing
        size_t total = 0;
        for (size_t &start : starts) {
            size_t n = start;
            start = total;
            total += n;
        }
        for (size_t i = 0; i < count; i++)
            scratch[starts[(keys[i].address >> shift) & (digits - 1)]++] = keys[i];
        std::swap(keys, scratch);
    }
    return keys;
}
