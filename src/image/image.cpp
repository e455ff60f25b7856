// SPDX-License-Identifier: MIT
// image.cpp: blocks kept in a store, put in address order and swept into
// regions and overlaps; regions painted, and read through a view.
#include "image/image.h"

#include "image/key_sort.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

// Room for `capacity` items up front, in memory that the system may back
// with large pages; without it the array starts empty and grows.
template <typename T> static void reserve(growing_t<T> *array, uint64_t capacity)
{
    uint64_t bytes = capacity * sizeof(T);
    array->items = bytes <= SIZE_MAX ? static_cast<T *>(platform_alloc_large(size_t(bytes))) : nullptr;
    array->capacity = array->items == nullptr ? 0 : capacity;
}

void image_init(image_t *image, uint64_t bytes, uint64_t blocks)
{
    *image = image_t{};
    reserve(&image->store, bytes);
    reserve(&image->blocks, blocks);
}

void image_free(image_t *image)
{
    for (size_t i = 0; i < image->painted.count; i++)
        free(image->painted.items[i]);
    free(image->painted.items);
    free(image->regions.items);
    free(image->overlaps.items);
    free(image->sorted);
    free(image->store.items);
    free(image->blocks.items);
    free(image->input_starts.items);
    free(image->sections.items);
    *image = image_t{};
}

uint8_t *image_room(image_t *image, uint64_t size)
{
    if (size > SIZE_MAX - image->store.count || grow(&image->store, size_t(size)) == nullptr)
        return nullptr;
    image->store.count -= size_t(size);
    return image->store.items + image->store.count;
}

uint64_t image_keep(image_t *image, uint64_t size)
{
    image->store.count += size_t(size);
    return image->store.count - size;
}

bool image_begin_input(image_t *image)
{
    size_t *start = grow(&image->input_starts, 1);
    if (start != nullptr)
        *start = image->blocks.count;
    return start != nullptr;
}

bool image_add(image_t *image, uint32_t address, uint64_t offset, uint64_t size, uint32_t place)
{
    for (uint64_t at = 0; at < size; at += image_block_limit) {
        image_block_t *block = image->blocks.count < UINT32_MAX ? grow(&image->blocks, 1) : nullptr;
        if (block == nullptr)
            return false;
        *block = {uint32_t(address + at), place, offset + at, std::min(image_block_limit, size - at)};
    }
    return true;
}

bool image_expect_sections(image_t *image, size_t count)
{
    if (image->sections.capacity - image->sections.count >= count)
        return true;
    image_section_t *sections =
        static_cast<image_section_t *>(realloc(image->sections.items, (image->sections.count + count) * sizeof(image_section_t)));
    if (sections == nullptr)
        return false;
    image->sections.items = sections;
    image->sections.capacity = image->sections.count + count;
    return true;
}

int64_t image_add_section(image_t *image, uint64_t name, uint32_t load_address, uint32_t run_address, uint32_t size)
{
    image_section_t *section = grow(&image->sections, 1);
    if (section == nullptr)
        return -1;
    *section = {name, load_address, run_address, size};
    return int64_t(image->sections.count - 1);
}

const char *image_section_name(const image_t *image, uint32_t section)
{
    uint64_t name = image->sections.items[section].name;
    return name == image_unnamed ? "(unnamed)" : reinterpret_cast<const char *>(image->store.items + name);
}

size_t image_input_of(const image_t *image, const image_block_t *block)
{
    size_t index = size_t(block - image->blocks.items);
    const size_t *starts = image->input_starts.items;
    return size_t(std::upper_bound(starts, starts + image->input_starts.count, index) - starts) - 1;
}

const uint8_t *image_bytes(const image_t *image, const image_block_t *block)
{
    return image->store.items + block->offset;
}

