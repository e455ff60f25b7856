// SPDX-License-Identifier: MIT
// filters.cpp: an input's blocks cropped, cut and moved, as the
// filters written after it on the command line say, in their order; and the
// options that give the filters and the binary inputs.
#include "inputs/readers.h"

#include "cli/command.h"
#include "cli/values.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

input_t input_binary_read(char *value)
{
    char *at = strrchr(value, '@');
    if (at == nullptr || at == value)
        command_usage_error("invalid value for --binary: '%s'. Must be FILE@ADDRESS", value);
    *at = '\0';
    return input_t{value, INPUT_BINARY, read_address("--binary", at + 1), nullptr, 0, 0};
}

void input_filter_read(input_filter_t *filter, const char *name, const char *value)
{
    *filter = input_filter_t{FILTER_OFFSET, 0, 0, 0, name, value, 0, 0};
    if (strcmp(name, "--offset") == 0) {
        bool negative = value[0] == '-';
        filter->offset = int64_t(read_address(name, value + negative)) * (negative ? -1 : 1);
    } else if (strcmp(name, "--swap") == 0) {
        filter->kind = FILTER_SWAP;
        filter->offset = read_power_of_two(name, value, 2, 8);
    } else {
        filter->kind = strcmp(name, "--crop") == 0 ? FILTER_CROP : FILTER_EXCLUDE;
        read_range(name, value, &filter->first, &filter->last);
    }
}

// The regions and bytes of the input's blocks, as -i tells them.
static void count_left(const image_block_t *blocks, size_t count, input_filter_t *filter)
{
    image_block_t *sorted = static_cast<image_block_t *>(malloc(std::max<size_t>(1, count) * sizeof(image_block_t)));
    filter->regions = filter->bytes = 0;
    if (sorted == nullptr)
        return;
    std::copy(blocks, blocks + count, sorted);
    std::sort(sorted, sorted + count, [](const image_block_t &a, const image_block_t &b) { return a.address < b.address; });
    uint64_t end = 0;
    for (size_t i = 0; i < count; i++) {
        uint64_t first = std::max<uint64_t>(sorted[i].address, end);
        filter->regions += i == 0 || sorted[i].address > end;
        filter->bytes += image_block_end(&sorted[i]) > first ? image_block_end(&sorted[i]) - first : 0;
        end = std::max(end, image_block_end(&sorted[i]));
    }
    free(sorted);
}

// Adds what is left of `block` in [first, end) to `kept`.
static bool keep_part(growing_t<image_block_t> *kept, const image_block_t *block, uint64_t first, uint64_t end)
{
    first = std::max<uint64_t>(first, block->address);
    end = std::min(end, image_block_end(block));
    if (first >= end)
        return true;
    image_block_t *part = grow(kept, 1);
    if (part != nullptr)
        *part = {uint32_t(first), block->place, block->offset + (first - block->address), end - first};
    return part != nullptr;
}

