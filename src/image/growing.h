// SPDX-License-Identifier: MIT
// growing.h: an array that grows at its end, for the image, the slot and
// whatever else gathers items of a size not known before.
#pragma once

#include <cstddef>
#include <cstdlib>

// An array that doubles as it fills. grow() makes room for `more` items at
// the end and returns the first of them, or null, the array unchanged, when
// memory is out.
template <typename T> struct growing_t {
    T *items = nullptr;
    size_t count = 0, capacity = 0;
};

template <typename T> T *grow(growing_t<T> *array, size_t more)
{
    if (array->count + more > array->capacity) {
        size_t capacity = 2 * array->capacity + more + 1024;
        T *items = static_cast<T *>(realloc(array->items, capacity * sizeof(T)));
        if (items == nullptr)
            return nullptr;
        array->items = items;
        array->capacity = capacity;
    }
    array->count += more;
    return array->items + array->count - more;
}
