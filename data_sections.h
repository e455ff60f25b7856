// data_sections.h: blocks of image data in address order. A section is one
// heap block: this header, then `size` data bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct data_section_t {
    uint32_t address;
    uint32_t size;
    data_section_t *next;
    // `size` data bytes follow the header in the same allocation.
};

static_assert(sizeof(data_section_t) == 16, "the data bytes follow a 16-byte header");

inline uint8_t *data_section_bytes(data_section_t *section)
{
    return reinterpret_cast<uint8_t *>(section + 1);
}

/*
 * Memory for sections. A section is allocated and freed one by one, but the
 * small ones (one per data record, millions in a large file) are carved from
 * large blocks that go back to the C heap once every section in them is
 * freed: no per-allocation overhead and few page faults.
 * data_section_alloc returns null when memory is exhausted.
 */
data_section_t *data_section_alloc(uint32_t size);
void data_section_free(data_section_t *section);

// A large buffer (a region or an image) from the C heap, aligned so that the
// system can back it with large pages; release it with free(). Null when
// memory is exhausted.
void *data_sections_alloc_bulk(uint64_t size);

/*
 * A list of sections in ascending address order, with what it takes to find
 * the place of an out-of-order section quickly. Appending at the tail and
 * inserting before the head cost nothing; other insertions start from the
 * closest of a few recently inserted sections or of a sorted sample of the
 * list, which is rebuilt when the walks from it grow long.
 */
struct data_section_list_t {
    data_section_t *head;
    data_section_t *tail;
    size_t count;
    // The last few sections inserted: merged files come as ascending runs,
    // so the next section usually goes right after one of them.
    data_section_t *recent[8];
    unsigned recent_next;
    // Every index_stride-th section of the list, ascending; null until the
    // first walk that needs it.
    data_section_t **index;
    size_t index_count;
    // Steps walked since the index was built.
    size_t walked;
};

// An empty list.
void data_sections_list_init(data_section_list_t *list);

// Links `section` in after the last section whose address is below its own
// (so before every section with the same address or a higher one).
void data_sections_insert(data_section_list_t *list, data_section_t *section);

// Frees the search helpers; the sections stay, from list->head on.
void data_sections_list_done(data_section_list_t *list);

// Merges every run of sections in which each one begins exactly where the
// one before it ends into one new section, frees all the old sections, and
// returns the head of the new list. `sections` is the head of a non-empty
// list in ascending address order; overlapping sections are not merged.
data_section_t *data_sections_consolidate(data_section_t *sections);