// Reverses the bytes of every aligned group of `group` bytes of the input's
// `count` blocks from `first` on: each run of blocks that touch is copied
// into new room of the store (blocks that overlap painted in their order),
// swapped there, and its blocks moved onto the copy. A run that does not
// cover whole groups is an error naming where.
static bool swap_groups(image_t *image, const input_t *input, const input_filter_t *filter, size_t first,
                        size_t count, input_error_t *error)
{
    size_t *order = static_cast<size_t *>(malloc(std::max<size_t>(1, count) * sizeof(size_t)));
    if (order == nullptr)
        return input_no_memory(error);
    for (size_t i = 0; i < count; i++)
        order[i] = first + i;
    const image_block_t *blocks = image->blocks.items;
    std::stable_sort(order, order + count, [&](size_t a, size_t b) { return blocks[a].address < blocks[b].address; });
    uint64_t group = uint64_t(filter->offset);
    for (size_t i = 0, next; i < count; i = next) {
        uint64_t run_first = image->blocks.items[order[i]].address, run_end = image_block_end(&image->blocks.items[order[i]]);
        for (next = i + 1; next < count && image->blocks.items[order[next]].address <= run_end; next++)
            run_end = std::max(run_end, image_block_end(&image->blocks.items[order[next]]));
        if (run_first % group != 0 || run_end % group != 0) {
            const image_block_t *edge = &image->blocks.items[order[run_first % group != 0 ? i : next - 1]];
            uint64_t at = run_first % group != 0 ? run_first : run_end - 1;
            char place[input_place_size];
            input_place(input, image, edge->place, edge->place, at, place);
            free(order);
            return input_error(error, 0, "--swap %llu: %.200s holds part of the %llu-byte group at %08llXh",
                               static_cast<unsigned long long>(group), place, static_cast<unsigned long long>(group),
                               static_cast<unsigned long long>(at / group * group));
        }
        uint8_t *room = image_room(image, run_end - run_first);
        if (room == nullptr) {
            free(order);
            return input_no_memory(error);
        }
        std::vector<size_t> arrival(order + i, order + next); // the run's blocks, painted as they came
        std::sort(arrival.begin(), arrival.end());
        for (size_t b : arrival)
            memcpy(room + (image->blocks.items[b].address - run_first), image_bytes(image, &image->blocks.items[b]),
                   image->blocks.items[b].size);
        for (uint64_t at = 0; at < run_end - run_first; at += group)
            std::reverse(room + at, room + at + group);
        uint64_t offset = image_keep(image, run_end - run_first);
        for (size_t b : arrival)
            image->blocks.items[b].offset = offset + (image->blocks.items[b].address - run_first);
    }
    free(order);
    return true;
}

bool input_filter(image_t *image, input_t *input, size_t first, input_summary_t *summary, input_error_t *error)
{
    for (int f = 0; f < input->filter_count; f++) {
        input_filter_t *filter = &input->filters[f];
        image_block_t *blocks = image->blocks.items + first;
        size_t count = image->blocks.count - first;
        if (filter->kind == FILTER_SWAP) {
            if (!swap_groups(image, input, filter, first, count, error))
                return false;
        } else if (filter->kind == FILTER_OFFSET) {
            for (size_t i = 0; i < count; i++) {
                int64_t from = blocks[i].address, to = from + filter->offset;
                if (to >= 0 && uint64_t(to) + blocks[i].size <= (uint64_t(1) << 32)) {
                    blocks[i].address = uint32_t(to);
                    continue;
                }
                char place[input_place_size];
                // the first byte that goes below 0, or past FFFFFFFFh
                uint64_t at = to < 0 ? uint64_t(from) : std::max<uint64_t>(from, (int64_t(1) << 32) - filter->offset);
                input_place(input, image, blocks[i].place, blocks[i].place, at, place);
                return input_error(error, 0, "%s %s moves %.100s from %08Xh %s", filter->option, filter->value,
                                   place, uint32_t(at), to < 0 ? "below 0" : "past FFFFFFFFh");
            }
            input->moved += filter->offset;
            summary->start_address = uint32_t(summary->start_address + filter->offset);
        } else {
            growing_t<image_block_t> kept;
            bool crop = filter->kind == FILTER_CROP;
            uint64_t last = uint64_t(filter->last) + 1;
            for (size_t i = 0; i < count; i++)
                if (!(crop ? keep_part(&kept, &blocks[i], filter->first, last)
                           : keep_part(&kept, &blocks[i], 0, filter->first) &&
                                 keep_part(&kept, &blocks[i], last, uint64_t(1) << 32))) {
                    free(kept.items);
                    return input_no_memory(error);
                }
            image->blocks.count = first;
            image_block_t *room = kept.count == 0 ? nullptr : grow(&image->blocks, kept.count);
            if (room != nullptr)
                std::copy(kept.items, kept.items + kept.count, room);
            free(kept.items);
            if (room == nullptr && kept.count != 0)
                return input_no_memory(error);
        }
        count_left(image->blocks.items + first, image->blocks.count - first, filter);
    }
    return true;
}
