// SPDX-License-Identifier: MIT
// uf2.cpp: an image view written as UF2 blocks, the file a board's
// USB mass-storage bootloader takes when it is copied onto the drive.
#include "outputs/writers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

constexpr uint32_t page_size = 256, block_size = 512;

static void put32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        at[i] = uint8_t(value >> (8 * i));
}

// Calls `page` for each 256-byte page that holds data, in address order.
template <typename F> static void for_each_page(const image_view_t *view, F page)
{
    uint64_t last = UINT64_MAX;
    for (size_t i = 0; i < view->pieces.count; i++)
        for (uint64_t p = view->pieces.items[i].address / page_size; p <= (view->pieces.items[i].end - 1) / page_size;
             p++)
            if (p != last)
                page(last = p);
}

void output_uf2(const image_view_t *view, output_t *output, uint32_t family, uint32_t *blocks)
{
    uint32_t count = 0;
    for_each_page(view, [&count](uint64_t) { count++; });
    output_sink_t *sink = output_sink_open(output);
    uint32_t number = 0;
    size_t cursor = 0; // the first piece that may reach into the page
    for_each_page(view, [&](uint64_t page) {
        uint8_t *block = reinterpret_cast<uint8_t *>(output_sink_room(sink, block_size));
        memset(block, 0, block_size);
        uint32_t fields[] = {0x0A324655, 0x9E5D5157, 0x00002000, uint32_t(page * page_size), page_size, number++,
                             count, family};
        for (size_t f = 0; f < 8; f++)
            put32(block + 4 * f, fields[f]);
        put32(block + block_size - 4, 0x0AB16F30);
        uint64_t first = page * page_size, end = first + page_size;
        while (view->pieces.items[cursor].end <= first)
            cursor++;
        for (size_t i = cursor; i < view->pieces.count && view->pieces.items[i].address < end; i++) {
            const image_piece_t &piece = view->pieces.items[i];
            uint64_t from = std::max<uint64_t>(first, piece.address), to = std::min(end, piece.end);
            uint8_t *at = block + 32 + (from - first);
            if (piece.bytes != nullptr)
                memcpy(at, piece.bytes + (from - piece.address), to - from);
            else
                image_pad_fill(view->pad, at, from, to - from);
        }
        sink->used += block_size;
    });
    output_sink_close(sink);
    *blocks = count;
}
