// data_sections.cpp: ordered insertion and consolidation of data sections.
#include "data_sections.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

// Large pages make the first touch of a big buffer one fault per 2 MiB
// instead of one per 4 KiB; the hint is only a hint.
constexpr size_t large_page = size_t(2) << 20;

void *alloc_aligned(size_t alignment, uint64_t size)
{
    uint64_t rounded = (size + alignment - 1) / alignment * alignment;
    if (rounded == 0 || rounded > SIZE_MAX)
        return nullptr;
    void *p = aligned_alloc(alignment, size_t(rounded));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (p != nullptr && rounded >= large_page)
        madvise(p, size_t(rounded), MADV_HUGEPAGE);
#endif
    return p;
}

// Small sections live in blocks of pool_block_size bytes aligned to their
// size, so a section finds its block by masking its address. A block keeps
// the count of its live sections and is freed when that drops to zero.
constexpr size_t pool_block_size = size_t(8) << 20;
constexpr size_t small_section_limit = 4096;

struct pool_block_t {
    size_t live;
    size_t used; // bytes handed out, this header included
};

pool_block_t *current_block = nullptr;

pool_block_t *block_of(data_section_t *section)
{
    return reinterpret_cast<pool_block_t *>(reinterpret_cast<uintptr_t>(section) & ~(pool_block_size - 1));
}

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

data_section_t *data_section_alloc(uint32_t size)
{
    size_t bytes = (sizeof(data_section_t) + size + 7) & ~size_t(7);
    if (size > small_section_limit) {
        // large ones on their own; data_section_free tells the kinds by size
        return static_cast<data_section_t *>(data_sections_alloc_bulk(bytes));
    }
    if (current_block == nullptr || current_block->used + bytes > pool_block_size) {
        if (current_block != nullptr && current_block->live == 0) {
            current_block->used = sizeof(pool_block_t);
        } else {
            current_block = static_cast<pool_block_t *>(alloc_aligned(pool_block_size, pool_block_size));
            if (current_block == nullptr)
                return nullptr;
            current_block->live = 0;
            current_block->used = (sizeof(pool_block_t) + 15) & ~size_t(15);
        }
    }
    data_section_t *section =
        reinterpret_cast<data_section_t *>(reinterpret_cast<uint8_t *>(current_block) + current_block->used);
    current_block->used += bytes;
    current_block->live++;
    return section;
}

void data_section_free(data_section_t *section)
{
    if (section->size > small_section_limit) {
        free(section);
        return;
    }
    pool_block_t *block = block_of(section);
    if (--block->live == 0) {
        if (block == current_block)
            block->used = (sizeof(pool_block_t) + 15) & ~size_t(15);
        else
            free(block);
    }
}

void *data_sections_alloc_bulk(uint64_t size)
{
    return alloc_aligned(size >= large_page ? large_page : 64, size);
}

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

        data_section_t *s = data_section_alloc(run_size);
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
            data_section_free(old);
        }

        if (result_tail == nullptr)
            result_head = s;
        else
            result_tail->next = s;
        result_tail = s;
    }
    return result_head;
}
