// SPDX-License-Identifier: MIT
// slot.cpp: flash slots laid out over the image's view: the fills between
// the data, then the stamps, each computed over what the ones before left.
#include "merge/slot.h"

#include "cli/command.h"
#include "cli/report.h"
#include "merge/stamps.h"

#include <algorithm>
#include <cstdlib>

void slot_check_places(const slot_t *slot, const image_t *image, const input_t *inputs)
{
    for (const stamp_t *stamp = slot->stamps.items; stamp < slot->stamps.items + slot->stamps.count; stamp++) {
        uint64_t end = uint64_t(stamp->at) + stamp->width;
        if (stamp->after) // past the data by its nature
            continue;
        for (size_t i = 0; i < image->blocks.count && image_sorted(image, i)->address < end; i++) {
            const image_block_t *block = image_sorted(image, i);
            if (image_block_end(block) <= stamp->at)
                continue;
            char text[input_place_size], label[64];
            command_error("%s overlaps %s at %08Xh",
                          input_place(&inputs[image_input_of(image, block)], image, block->place, block->place,
                                      std::max(block->address, stamp->at), text),
                          slot_stamp_label(stamp, label), stamp->at);
        }
    }
}

static void add_piece(image_view_t *view, uint32_t address, uint64_t end, const uint8_t *bytes)
{
    if (!image_view_add(view, address, end, bytes))
        command_error("cannot allocate memory");
}

// Adds the fill of [first, end), less the stamps' bytes, to the view.
static uint64_t add_fill(const slot_t *slot, image_view_t *view, uint64_t first, uint64_t end)
{
    uint64_t filled = 0;
    while (first < end) {
        // up to the first stamp that begins in the rest, then past it
        uint64_t stop = end, next = end;
        for (const stamp_t *s = slot->stamps.items; s < slot->stamps.items + slot->stamps.count; s++) {
            uint64_t s_end = uint64_t(s->at) + s->width;
            if (s_end > first && s->at < stop) {
                stop = std::max<uint64_t>(first, s->at);
                next = s_end;
            }
        }
        if (stop > first) {
            add_piece(view, uint32_t(first), stop, nullptr);
            filled += stop - first;
        }
        first = next;
    }
    return filled;
}

// The range of a stamp, as its messages name it.
static const char *range_phrase(const stamp_t *stamp, char (&text)[96])
{
    char label[64];
    if (stamp->crc_options)
        return "the CRC range";
    snprintf(text, sizeof text, "the range of %s", slot_stamp_label(stamp, label));
    return text;
}

// Computes a stamp over [first, last] of the view and stores it in its bytes.
static void compute(stamp_t *stamp, const image_view_t *view)
{
    constexpr uint64_t chunk = 1 << 16;
    uint8_t *scratch = static_cast<uint8_t *>(allocate(2 * chunk)), *swapped = scratch + chunk;
    const qkit_crc_t *crc = stamp->crc;
    uint32_t crc_state = crc != nullptr ? qkit_crc_begin(crc) : 0, adler = 1;
    uint64_t sum = 0, end = uint64_t(stamp->last) + 1;
    qkit_sha256_t sha;
    qkit_sha256_begin(&sha);
    size_t cursor = 0;
    for (uint64_t at = stamp->first; at < end && stamp->kind < STAMP_LENGTH; at += chunk) {
        uint64_t size = std::min(chunk, end - at);
        const uint8_t *bytes = image_view_bytes(view, &cursor, at, size, scratch);
        if (stamp->kind == STAMP_STM32) { // each little-endian word goes in from its top byte
            for (uint64_t i = 0; i < size; i++)
                swapped[i] = bytes[i ^ 3];
            bytes = swapped;
        }
        if (crc != nullptr)
            crc_state = qkit_crc_update(crc, crc_state, bytes, size_t(size));
        else if (stamp->kind == STAMP_ADLER32)
            adler = qkit_adler32(adler, bytes, size_t(size));
        else if (stamp->kind == STAMP_SHA256)
            qkit_sha256_update(&sha, bytes, size_t(size));
        for (uint64_t i = 0; i < size && stamp->kind <= STAMP_SUM_NOT; i += stamp->unit) {
            uint64_t word = 0; // the unit's bytes in the stamp's order
            for (uint32_t b = 0; b < stamp->unit; b++)
                word |= uint64_t(bytes[i + b]) << (8 * (stamp->big_endian ? stamp->unit - 1 - b : b));
            sum += word;
        }
    }
    free(scratch);
    uint64_t mask = stamp->width >= 8 ? UINT64_MAX : (uint64_t(1) << (8 * stamp->width)) - 1;
    switch (stamp->kind) {
    case STAMP_CRC:
    case STAMP_STM32:
        stamp->value = qkit_crc_end(crc, crc_state);
        break;
    case STAMP_SUM:
    case STAMP_SUM_NEG:
    case STAMP_SUM_NOT:
        stamp->value = (stamp->kind == STAMP_SUM ? sum : stamp->kind == STAMP_SUM_NEG ? 0 - sum : ~sum) & mask;
        break;
    case STAMP_ADLER32:
        stamp->value = adler;
        break;
    case STAMP_SHA256:
        qkit_sha256_end(&sha, stamp->bytes);
        return;
    case STAMP_LENGTH:
        stamp->value = end - stamp->first;
        if (stamp->value > mask) {
            char label[64];
            command_error("the length %llu of %08Xh - %08Xh does not fit the %u %s of %s at %08Xh",
                          static_cast<unsigned long long>(stamp->value), stamp->first, stamp->last, stamp->width,
                          plural(stamp->width, "byte", "bytes"), slot_stamp_label(stamp, label), stamp->at);
        }
        break;
    case STAMP_CONST:
        break;
    }
    for (uint32_t i = 0; i < stamp->width; i++)
        stamp->bytes[i] = uint8_t(stamp->value >> (8 * (stamp->big_endian ? stamp->width - 1 - i : i)));
}

