// data_sections.cpp: ordered insertion and consolidation of data sections.
#include "data_sections.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t index_stride = 4;
constexpr size_t recent_slots = sizeof(data_section_list_t{}.recent) / sizeof(data_section_t *);

// Samples every index_stride-th section of the list into a new index.
void rebuild_index(data_section_list_t *list)
{
    free(list->index);
    list->index_count = 0;
    list->walked = 0;
    list->index = static_cast<data_section_t **>(malloc((list->count / index_stride + 1) * sizeof(data_section_t *)));
    if (list->index == nullptr)
        return; // no index: the walks start from the head or a recent section
    size_t i = 0;
    for (data_section_t *s = list->head; s != nullptr; s = s->next, i++)
        if (i % index_stride == 0)
            list->index[list->index_count++] = s;
}

// The last indexed section whose address is below `address`, or null.
data_section_t *search_index(const data_section_list_t *list, uint32_t address)
{
    size_t low = 0, high = list->index_count; // answer lies in [low, high)
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (list->index[mid]->address < address)
            low = mid + 1;
        else
            high = mid;
    }
    return low == 0 ? nullptr : list->index[low - 1];
}

} // namespace

void data_sections_list_init(data_section_list_t *list)
{
    memset(list, 0, sizeof *list);
}

void data_sections_insert(data_section_list_t *list, data_section_t *section)
{
    uint32_t address = section->address;
    list->recent[list->recent_next++ % recent_slots] = section;
    list->count++;

    if (list->head == nullptr) {
        section->next = nullptr;
        list->head = list->tail = section;
        return;
    }
    if (list->tail->address < address) {
        section->next = nullptr;
        list->tail->next = section;
        list->tail = section;
        return;
    }
    if (list->head->address >= address) {
        section->next = list->head;
        list->head = section;
        return;
    }

    // Somewhere in the middle: start from the closest known section below
    // the new address, then walk on to the last one below it.
    data_section_t *before = list->head;
    for (data_section_t *candidate : list->recent)
        if (candidate != nullptr && candidate != section && candidate->address < address &&
            candidate->address > before->address)
            before = candidate;
    if (list->index != nullptr) {
        data_section_t *indexed = search_index(list, address);
        if (indexed != nullptr && indexed->address > before->address)
            before = indexed;
    }
    size_t steps = 0;
    while (before->next->address < address) {
        before = before->next;
        steps++;
    }
    section->next = before->next;
    before->next = section;

    // Rebuilding costs one pass over the list; do it once the walks since
    // the last one have cost as much.
    list->walked += steps;
    if (list->walked > list->count / 2 + 64)
        rebuild_index(list);
}

void data_sections_list_done(data_section_list_t *list)
{
    free(list->index);
    list->index = nullptr;
    list->index_count = 0;
}

data_section_t *data_sections_consolidate(data_section_t *sections)
{
    data_section_t *result_head = nullptr;
    data_section_t *result_tail = nullptr;

    while (sections != nullptr) {
        uint32_t run_start = sections->address;
        uint32_t run_size = sections->size;
        data_section_t *after = sections->next;
        while (after != nullptr && after->address == run_start + run_size) {
            run_size += after->size;
            after = after->next;
        }

        data_section_t *s = static_cast<data_section_t *>(malloc(sizeof(data_section_t) + run_size));
        assert(s);
        s->address = run_start;
        s->size = run_size;
        s->next = nullptr;
        uint8_t *out = data_section_bytes(s);
        while (sections != after) {
            data_section_t *old = sections;
            memcpy(out, data_section_bytes(old), old->size);
            out += old->size;
            sections = old->next;
            free(old);
        }

        if (result_tail == nullptr)
            result_head = s;
        else
            result_tail->next = s;
        result_tail = s;
    }
    return result_head;
}
