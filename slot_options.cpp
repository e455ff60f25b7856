// SPDX-License-Identifier: MIT
// slot_options.cpp: the options of a flash slot: the CRCs by name, and the
// checks of what goes with what.
#include "slot.h"
#include "command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <strings.h>

static const char stm32_name[] = "STM32";

// The names of the CRCs a slot may have: STM32's, then the catalogue's.
static const char *crc_name(size_t index)
{
    return index == 0 ? stm32_name : qkit_crc_catalogue[index - 1].name;
}

void slot_list_crcs()
{
    for (const qkit_crc_t *crc = qkit_crc_catalogue; crc->name != nullptr; crc++) {
        int digits = (crc->width + 3) / 4;
        printf("%-20s width=%-2u poly=0x%0*X init=0x%0*X refin=%s refout=%s xorout=0x%0*X check=0x%0*X\n", crc->name,
               crc->width, digits, crc->poly, digits, crc->init, crc->reflect_in ? "true" : "false",
               crc->reflect_out ? "true" : "false", digits, crc->xor_out, digits, crc->check);
    }
    printf("%-20s CRC-32/MPEG-2 over 32-bit little-endian words, as the STM32 CRC unit computes it\n", stm32_name);
    exit(0);
}

void slot_read_option(slot_t *slot, int option, const char *value)
{
    switch (option) {
    case SLOT_FILL:
        read_range("--fill", value, &slot->fill_first, &slot->fill_last);
        slot->fill = true;
        break;
    case SLOT_PAD:
        slot->pad = uint8_t(read_bounded("--pad", value, 0, 0xFF));
        slot->pad_given = true;
        break;
    case SLOT_CRC:
        slot->stm32 = strcasecmp(value, stm32_name) == 0;
        slot->crc = qkit_crc_find(slot->stm32 ? "CRC-32/MPEG-2" : value);
        if (slot->crc == nullptr)
            command_usage_error("unknown CRC '%s'. Did you mean '%s'? '%s --crc list' lists every one", value,
                                nearest_name(value, crc_name), command_name);
        break;
    case SLOT_CRC_AT:
        slot->crc_at = read_address("--crc-at", value);
        slot->crc_at_given = true;
        break;
    case SLOT_CRC_RANGE:
        read_range("--crc-range", value, &slot->range_first, &slot->range_last);
        slot->range_given = true;
        break;
    default:
        if (strcmp(value, "little") != 0 && strcmp(value, "big") != 0)
            command_usage_error("invalid value for --crc-endian: '%s'. Must be little or big", value);
        slot->big_endian = strcmp(value, "big") == 0;
        slot->endian_given = true;
    }
}

static uint32_t crc_size(const slot_t *slot)
{
    return slot->crc == nullptr ? 0 : (slot->crc->width + 7) / 8;
}

uint64_t slot_crc_end(const slot_t *slot)
{
    return uint64_t(slot->crc_at) + crc_size(slot);
}

const char *slot_crc_name(const slot_t *slot)
{
    return slot->stm32 ? stm32_name : slot->crc->name;
}

const char *slot_not_whole_words(const slot_t *slot, uint64_t first, uint64_t end, char (&text)[128])
{
    if (!slot->stm32 || (end - first) % 4 == 0)
        return nullptr;
    snprintf(text, sizeof text, "STM32 computes over whole 32-bit words, and %08Xh - %08Xh holds %llu bytes",
             uint32_t(first), uint32_t(end - 1), static_cast<unsigned long long>(end - first));
    return text;
}

static void check_reach(const char *what, uint64_t last, ihex_address_mode_t mode)
{
    if (last > address_mode_limit(mode))
        command_usage_error("%s reaches beyond %08Xh, the highest address of the %s mode", what,
                            address_mode_limit(mode), address_mode_name(mode));
}

// Without --crc-range, a CRC at either end of the fill range covers the rest
// of it: the slot is what the user filled.
static void take_fill_as_range(slot_t *slot)
{
    uint64_t crc_end = slot_crc_end(slot), fill_end = uint64_t(slot->fill_last) + 1;
    if (crc_end <= slot->fill_first || slot->crc_at > slot->fill_last)
        return; // outside the fill: from the lowest address up to the CRC
    if (crc_end == fill_end && slot->crc_at > slot->fill_first) {
        slot->range_first = slot->fill_first;
        slot->range_last = slot->crc_at - 1;
    } else if (slot->crc_at == slot->fill_first && crc_end < fill_end) {
        slot->range_first = uint32_t(crc_end);
        slot->range_last = slot->fill_last;
    } else {
        bool whole = slot->crc_at <= slot->fill_first && crc_end >= fill_end;
        command_usage_error("the CRC at %08Xh %s fill range %08Xh - %08Xh, %s; --crc-range names the bytes it covers",
                            slot->crc_at, whole ? "takes in the whole" : "lies inside the", slot->fill_first,
                            slot->fill_last, whole ? "leaving it nothing to cover" : "at neither end of it");
    }
    slot->range_given = true;
}

void slot_check_options(slot_t *slot, ihex_address_mode_t mode, bool pads_gaps)
{
    if (slot->pad_given && !slot->fill && !pads_gaps)
        command_usage_error("--pad needs --fill: it is the byte that fills the range");
    if (!slot->pad_given)
        slot->pad = 0xFF;
    if (slot->crc != nullptr && !slot->crc_at_given)
        command_usage_error("--crc needs --crc-at, the address where the CRC goes");
    const char *without_crc = slot->crc_at_given ? "--crc-at" : slot->range_given ? "--crc-range"
                              : slot->endian_given ? "--crc-endian" : nullptr;
    if (slot->crc == nullptr && without_crc != nullptr)
        command_usage_error("%s needs --crc, the CRC to compute", without_crc);
    if (slot->fill)
        check_reach("--fill", slot->fill_last, mode);
    if (slot->crc == nullptr)
        return;
    if (slot_crc_end(slot) - 1 > 0xFFFFFFFF)
        command_usage_error("the %u bytes of the CRC at %08Xh would pass FFFFFFFFh", crc_size(slot), slot->crc_at);
    check_reach("the CRC", slot_crc_end(slot) - 1, mode);
    if (!slot->range_given && slot->fill)
        take_fill_as_range(slot);
    if (!slot->range_given)
        return;
    check_reach("--crc-range", slot->range_last, mode);
    if (slot->crc_at <= slot->range_last && slot_crc_end(slot) > slot->range_first)
        command_usage_error("the CRC at %08Xh lies inside its own range %08Xh - %08Xh", slot->crc_at,
                            slot->range_first, slot->range_last);
    char text[128];
    if (slot_not_whole_words(slot, slot->range_first, uint64_t(slot->range_last) + 1, text) != nullptr)
        command_usage_error("%s", text);
}