// The line of the report: "CRC: CRC-32 of 00000000h - 00000008h is CBF43926,
// stored little-endian at 00000009h", "Stamp: sha256 of ... is 9F86...".
static void report_stamp(const stamp_t *stamp)
{
    char value[65];
    for (uint32_t i = 0; i < stamp->width; i++) // the value's digits, most significant first
        snprintf(value + 2 * i, 3, "%02X",
                 stamp->kind == STAMP_SHA256 ? stamp->bytes[i] : uint8_t(stamp->value >> (8 * (stamp->width - 1 - i))));
    const char *order = stamp->kind == STAMP_SHA256 ? "stored" : stamp->big_endian ? "stored big-endian" : "stored little-endian";
    if (stamp->kind == STAMP_CONST)
        report("Stamp: const is %s, %s at %08Xh\n", value, order, stamp->at);
    else
        report("%s: %s of %08Xh - %08Xh is %s, %s at %08Xh\n", stamp->crc != nullptr ? "CRC" : "Stamp", stamp->name,
               stamp->first, stamp->last, value, order, stamp->at);
}

// Each stamp's range: given, or from the lowest address up to the byte
// before it. Its bytes must all be there, and none of a stamp given after it.
static void lay_out_range(const slot_t *slot, size_t index, uint64_t lowest, const image_view_t *view)
{
    stamp_t *stamp = &slot->stamps.items[index];
    char label[64], other[64], phrase[96], hint[194];
    if (!stamp->range_given) {
        if (lowest >= stamp->at)
            command_error("nothing lies below %s at %08Xh to compute it over; %s names the bytes it covers",
                          slot_stamp_label(stamp, label), stamp->at, slot_range_option(stamp));
        stamp->first = uint32_t(lowest);
        stamp->last = stamp->at - 1;
    }
    slot_check_words(stamp, command_error);
    uint64_t hole = image_view_hole(view, stamp->first, uint64_t(stamp->last) + 1);
    if (hole != uint64_t(stamp->last) + 1)
        command_error("%s %08Xh - %08Xh has no data at %08Xh; --fill gives the gaps a value%s%s%s%s",
                      range_phrase(stamp, phrase), stamp->first, stamp->last, uint32_t(hole),
                      slot->fills.count != 0 ? ", " : "", slot->fills.count != 0 ? slot_range_option(stamp) : "",
                      slot->fills.count != 0 ? " names the bytes it covers" : "",
                      hole == stamp->last && stamp->range_given
                          ? slot_last_included(slot_range_option(stamp), stamp->first, stamp->last, hint) : "");
    for (size_t later = index + 1; later < slot->stamps.count; later++) {
        const stamp_t *after = &slot->stamps.items[later];
        if (after->at <= stamp->last && uint64_t(after->at) + after->width > stamp->first)
            command_error("%s at %08Xh covers %08Xh - %08Xh, which takes in %s at %08Xh, given after it; give it "
                          "after that one", slot_stamp_label(stamp, label), stamp->at, stamp->first, stamp->last,
                          slot_stamp_label(after, other), after->at);
    }
}

