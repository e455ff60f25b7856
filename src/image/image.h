// SPDX-License-Identifier: MIT
// image.h: the one model of bytes at addresses that tesslar-merge and
// tesslar-hex fill from their inputs and write their outputs from.
#pragma once

#include "image/growing.h"

#include <cstddef>
#include <cstdint>

// The start address of an image, and the input that gave it (null for one
// the command line gave, or none).
struct start_address_t {
    bool present;
    uint32_t address;
    const char *from;
};

/*
 * An image is a list of blocks in the order the readers added them. A block
 * is `size` bytes of the image's store, from `offset` on, that belong at
 * `address`. `place` tells where in its input they came from, as the input's
 * kind reads it: a line of a text file, or for an ELF file the index of its
 * section in `sections`. The store holds what the readers keep: the decoded
 * bytes of text records, or a binary or an ELF file whole, whose blocks then
 * lie in it without a copy.
 *
 * Once every input is in, image_find_regions puts the blocks in address
 * order (of equal addresses, the one added first first) and sweeps over
 * them: blocks that overlap or touch make one region, and every two blocks
 * that share an address make an overlap. A region's bytes are its blocks
 * painted one over the other in an order the caller chooses; where they
 * already lie in the store one after another, they are handed out from there.
 */
struct image_block_t {
    uint32_t address;
    uint32_t place;
    uint64_t offset : 40;
    uint64_t size : 24;
};

// Blocks are at most this large; image_add splits a larger run of bytes into
// blocks that follow one another in the store and in the image.
constexpr uint64_t image_block_limit = uint64_t(1) << 23;

// A run of blocks that overlap or touch: [address, end), end at most 2^32.
struct image_region_t {
    uint64_t end;
    uint32_t address;
    uint32_t first, count; // its blocks in address order: the first's index there, and how many
    bool overlapped;       // two of its blocks share an address
    bool in_store;         // its bytes lie in the store in address order already
};

// Two blocks that both give the bytes of [address, end); `earlier` was added
// before `later`.
struct image_overlap_t {
    const image_block_t *earlier, *later;
    uint32_t address;
    uint64_t end;
};

// A section of an ELF input that gave blocks: its name (a NUL-ended string
// in the store, from `name` on; image_unnamed for a file that names none),
// where it is loaded and where it runs.
struct image_section_t {
    uint64_t name;
    uint32_t load_address, run_address, size;
};
constexpr uint64_t image_unnamed = UINT64_MAX;

struct image_t {
    growing_t<uint8_t> store;
    growing_t<image_block_t> blocks;
    growing_t<size_t> input_starts; // the first block of each input
    growing_t<image_section_t> sections;

    // Made by image_find_regions.
    const image_block_t **sorted; // every block in address order; null when added in that order
    growing_t<image_region_t> regions;
    growing_t<image_overlap_t> overlaps;
    growing_t<uint8_t *> painted; // the regions' bytes that are not in the store
};

// An empty image, with room for about `bytes` bytes of store and `blocks`
// blocks (an estimate from the inputs' sizes saves the copies of growing; the
// room is only taken from the system as it is used).
void image_init(image_t *image, uint64_t bytes, uint64_t blocks);
void image_free(image_t *image);

// Room for `size` more bytes at the end of the store, where a reader may
// write them before it keeps them; null when memory is out. The room moves
// when the store grows: a pointer into it holds until the next call.
uint8_t *image_room(image_t *image, uint64_t size);
// Keeps the first `size` bytes of the room in the store; returns the offset
// of the first.
uint64_t image_keep(image_t *image, uint64_t size);

