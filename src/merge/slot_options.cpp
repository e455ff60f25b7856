// SPDX-License-Identifier: MIT
// slot_options.cpp: the options of flash slots: fill ranges, the pad, the
// CRC options, and the checks of what goes with what.
#include "merge/slot.h"

#include "merge/stamps.h"
#include "cli/command.h"
#include "cli/report.h"
#include "cli/suggest.h"
#include "cli/values.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void slot_read_option(slot_t *slot, int option, const char *value)
{
    switch (option) {
    case SLOT_FILL: {
        fill_t *fill = grow_or_die(&slot->fills);
        read_range("--fill", value, &fill->first, &fill->last);
        break;
    }
    case SLOT_PAD:
        slot->pad.value = read_bounded("--pad", value, 0, 0xFFFFFFFF);
        slot->pad_text = value;
        slot->pad_given = true;
        break;
    case SLOT_PAD_WIDTH:
        slot->pad.width = read_power_of_two("--pad-width", value, 1, 4);
        slot->pad_width_given = true;
        break;
    case SLOT_ALIGN:
        slot->align = read_power_of_two("--align", value, 1, 4096);
        break;
    case SLOT_STAMP:
        if (strcmp(value, "list") == 0)
            stamp_list(false);
        stamp_read(slot, value);
        break;
    case SLOT_CRC:
        if (strcmp(value, "list") == 0)
            stamp_list(true);
        stamp_check_crc_name(value);
        slot->crc_name = value;
        break;
    case SLOT_CRC_AT:
        slot->crc_at = read_address("--crc-at", value);
        slot->crc_at_given = true;
        break;
    case SLOT_CRC_RANGE:
        read_range("--crc-range", value, &slot->crc_first, &slot->crc_last);
        slot->crc_range_given = true;
        break;
    default:
        slot->crc_big_endian = read_big_endian("--crc-endian", value);
        slot->crc_endian_given = true;
    }
}

// Without a range, a stamp at either end of a fill range covers the rest of
// it: the slot is what the user filled. One outside every fill range covers
// the image up to it, which the layout finds.
static void take_fill_as_range(const slot_t *slot, stamp_t *stamp)
{
    uint64_t end = uint64_t(stamp->at) + stamp->width;
    for (const fill_t *fill = slot->fills.items; fill < slot->fills.items + slot->fills.count; fill++) {
        uint64_t fill_end = uint64_t(fill->last) + 1;
        if (end <= fill->first || stamp->at > fill->last)
            continue;
        char label[64], hint[194];
        if (end == fill_end && stamp->at > fill->first) {
            stamp->first = fill->first;
            stamp->last = stamp->at - 1;
        } else if (stamp->at == fill->first && end < fill_end) {
            stamp->first = uint32_t(end);
            stamp->last = fill->last;
        } else {
            bool whole = stamp->at <= fill->first && end >= fill_end;
            command_usage_error("%s at %08Xh %s fill range %08Xh - %08Xh, %s; %s names the bytes it covers%s",
                                slot_stamp_label(stamp, label), stamp->at,
                                whole ? "takes in the whole" : "lies inside the", fill->first, fill->last,
                                whole ? "leaving it nothing to cover" : "at neither end of it",
                                slot_range_option(stamp), slot_last_included("--fill", fill->first, fill->last, hint));
        }
        stamp->range_given = true;
        return;
    }
}

void slot_check_options(slot_t *slot, ihex_address_mode_t mode, bool pads_gaps)
{
    slot->mode = mode;
    if (slot->align == 0)
        slot->align = 1;
    if (slot->pad.width == 0)
        slot->pad.width = 1;
    if (slot->pad_given && slot->fills.count == 0 && !pads_gaps && slot->align == 1)
        command_usage_error("--pad needs --fill: it is the byte that fills the range");
    if (slot->pad_width_given && !slot->pad_given)
        command_usage_error("--pad-width needs --pad, the value it lays down");
    if (!slot->pad_given)
        slot->pad.value = 0xFF;
    if (slot->pad.width < 4 && slot->pad.value >> (8 * slot->pad.width) != 0)
        command_usage_error("invalid value for --pad: '%s'. Must be 0 to %u%s", slot->pad_text,
                            (1u << (8 * slot->pad.width)) - 1, slot->pad_width_given ? "" : "; --pad-width 2 or 4 "
                            "lays down a wider pattern");
    if (slot->crc_name != nullptr && !slot->crc_at_given)
        command_usage_error("--crc needs --crc-at, the address where the CRC goes");
    const char *without_crc = slot->crc_at_given ? "--crc-at" : slot->crc_range_given ? "--crc-range"
                              : slot->crc_endian_given ? "--crc-endian" : nullptr;
    if (slot->crc_name == nullptr && without_crc != nullptr)
        command_usage_error("%s needs --crc, the CRC to compute", without_crc);
    if (slot->crc_name != nullptr) { // the last stamp
        stamp_t *stamp = grow_or_die(&slot->stamps);
        stamp_take_kind(slot->crc_name, stamp);
        stamp->placed = true;
        stamp->crc_options = true;
        stamp->at = slot->crc_at;
        stamp->range_given = slot->crc_range_given;
        stamp->first = slot->crc_first;
        stamp->last = slot->crc_last;
        stamp->big_endian = slot->crc_big_endian;
    }
    const growing_t<fill_t> &fills = slot->fills;
    for (size_t i = 0; i < fills.count; i++) {
        slot_check_reach("--fill", fills.items[i].last, mode);
        for (size_t j = 0; j < i; j++)
            if (fills.items[i].first <= fills.items[j].last && fills.items[j].first <= fills.items[i].last) {
                char hint[194];
                command_usage_error("the fill ranges %08Xh - %08Xh and %08Xh - %08Xh overlap%s", fills.items[j].first,
                                    fills.items[j].last, fills.items[i].first, fills.items[i].last,
                                    slot_last_included("--fill", fills.items[j].first, fills.items[j].last, hint));
            }
    }
    // a stamp at after, or with a range to the end of the data, is checked
    // again once the layout knows where it goes
    for (size_t i = 0; i < slot->stamps.count; i++) {
        stamp_t *stamp = &slot->stamps.items[i];
        if (stamp->after)
            continue;
        stamp_check(slot, i, false, command_usage_error);
        if (!stamp->range_given && stamp->kind != STAMP_CONST)
            take_fill_as_range(slot, stamp);
        if (stamp->range_given && !stamp->to_end)
            stamp_check(slot, i, true, command_usage_error);
    }
}

void slot_free(slot_t *slot)
{
    free(slot->fills.items);
    free(slot->stamps.items);
}