// Fills the gaps of [first, end) between the view's first `count` pieces,
// which are in address order; returns the bytes filled.
static uint64_t fill_gaps(const slot_t *slot, image_view_t *view, size_t count, uint64_t first, uint64_t end)
{
    uint64_t filled = 0;
    for (size_t i = 0; i < count && first < end; i++) {
        image_piece_t data = view->pieces.items[i]; // a copy: the view grows
        filled += add_fill(slot, view, first, std::min<uint64_t>(end, data.address));
        first = std::max(first, data.end);
    }
    return filled + add_fill(slot, view, first, end);
}

// Each stamp at after goes to the first address past the data, rounded up to
// its alignment; a range to the end ends at the data's last byte, and a
// stamp at after without a range covers the data from its lowest address.
// Checked as the command line's stamps were.
static void place_stamps(slot_t *slot, uint64_t lowest, uint64_t data_end)
{
    for (stamp_t *stamp = slot->stamps.items; stamp < slot->stamps.items + slot->stamps.count; stamp++) {
        char label[64];
        uint64_t at = (data_end + stamp->align - 1) / stamp->align * stamp->align;
        if (stamp->after && at > 0xFFFFFFFF)
            command_error("%s at after would lie past FFFFFFFFh: the data ends there", slot_stamp_label(stamp, label));
        if (stamp->after) {
            stamp->at = uint32_t(at);
            stamp->placed = true;
        }
        if (stamp->after && !stamp->range_given) {
            stamp->first = uint32_t(lowest);
            stamp->range_given = stamp->to_end = true;
        }
        if (stamp->to_end)
            stamp->last = uint32_t(data_end - 1);
        if (stamp->to_end && stamp->first > stamp->last)
            command_error("the range of %s, %08Xh:end, begins past the data's last byte %08Xh",
                          slot_stamp_label(stamp, label), stamp->first, stamp->last);
    }
    for (size_t i = 0; i < slot->stamps.count; i++)
        if (slot->stamps.items[i].after || slot->stamps.items[i].to_end)
            stamp_check(slot, i, true, command_error);
}

// The pad's value as the report gives it: its width in digits.
static void report_pad(const slot_t *slot)
{
    report("%0*Xh", int(2 * slot->pad.width), slot->pad.value);
}

void slot_build(slot_t *slot, image_view_t *view)
{
    // the data's runs widened to whole blocks, the fill before each piece of
    // data and after the last one, each range apart, and the stamps' bytes
    size_t count = view->pieces.count;
    uint64_t lowest = count != 0 ? view->pieces.items[0].address : UINT64_MAX;
    if (count != 0)
        place_stamps(slot, lowest, view->pieces.items[count - 1].end);
    if (slot->align > 1) {
        // the blocks that the runs touch, gathered before the view grows
        growing_t<fill_t> blocks;
        size_t index = 0;
        uint64_t filled = 0, block = slot->align, done = 0;
        for (uint64_t first, end; image_view_run(view, &index, &first, &end); done = (end + block - 1) / block * block)
            *grow_or_die(&blocks) = {uint32_t(std::max(done, first / block * block)),
                                     uint32_t((end + block - 1) / block * block - 1)};
        for (size_t i = 0; i < blocks.count; i++)
            filled += fill_gaps(slot, view, count, blocks.items[i].first, uint64_t(blocks.items[i].last) + 1);
        free(blocks.items);
        report("Align: %u-byte blocks with ", slot->align);
        report_pad(slot);
        report(", %llu %s\n", static_cast<unsigned long long>(filled), plural(filled, "byte", "bytes"));
        image_view_sort(view);
        count = view->pieces.count;
    }
    for (const fill_t *fill = slot->fills.items; fill < slot->fills.items + slot->fills.count; fill++) {
        uint64_t filled = fill_gaps(slot, view, count, fill->first, uint64_t(fill->last) + 1);
        report("Fill: %08Xh - %08Xh with ", fill->first, fill->last);
        report_pad(slot);
        report(", %llu %s\n", static_cast<unsigned long long>(filled), plural(filled, "byte", "bytes"));
        lowest = std::min<uint64_t>(lowest, fill->first);
    }
    for (stamp_t *stamp = slot->stamps.items; stamp < slot->stamps.items + slot->stamps.count; stamp++)
        add_piece(view, stamp->at, uint64_t(stamp->at) + stamp->width, stamp->bytes);
    image_view_sort(view);
    for (size_t i = 0; i < slot->stamps.count; i++) {
        if (slot->stamps.items[i].kind != STAMP_CONST)
            lay_out_range(slot, i, lowest, view);
        compute(&slot->stamps.items[i], view);
        report_stamp(&slot->stamps.items[i]);
    }
}
