// SPDX-License-Identifier: MIT
// binary.cpp: an image view written as a flat binary, its gaps padded,
// and refused when the padding would be more than anyone means to flash.
#include "outputs/outputs.h"

#include "cli/command.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

constexpr uint64_t most_padding = uint64_t(64) << 20;

// What lies at one end of a gap: the place of the block of `piece`'s region
// that reaches furthest (the gap's lower end) or begins first (its upper
// end), with that address; a piece the slot gave is the fill.
static const char *describe_end(const image_piece_t *piece, bool lower, const image_t *image, const input_t *inputs,
                                char (&text)[input_place_size + 64])
{
    uint64_t at = lower ? piece->end - 1 : piece->address;
    const image_region_t *region = piece->region;
    if (region == nullptr) {
        snprintf(text, sizeof text, "the --fill range (%s at %08Xh)", lower ? "ending" : "beginning", uint32_t(at));
        return text;
    }
    const image_block_t *block = image_sorted(image, region->first);
    for (size_t i = region->first; i < region->first + region->count && lower; i++)
        if (image_block_end(image_sorted(image, i)) > image_block_end(block))
            block = image_sorted(image, i);
    char place[input_place_size];
    input_place(&inputs[image_input_of(image, block)], image, block->place, block->place, at, place);
    snprintf(text, sizeof text, "%s (%s at %08Xh)", place, lower ? "ending" : "beginning", uint32_t(at));
    return text;
}

void binary_check(const image_view_t *view, const image_t *image, const input_t *inputs, const char *path)
{
    const image_piece_t *pieces = view->pieces.items;
    uint64_t padding = 0, widest_gap = 0;
    size_t widest = 0;
    for (size_t i = 1; i < view->pieces.count; i++) {
        uint64_t gap = pieces[i].address - pieces[i - 1].end;
        padding += gap;
        if (gap > widest_gap) {
            widest_gap = gap;
            widest = i;
        }
    }
    if (padding <= most_padding)
        return;
    char below[input_place_size + 64], above[input_place_size + 64];
    command_error("'%s' would hold %llu bytes of padding, more than 64 MiB; its widest gap, %08Xh - %08Xh, lies "
                  "between %s and %s; -R leaves an ELF section out, and an IHEX or S-record output keeps the gaps "
                  "unwritten",
                  path, static_cast<unsigned long long>(padding), uint32_t(pieces[widest - 1].end),
                  pieces[widest].address - 1, describe_end(&pieces[widest - 1], true, image, inputs, below),
                  describe_end(&pieces[widest], false, image, inputs, above));
}

void output_binary(const image_view_t *view, output_t *output, uint64_t *size)
{
    output_sink_t *sink = output_sink_open(output);
    const image_piece_t *pieces = view->pieces.items;
    for (size_t i = 0; i < view->pieces.count; i++) {
        // the gap before the piece, and a piece of the pad byte, are padding
        uint64_t length = pieces[i].end - pieces[i].address;
        uint64_t padding = (i == 0 ? 0 : pieces[i].address - pieces[i - 1].end) + (pieces[i].bytes ? 0 : length);
        for (uint64_t n; padding != 0; padding -= n) {
            n = std::min<uint64_t>(sizeof sink->text, padding);
            memset(output_sink_room(sink, size_t(n)), view->pad, size_t(n));
            sink->used += size_t(n);
        }
        if (pieces[i].bytes != nullptr)
            output_sink_put(sink, pieces[i].bytes, length);
    }
    *size = view->pieces.count == 0 ? 0 : pieces[view->pieces.count - 1].end - pieces[0].address;
    output_sink_close(sink);
}