// Puts the blocks in address order, of equal addresses the one added first
// first, in image->sorted; blocks that came in order (most files) stay as
// they are, and image->sorted null.
static bool sort_blocks(image_t *image)
{
    size_t count = image->blocks.count;
    const image_block_t *blocks = image->blocks.items;
    size_t in_order = 1;
    while (in_order < count && blocks[in_order - 1].address <= blocks[in_order].address)
        in_order++;
    if (in_order >= count)
        return true;
    image->sorted = static_cast<const image_block_t **>(malloc(count * sizeof(image_block_t *)));
    sort_key_t *keys = static_cast<sort_key_t *>(malloc(2 * count * sizeof(sort_key_t)));
    if (image->sorted == nullptr || keys == nullptr) {
        free(keys);
        return false;
    }
    for (size_t i = 0; i < count; i++)
        keys[i] = {blocks[i].address, blocks + i};
    const sort_key_t *sorted = sort_keys(keys, keys + count, count);
    for (size_t i = 0; i < count; i++)
        image->sorted[i] = static_cast<const image_block_t *>(sorted[i].item);
    free(keys);
    return true;
}

bool image_find_regions(image_t *image, bool first_overlap_only)
{
    reserve(&image->regions, image->blocks.count); // at most one a block
    if (!sort_blocks(image))
        return false;
    // The blocks whose bytes reach beyond the address swept so far.
    growing_t<const image_block_t *> active;
    image_region_t *region = nullptr;
    bool ok = true;
    for (size_t i = 0; i < image->blocks.count && ok; i++) {
        const image_block_t *b = image_sorted(image, i);
        size_t kept = 0;
        for (size_t a = 0; a < active.count; a++)
            if (image_block_end(active.items[a]) > b->address)
                active.items[kept++] = active.items[a];
        active.count = kept;
        for (size_t a = 0; a < kept && !(first_overlap_only && image->overlaps.count != 0) && ok; a++) {
            const image_block_t *other = active.items[a];
            image_overlap_t *overlap = grow(&image->overlaps, 1);
            ok = overlap != nullptr;
            if (ok)
                *overlap = {std::min(other, b), std::max(other, b), b->address,
                            std::min(image_block_end(other), image_block_end(b))};
        }
        const image_block_t **added = grow(&active, 1);
        ok = ok && added != nullptr;
        if (!ok)
            break;
        *added = b;

        if (region == nullptr || b->address > region->end) {
            region = grow(&image->regions, 1);
            ok = region != nullptr;
            if (ok)
                *region = {image_block_end(b), b->address, uint32_t(i), 1, false, true};
            continue;
        }
        const image_block_t *before = image_sorted(image, i - 1);
        region->overlapped = region->overlapped || b->address < region->end;
        region->in_store = region->in_store && b->address == image_block_end(before) &&
                           b->offset == before->offset + before->size;
        region->end = std::max(region->end, image_block_end(b));
        region->count++;
    }
    free(active.items);
    return ok;
}

const uint8_t *image_region_bytes(image_t *image, const image_region_t *region, image_paint_t paint)
{
    if (region->in_store)
        return image_bytes(image, image_sorted(image, region->first));
    uint8_t **kept = grow(&image->painted, 1);
    uint8_t *bytes = kept == nullptr ? nullptr : static_cast<uint8_t *>(malloc(region->end - region->address));
    if (bytes == nullptr) {
        image->painted.count -= kept != nullptr;
        return nullptr;
    }
    *kept = bytes;
    if (!region->overlapped) {
        for (size_t j = region->first; j < region->first + region->count; j++) {
            const image_block_t *b = image_sorted(image, j);
            memcpy(bytes + (b->address - region->address), image_bytes(image, b), b->size);
        }
        return bytes;
    }
    // Where blocks overlap, the order they were added in decides: a block's
    // place in the array is its arrival.
    const image_block_t **order = static_cast<const image_block_t **>(malloc(region->count * sizeof(image_block_t *)));
    if (order == nullptr)
        return nullptr;
    for (size_t j = 0; j < region->count; j++)
        order[j] = image_sorted(image, region->first + j);
    std::sort(order, order + region->count);
    for (size_t j = 0; j < region->count; j++) {
        const image_block_t *b = order[paint == IMAGE_FIRST_WINS ? region->count - 1 - j : j];
        memcpy(bytes + (b->address - region->address), image_bytes(image, b), b->size);
    }
    free(order);
    return bytes;
}

