// SPDX-License-Identifier: MIT
// binary.cpp: an image view written as a flat binary, its gaps padded,
// and refused when the padding would be more than anyone means to flash.
#include "outputs/writers.h"

#include "cli/command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

constexpr uint64_t most_padding = uint64_t(64) << 20;

// What lies at one end of a gap: what the view names at the gap's lower
// end (the last byte of the piece below) or upper end (the first byte of the
// piece above), with that address; a piece the slot gave is the fill.
static const char *describe_end(const image_view_t *view, const image_piece_t *piece, bool lower,
                                char (&text)[4096 + 512])
{
    uint32_t at = uint32_t(lower ? piece->end - 1 : piece->address);
    const char *side = lower ? "ending" : "beginning";
    char place[4096 + 448] = "the data";
    if (piece->region == nullptr)
        snprintf(text, sizeof text, "the --fill range (%s at %08Xh)", side, at);
    else
        snprintf(text, sizeof text, "%s (%s at %08Xh)",
                 view->name != nullptr ? view->name(view->name_context, piece, lower, place, sizeof place) : place,
                 side, at);
    return text;
}

void binary_check(const image_view_t *view, const char *path)
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
    char below[4096 + 512], above[4096 + 512];
    command_error("'%s' would hold %llu bytes of padding, more than 64 MiB; its widest gap, %08Xh - %08Xh, lies "
                  "between %s and %s; -R leaves an ELF section out, and an IHEX or S-record output keeps the gaps "
                  "unwritten",
                  path, static_cast<unsigned long long>(padding), uint32_t(pieces[widest - 1].end),
                  pieces[widest].address - 1, describe_end(view, &pieces[widest - 1], true, below),
                  describe_end(view, &pieces[widest], false, above));
}

void output_binary(const image_view_t *view, output_t *output, uint64_t *size)
{
    output_sink_t *sink = output_sink_open(output);
    const image_piece_t *pieces = view->pieces.items;
    for (size_t i = 0; i < view->pieces.count; i++) {
        // the gap before the piece, and a piece of the pad byte, are padding
        uint64_t length = pieces[i].end - pieces[i].address;
        uint64_t padding = (i == 0 ? 0 : pieces[i].address - pieces[i - 1].end) + (pieces[i].bytes ? 0 : length);
        uint64_t at = pieces[i].address + (pieces[i].bytes ? 0 : length) - padding; // where the padding begins
        for (uint64_t n; padding != 0; padding -= n) {
            n = std::min<uint64_t>(sizeof sink->text, padding);
            image_pad_fill(view->pad, reinterpret_cast<uint8_t *>(output_sink_room(sink, size_t(n))), at, n);
            at += n;
            sink->used += size_t(n);
        }
        if (pieces[i].bytes != nullptr)
            output_sink_put(sink, pieces[i].bytes, length);
    }
    *size = view->pieces.count == 0 ? 0 : pieces[view->pieces.count - 1].end - pieces[0].address;
    output_sink_close(sink);
}
