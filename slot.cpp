// SPDX-License-Identifier: MIT
// slot.cpp: a flash slot laid out over the image's view: the fill between
// the data, and the CRC over the result.
#include "slot.h"

#include "command.h"

#include <algorithm>
#include <cstdlib>

void slot_check_place(const slot_t *slot, const image_t *image, const input_t *inputs)
{
    if (slot->crc == nullptr)
        return;
    for (size_t i = 0; i < image->blocks.count && image_sorted(image, i)->address < slot_crc_end(slot); i++) {
        const image_block_t *block = image_sorted(image, i);
        if (image_block_end(block) > slot->crc_at) {
            char text[input_place_size];
            command_error("%s overlaps the CRC at %08Xh",
                          input_place(&inputs[image_input_of(image, block)], image, block->place, block->place, text),
                          slot->crc_at);
        }
    }
}

static void add_piece(image_view_t *view, uint32_t address, uint64_t end, const uint8_t *bytes)
{
    if (!image_view_add(view, address, end, bytes))
        command_error("cannot allocate memory");
}

// Adds the fill of [first, end), less the CRC's bytes, to the view: the
// parts below and above the CRC (without a CRC, crc_at is 0 and the part
// above is the whole).
static uint64_t add_fill(const slot_t *slot, image_view_t *view, uint64_t first, uint64_t end)
{
    uint64_t crc_first = slot->crc_at, crc_end = slot_crc_end(slot), filled = 0;
    uint64_t parts[2][2] = {{first, std::min(end, crc_first)}, {std::max(first, crc_end), end}};
    for (auto &part : parts) {
        if (part[0] >= part[1])
            continue;
        add_piece(view, uint32_t(part[0]), part[1], nullptr);
        filled += part[1] - part[0];
    }
    return filled;
}

static void compute_crc(slot_t *slot, const image_view_t *view, uint64_t lowest)
{
    slot->crc_first = slot->range_given ? slot->range_first : lowest;
    slot->crc_end = slot->range_given ? uint64_t(slot->range_last) + 1 : slot->crc_at;
    if (slot->crc_first >= slot->crc_end)
        command_error("nothing lies below the CRC at %08Xh to compute it over; --crc-range names the bytes it covers",
                      slot->crc_at);
    char text[128];
    if (slot_not_whole_words(slot, slot->crc_first, slot->crc_end, text) != nullptr)
        command_error("%s", text);
    uint64_t hole = image_view_hole(view, slot->crc_first, slot->crc_end);
    if (hole != slot->crc_end)
        command_error("the CRC range %08Xh - %08Xh has no data at %08Xh; --fill gives the gaps a value%s",
                      uint32_t(slot->crc_first), uint32_t(slot->crc_end - 1), uint32_t(hole),
                      slot->fill ? ", --crc-range names the bytes it covers" : "");

    const qkit_crc_t *crc = slot->crc;
    constexpr uint64_t chunk = 1 << 16;
    uint8_t *scratch = static_cast<uint8_t *>(allocate(2 * chunk)), *swapped = scratch + chunk;
    uint32_t state = qkit_crc_begin(crc);
    size_t cursor = 0;
    for (uint64_t at = slot->crc_first; at < slot->crc_end; at += chunk) {
        uint64_t size = std::min(chunk, slot->crc_end - at);
        const uint8_t *bytes = image_view_bytes(view, &cursor, at, size, scratch);
        if (slot->stm32) { // each little-endian word goes in from its top byte
            for (uint64_t i = 0; i < size; i++)
                swapped[i] = bytes[i ^ 3];
            bytes = swapped;
        }
        state = qkit_crc_update(crc, state, bytes, size_t(size));
    }
    free(scratch);
    slot->crc_value = qkit_crc_end(crc, state);
    uint32_t size = std::min<uint32_t>(uint32_t(slot_crc_end(slot) - slot->crc_at), sizeof slot->crc_bytes);
    for (uint32_t i = 0; i < size; i++)
        slot->crc_bytes[i] = uint8_t(slot->crc_value >> (8 * (slot->big_endian ? size - 1 - i : i)));
    report("CRC: %s of %08Xh - %08Xh is %0*X, stored %s-endian at %08Xh\n", slot_crc_name(slot),
           uint32_t(slot->crc_first), uint32_t(slot->crc_end - 1), int(2 * size), slot->crc_value,
           slot->big_endian ? "big" : "little", slot->crc_at);
}

void slot_build(slot_t *slot, image_view_t *view)
{
    view->pad = slot->pad;
    // the fill before each piece of data (in two parts where the CRC splits
    // it), the fill after the last one, and the CRC
    size_t count = view->pieces.count;
    uint64_t lowest = count != 0 ? view->pieces.items[0].address : UINT64_MAX;
    uint64_t fill_at = slot->fill_first, fill_end = slot->fill ? uint64_t(slot->fill_last) + 1 : 0, filled = 0;
    for (size_t i = 0; i < count; i++) {
        image_piece_t data = view->pieces.items[i]; // a copy: the view grows
        filled += add_fill(slot, view, fill_at, std::min<uint64_t>(fill_end, data.address));
        fill_at = std::max(fill_at, data.end);
    }
    filled += add_fill(slot, view, fill_at, fill_end);
    if (slot->fill)
        report("Fill: %08Xh - %08Xh with %02Xh, %llu bytes\n", slot->fill_first, slot->fill_last, slot->pad,
               static_cast<unsigned long long>(filled));
    if (slot->crc != nullptr)
        add_piece(view, slot->crc_at, slot_crc_end(slot), slot->crc_bytes);
    image_view_sort(view);
    if (slot->crc == nullptr)
        return;
    if (slot->fill)
        lowest = std::min<uint64_t>(lowest, slot->fill_first);
    compute_crc(slot, view, lowest);
}