// The blocks added from now on are the next input's.
bool image_begin_input(image_t *image);
// A block: the `size` bytes of the store from `offset` belong at `address`.
// `size` may be 0 (nothing is added), and address + size at most 2^32.
// False when memory is out (or the image holds 2^32 - 1 blocks).
bool image_add(image_t *image, uint32_t address, uint64_t offset, uint64_t size, uint32_t place);
// Room for `count` more sections, so that adding them takes no copies.
bool image_expect_sections(image_t *image, size_t count);
// A section of an ELF input, named by the string at `name` in the store; its
// index in image->sections is the `place` of its blocks, -1 when memory is out.
int64_t image_add_section(image_t *image, uint64_t name, uint32_t load_address, uint32_t run_address, uint32_t size);
const char *image_section_name(const image_t *image, uint32_t section);

// The input that `block` came from: 0 for the first one image_begin_input began.
size_t image_input_of(const image_t *image, const image_block_t *block);
// The block's bytes in the store.
const uint8_t *image_bytes(const image_t *image, const image_block_t *block);
inline uint64_t image_block_end(const image_block_t *block)
{
    return uint64_t(block->address) + block->size;
}
// Once image_find_regions has run: the block at `index` in address order.
inline const image_block_t *image_sorted(const image_t *image, size_t index)
{
    return image->sorted != nullptr ? image->sorted[index] : &image->blocks.items[index];
}

// Puts the blocks in address order and finds the regions and the overlaps:
// every one, or only the first in address order when `first_overlap_only`
// (a run that ends at any overlap needs no more). False when memory is out.
bool image_find_regions(image_t *image, bool first_overlap_only);

// Which block's byte stays where blocks overlap: the last added or the first.
enum image_paint_t { IMAGE_LAST_WINS, IMAGE_FIRST_WINS };
// The bytes of a region, end - address of them, painted in that order; null
// when memory is out. Painted bytes are the image's, freed with it.
const uint8_t *image_region_bytes(image_t *image, const image_region_t *region, image_paint_t paint);

/*
 * A read view of the image as an output sees it: pieces in address order,
 * none overlapping, each of given bytes (a region's, or bytes of the caller's
 * own) or of the pad byte throughout.
 */
struct image_piece_t {
    uint32_t address;
    uint64_t end;
    const uint8_t *bytes;          // null: the pad byte throughout
    const image_region_t *region; // the region it shows; null for the caller's own
};
// The pad of a view: `width` bytes (1, 2 or 4) of `value`, least significant
// first, laid down in phase with address 0.
struct image_pad_t {
    uint32_t value;
    uint32_t width;
};
struct image_view_t {
    growing_t<image_piece_t> pieces;
    image_pad_t pad;
    // What gives the first byte of a piece of a region (`lower` false) or
    // its last (`lower` true), as a message names it ("'app.hex' line 3"),
    // written to `text`. Set by whoever knows the inputs; null when no one does.
    const char *(*name)(const void *context, const image_piece_t *piece, bool lower, char *text, size_t size);
    const void *name_context;
};

// The view of every region's bytes, painted as `paint` says, the gaps of
// `pad`. False when memory is out.
bool image_view_of(image_t *image, image_paint_t paint, image_pad_t pad, image_view_t *view);
// The pad's bytes at [address, address + size), into `out`.
void image_pad_fill(image_pad_t pad, uint8_t *out, uint64_t address, uint64_t size);
// Adds a piece; image_view_sort puts them in address order once all are in.
bool image_view_add(image_view_t *view, uint32_t address, uint64_t end, const uint8_t *bytes);
void image_view_sort(image_view_t *view);
// The next run of pieces that touch, from the piece at *index on: its
// [*first, *end), *index moved past it; false when no piece is left.
bool image_view_run(const image_view_t *view, size_t *index, uint64_t *first, uint64_t *end);
// The lowest address in [first, end) that no piece gives, or end.
uint64_t image_view_hole(const image_view_t *view, uint64_t first, uint64_t end);
// The bytes of [address, address + size): a
// pointer into a piece when one holds them all, else a copy in `scratch`,
// the gaps between pieces the pad's. `cursor` starts at 0; calls go up in
// address order.
const uint8_t *image_view_bytes(const image_view_t *view, size_t *cursor, uint64_t address, uint64_t size,
                                uint8_t *scratch);
void image_view_free(image_view_t *view);
