// SPDX-License-Identifier: MIT
// data_sections.cpp: ordered insertion and consolidation of data sections.
#include "data_sections.h"

#include "image/key_sort.h"
#include "platform/platform.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

namespace {

// Small sections live in blocks of pool_block_size bytes aligned to their
// size, so a section finds its block by masking its address. A block keeps
// the count of its live sections and is freed when that drops to zero.
constexpr size_t pool_block_size = size_t(8) << 20;
constexpr size_t small_section_limit = size_t(1) << 20;

struct pool_block_t {
    size_t live;
    size_t used; // bytes handed out, this header included
};

pool_block_t *current_block = nullptr;

pool_block_t *block_of(data_section_t *section)
{
    return reinterpret_cast<pool_block_t *>(reinterpret_cast<uintptr_t>(section) & ~(pool_block_size - 1));
}

// A run of sections in address order, with ties ordered last arrival first.
struct run_t {
    data_section_t *head;
    data_section_t *tail;
    size_t length;
};

// Merges two runs that arrived one after the other, `later` after
// `earlier`. On equal addresses the later arrival goes first.
run_t merge_runs(run_t earlier, run_t later)
{
    run_t merged{nullptr, nullptr, earlier.length + later.length};
    // Each run ends where the next one begins no higher, so `earlier` never
    // lies wholly below `later`; wholly above it, the two are joined as they are.
    if (later.tail->address <= earlier.head->address) {
        later.tail->next = earlier.head;
        return {later.head, earlier.tail, merged.length};
    }
    data_section_t **link = &merged.head;
    data_section_t *a = earlier.head, *b = later.head;
    while (a != nullptr && b != nullptr) {
        data_section_t **taken = b->address <= a->address ? &b : &a;
        *link = *taken;
        link = &(*taken)->next;
        *taken = (*taken)->next;
    }
    *link = a != nullptr ? a : b;
    merged.tail = a != nullptr ? earlier.tail : later.tail;
    return merged;
}
} // namespace

data_section_t *data_section_alloc(uint32_t size)
{
    size_t bytes = (sizeof(data_section_t) + size + 7) & ~size_t(7);
    if (size > small_section_limit) {
        // large ones on their own; data_section_free tells the kinds by size
        return static_cast<data_section_t *>(platform_alloc_large(bytes));
    }
    if (current_block == nullptr || current_block->used + bytes > pool_block_size) {
        // A full block stays until its last section is freed.
        current_block = static_cast<pool_block_t *>(platform_alloc_block(pool_block_size));
        if (current_block == nullptr)
            return nullptr;
        current_block->live = 0;
        current_block->used = (sizeof(pool_block_t) + 15) & ~size_t(15);
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
            current_block = nullptr;
        platform_free_block(block);
    }
}

void data_sections_list_init(data_section_list_t *list)
{
    list->head = nullptr;
    list->tail = nullptr;
    list->in_order = true;
}

void data_sections_append(data_section_list_t *list, data_section_t *section)
{
    section->next = nullptr;
    if (list->tail == nullptr) {
        list->head = section;
    } else {
        // a tie goes in front of the earlier section: out of order too
        list->in_order = list->in_order && list->tail->address < section->address;
        list->tail->next = section;
    }
    list->tail = section;
}

// Shuffled input has short runs, and merging them chases pointers all over
// memory. Sorting an array is cheaper then: the sections are entered last
// arrival first and sorted stably by address (a radix sort, 11 bits a pass),
// so a tie puts the later one first. Returns false when the arrays cannot be
// had.
static bool sort_through_array(data_section_list_t *list, size_t count)
{
    sort_key_t *block = static_cast<sort_key_t *>(platform_alloc_large(2 * count * sizeof(sort_key_t)));
    if (block == nullptr)
        return false;
    size_t i = count;
    for (data_section_t *s = list->head; s != nullptr; s = s->next)
        block[--i] = {s->address, s};
    sort_key_t *entries = sort_keys(block, block + count, count);

    // Move every section to new memory in address order, so that what
    // follows walks memory front to back instead of jumping about.
    data_section_list_t sorted;
    data_sections_list_init(&sorted);
    for (i = 0; i < count; i++) {
        if (i + 8 < count)
            __builtin_prefetch(entries[i + 8].item);
        data_section_t *old = static_cast<data_section_t *>(const_cast<void *>(entries[i].item));
        // out of memory, a section stays where it is
        data_section_t *moved = data_section_alloc(old->size);
        if (moved == nullptr) {
            moved = old;
        } else {
            memcpy(moved, old, sizeof(data_section_t) + old->size);
            data_section_free(old);
        }
        data_sections_append(&sorted, moved);
    }
    *list = sorted;
    free(block);
    return true;
}

void data_sections_list_finish(data_section_list_t *list)
{
    if (list->in_order)
        return;
    // Count the runs, and the runs that begin below the run before them:
    // where nearly all do (descending records, blocks in reverse order) the
    // runs only need relinking.
    size_t count = 0, runs = 0, falling = 0;
    uint32_t run_start = list->head->address;
    for (data_section_t *s = list->head; s != nullptr; s = s->next) {
        count++;
        if (s->next == nullptr || s->address >= s->next->address) {
            runs++;
            if (s->next != nullptr) {
                falling += s->next->address < run_start;
                run_start = s->next->address;
            }
        }
    }
    bool shuffled = runs > count / 16 && runs > 64 && falling < runs - runs / 16;
    if (shuffled && sort_through_array(list, count))
        return;
    // Natural merge sort: cut the arrival order into ascending runs and keep
    // a stack of runs whose lengths at least double downwards, merging the
    // top two whenever that fails. Each section takes part in at most
    // log2(n) real merges; runs that do not interleave are only relinked.
    run_t stack[72];
    size_t depth = 0;
    data_section_t *next = list->head;
    while (next != nullptr) {
        run_t run{next, next, 1};
        while (run.tail->next != nullptr && run.tail->address < run.tail->next->address) {
            run.tail = run.tail->next;
            run.length++;
        }
        next = run.tail->next;
        run.tail->next = nullptr;
        stack[depth++] = run;
        while (depth >= 2 && stack[depth - 2].length <= 2 * stack[depth - 1].length) {
            stack[depth - 2] = merge_runs(stack[depth - 2], stack[depth - 1]);
            depth--;
        }
    }
    while (depth >= 2) {
        stack[depth - 2] = merge_runs(stack[depth - 2], stack[depth - 1]);
        depth--;
    }
    list->head = stack[0].head;
    list->tail = stack[0].tail;
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
