// SPDX-License-Identifier: MIT
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
 * small ones (one per data record, millions in a large file, and regions up
 * to 1 MiB) are carved from
 * large blocks that go back to the C heap once every section in them is
 * freed: no per-allocation overhead and few page faults.
 * data_section_alloc returns null when memory is exhausted.
 */
data_section_t *data_section_alloc(uint32_t size);
void data_section_free(data_section_t *section);

/*
 * A list of sections being built in ascending address order. Sections are
 * linked in as they arrive; as long as each one lies above the one before,
 * the list is in order already. Otherwise data_sections_list_finish puts it
 * in order: by address, and of sections with the same address the one that
 * arrived last first, exactly where inserting each section after the last
 * one whose address is below its own would have put it. Runs that arrived in
 * order (the blocks of a merged file) are joined without being walked.
 */
struct data_section_list_t {
    data_section_t *head;
    data_section_t *tail;
    bool in_order; // every section so far lies above the one before it
};

// An empty list.
void data_sections_list_init(data_section_list_t *list);

// Links `section` in at the end.
void data_sections_append(data_section_list_t *list, data_section_t *section);

// Puts the list in address order; list->head and list->tail then give it.
void data_sections_list_finish(data_section_list_t *list);

// Merges every run of sections in which each one begins exactly where the
// one before it ends into one new section, frees all the old sections, and
// returns the head of the new list. `sections` is the head of a non-empty
// list in ascending address order; overlapping sections are not merged.
data_section_t *data_sections_consolidate(data_section_t *sections);