void image_pad_fill(image_pad_t pad, uint8_t *out, uint64_t address, uint64_t size)
{
    if (pad.width == 1 || size == 0) {
        memset(out, int(pad.value), size_t(size));
        return;
    }
    // a whole pattern from its phase, then doubled
    uint64_t first = std::min<uint64_t>(size, pad.width);
    for (uint64_t i = 0; i < first; i++)
        out[i] = uint8_t(pad.value >> (8 * ((address + i) % pad.width)));
    for (uint64_t done = first; done < size; done *= 2)
        memcpy(out + done, out, size_t(std::min(done, size - done)));
}

bool image_view_of(image_t *image, image_paint_t paint, image_pad_t pad, image_view_t *view)
{
    *view = image_view_t{{}, pad, nullptr, nullptr};
    reserve(&view->pieces, image->regions.count + 4); // and a slot's few pieces
    for (size_t i = 0; i < image->regions.count; i++) {
        const image_region_t *region = &image->regions.items[i];
        const uint8_t *bytes = image_region_bytes(image, region, paint);
        if (bytes == nullptr || !image_view_add(view, region->address, region->end, bytes))
            return false;
        view->pieces.items[view->pieces.count - 1].region = region;
    }
    return true;
}

bool image_view_add(image_view_t *view, uint32_t address, uint64_t end, const uint8_t *bytes)
{
    image_piece_t *piece = grow(&view->pieces, 1);
    if (piece != nullptr)
        *piece = {address, end, bytes, nullptr};
    return piece != nullptr;
}

void image_view_sort(image_view_t *view)
{
    std::sort(view->pieces.items, view->pieces.items + view->pieces.count,
              [](const image_piece_t &a, const image_piece_t &b) { return a.address < b.address; });
}

bool image_view_run(const image_view_t *view, size_t *index, uint64_t *first, uint64_t *end)
{
    const image_piece_t *pieces = view->pieces.items;
    size_t i = *index;
    if (i >= view->pieces.count)
        return false;
    *first = pieces[i].address;
    *end = pieces[i].end;
    while (++i < view->pieces.count && pieces[i].address == *end)
        *end = pieces[i].end;
    *index = i;
    return true;
}

uint64_t image_view_hole(const image_view_t *view, uint64_t first, uint64_t end)
{
    for (size_t i = 0; i < view->pieces.count && first < end; i++) {
        const image_piece_t &piece = view->pieces.items[i];
        if (piece.end <= first)
            continue;
        if (piece.address > first)
            break;
        first = piece.end;
    }
    return std::min(first, end);
}

const uint8_t *image_view_bytes(const image_view_t *view, size_t *cursor, uint64_t address, uint64_t size,
                                uint8_t *scratch)
{
    const image_piece_t *pieces = view->pieces.items, *end = pieces + view->pieces.count;
    while (pieces + *cursor != end && pieces[*cursor].end <= address)
        ++*cursor;
    const image_piece_t *piece = pieces + *cursor;
    if (piece != end && piece->bytes != nullptr && piece->address <= address && address + size <= piece->end)
        return piece->bytes + (address - piece->address);
    for (uint8_t *out = scratch; size != 0;) {
        // a gap before the next piece is the pad's, as a piece of the pad is
        bool gap = piece == end || address < piece->address;
        uint64_t n = std::min(size, gap && piece != end ? piece->address - address : gap ? size : piece->end - address);
        if (!gap && piece->bytes != nullptr)
            memcpy(out, piece->bytes + (address - piece->address), n);
        else
            image_pad_fill(view->pad, out, address, n);
        piece += !gap;
        out += n;
        address += n;
        size -= n;
    }
    return scratch;
}

void image_view_free(image_view_t *view)
{
    free(view->pieces.items);
    view->pieces = {};
}
