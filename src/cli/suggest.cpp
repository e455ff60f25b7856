// SPDX-License-Identifier: MIT
// suggest.cpp: names compared by the edits between them.
#include "cli/suggest.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// A name as a user may misspell it: its letters and digits, in upper case.
static void normalise(const char *name, char (&out)[64])
{
    size_t n = 0;
    for (; *name != '\0' && n + 1 < sizeof out; name++)
        if (isalnum(static_cast<unsigned char>(*name)))
            out[n++] = char(toupper(static_cast<unsigned char>(*name)));
    out[n] = '\0';
}

// The edits (insertions, deletions, changes) that turn `a` into `b`.
static size_t edit_distance(const char *a, const char *b)
{
    size_t row[64] = {}, length = strlen(b);
    for (size_t j = 0; j <= length; j++)
        row[j] = j;
    for (size_t i = 1; a[i - 1] != '\0'; i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= length; j++) {
            size_t changed = diagonal + (a[i - 1] != b[j - 1]);
            diagonal = row[j];
            row[j] = std::min({changed, row[j] + 1, row[j - 1] + 1});
        }
    }
    return row[length];
}

// How far `name` is from a known one, letter case and punctuation aside: from
// the whole name or from its last part after a '/' ("KERMIT" of
// "CRC-16/KERMIT"), whichever is nearer.
static size_t distance_to(const char *wanted, const char *known_name)
{
    char known[64], part[64];
    normalise(known_name, known);
    normalise(strrchr(known_name, '/') != nullptr ? strrchr(known_name, '/') + 1 : known_name, part);
    return std::min(edit_distance(wanted, known), edit_distance(wanted, part));
}

const char *nearest_name(const char *name, const char *(*known)(size_t index))
{
    char wanted[64];
    normalise(name, wanted);
    const char *best = known(0);
    size_t best_distance = distance_to(wanted, best);
    for (size_t i = 1; known(i) != nullptr; i++) {
        if (distance_to(wanted, known(i)) < best_distance) {
            best = known(i);
            best_distance = distance_to(wanted, known(i));
        }
    }
    return best;
}
