// SPDX-License-Identifier: MIT
// suggest.h: the known name nearest to a mistyped one, for "did you mean".
#pragma once

#include <cstddef>

// Of the names known(0), known(1)... up to the first null, the nearest to
// `name`, letter case and punctuation aside, by the edits that turn one into
// the other, on the whole name or on its last part after a '/'.
const char *nearest_name(const char *name, const char *(*known)(size_t index));
