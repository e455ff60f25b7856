// SPDX-License-Identifier: MIT
// slot.cpp: the options of a flash slot, the fill between the merged data,
// and the CRC over the result.
#include "slot.h"
#include "command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <strings.h>

static const char stm32_name[] = "STM32";

// A name as a user may misspell it: its letters and digits, in upper case.
static void normalise(const char *name, char (&out)[64])
{
    size_t n = 0;
    for (; *name != '\0' && n + 1 < sizeof out; name++)
        if (isalnum(static_cast<unsigned char>(*name)))
            out[n++] = char(toupper(static_cast<unsigned char>(*name)));
    out[n] = '\0';
}

// The edits (insertions, deletions, changes) that turn `a` into `b`.
static size_t edit_distance(const char *a, const char *b)
{
    size_t row[64] = {}, length = strlen(b);
    for (size_t j = 0; j <= length; j++)
        row[j] = j;
    for (size_t i = 1; a[i - 1] != '\0'; i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= length; j++) {
            size_t changed = diagonal + (a[i - 1] != b[j - 1]);
            diagonal = row[j];
            row[j] = std::min({changed, row[j] + 1, row[j - 1] + 1});
        }
    }
    return row[length];
}

// How far `name` is from a known one, letter case and punctuation aside: from
// the whole name or from the algorithm's own part ("KERMIT" of
// "CRC-16/KERMIT"), whichever is nearer.
static size_t distance_to(const char *wanted, const char *known_name)
{
    char known[64], part[64];
    normalise(known_name, known);
    normalise(strrchr(known_name, '/') != nullptr ? strrchr(known_name, '/') + 1 : known_name, part);
    return std::min(edit_distance(wanted, known), edit_distance(wanted, part));
}

// The known name nearest to `name`.
static const char *nearest_crc(const char *name)
{
    char wanted[64];
    normalise(name, wanted);
    const char *best = stm32_name;
    size_t best_distance = distance_to(wanted, best);
    for (const qkit_crc_t *crc = qkit_crc_catalogue; crc->name != nullptr; crc++) {
        if (distance_to(wanted, crc->name) < best_distance) {
            best = crc->name;
            best_distance = distance_to(wanted, crc->name);
        }
    }
    return best;
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
                                nearest_crc(value), command_name);
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

// The CRC unit of an STM32 takes whole words: what is wrong when the range
// [first, end) is not, else null.
static const char *not_whole_words(const slot_t *slot, uint64_t first, uint64_t end, char (&text)[128])
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

void slot_check_options(slot_t *slot, ihex_address_mode_t mode)
{
    if (slot->pad_given && !slot->fill)
        command_usage_error("--pad needs --fill: it is the byte that fills the range");
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
    if (not_whole_words(slot, slot->range_first, uint64_t(slot->range_last) + 1, text) != nullptr)
        command_usage_error("%s", text);
}

// Adds the fill of [first, end), less the CRC's bytes, to the pieces: the
// parts below and above the CRC (without a CRC, crc_at is 0 and the part
// above is the whole).
static uint64_t add_fill(slot_t *slot, uint64_t first, uint64_t end)
{
    uint64_t crc_first = slot->crc_at, crc_end = slot_crc_end(slot), filled = 0;
    uint64_t parts[2][2] = {{first, std::min(end, crc_first)}, {std::max(first, crc_end), end}};
    for (auto &part : parts) {
        if (part[0] >= part[1])
            continue;
        slot->pieces[slot->piece_count++] = {uint32_t(part[0]), part[1], nullptr};
        filled += part[1] - part[0];
    }
    return filled;
}

// The lowest address in [first, end) that no piece gives, or end.
static uint64_t first_hole(const slot_t *slot, uint64_t first, uint64_t end)
{
    for (size_t i = 0; i < slot->piece_count && first < end; i++) {
        const slot_piece_t &piece = slot->pieces[i];
        if (piece.end <= first)
            continue;
        if (piece.address > first)
            break;
        first = piece.end;
    }
    return std::min(first, end);
}

static void compute_crc(slot_t *slot, uint64_t lowest)
{
    slot->crc_first = slot->range_given ? slot->range_first : lowest;
    slot->crc_end = slot->range_given ? uint64_t(slot->range_last) + 1 : slot->crc_at;
    if (slot->crc_first >= slot->crc_end)
        command_error("nothing lies below the CRC at %08Xh to compute it over; --crc-range names the bytes it covers",
                      slot->crc_at);
    char text[128];
    if (not_whole_words(slot, slot->crc_first, slot->crc_end, text) != nullptr)
        command_error("%s", text);
    uint64_t hole = first_hole(slot, slot->crc_first, slot->crc_end);
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
        const uint8_t *bytes = slot_bytes(slot, &cursor, at, size, scratch);
        if (slot->stm32) { // each little-endian word goes in from its top byte
            for (uint64_t i = 0; i < size; i++)
                swapped[i] = bytes[i ^ 3];
            bytes = swapped;
        }
        state = qkit_crc_update(crc, state, bytes, size_t(size));
    }
    free(scratch);
    slot->crc_value = qkit_crc_end(crc, state);
    uint32_t size = crc_size(slot);
    for (uint32_t i = 0; i < size; i++)
        slot->crc_bytes[i] = uint8_t(slot->crc_value >> (8 * (slot->big_endian ? size - 1 - i : i)));
    report("CRC: %s of %08Xh - %08Xh is %0*X, stored %s-endian at %08Xh\n", slot->stm32 ? stm32_name : crc->name,
           uint32_t(slot->crc_first), uint32_t(slot->crc_end - 1), int(2 * size), slot->crc_value,
           slot->big_endian ? "big" : "little", slot->crc_at);
}

void slot_build(slot_t *slot, const slot_piece_t *blocks, size_t count)
{
    if (!slot->pad_given)
        slot->pad = 0xFF;
    // each block, the fill before it (in two parts where the CRC splits it),
    // the fill after the last one, and the CRC
    slot->pieces = static_cast<slot_piece_t *>(allocate((3 * count + 3) * sizeof(slot_piece_t)));
    slot->piece_count = 0;
    uint64_t fill_at = slot->fill_first, fill_end = slot->fill ? uint64_t(slot->fill_last) + 1 : 0, filled = 0;
    for (size_t i = 0; i < count; i++) {
        filled += add_fill(slot, fill_at, std::min<uint64_t>(fill_end, blocks[i].address));
        slot->pieces[slot->piece_count++] = blocks[i];
        fill_at = std::max(fill_at, blocks[i].end);
    }
    filled += add_fill(slot, fill_at, fill_end);
    if (slot->fill)
        report("Fill: %08Xh - %08Xh with %02Xh, %llu bytes\n", slot->fill_first, slot->fill_last, slot->pad,
               static_cast<unsigned long long>(filled));
    if (slot->crc == nullptr)
        return;

    uint64_t lowest = count != 0 ? blocks[0].address : UINT64_MAX;
    if (slot->fill)
        lowest = std::min<uint64_t>(lowest, slot->fill_first);
    slot->pieces[slot->piece_count++] = {slot->crc_at, slot_crc_end(slot), slot->crc_bytes};
    std::sort(slot->pieces, slot->pieces + slot->piece_count,
              [](const slot_piece_t &a, const slot_piece_t &b) { return a.address < b.address; });
    compute_crc(slot, lowest);
}

const uint8_t *slot_bytes(const slot_t *slot, size_t *cursor, uint64_t address, uint64_t size, uint8_t *scratch)
{
    while (slot->pieces[*cursor].end <= address)
        ++*cursor;
    const slot_piece_t *piece = &slot->pieces[*cursor];
    if (piece->bytes != nullptr && address + size <= piece->end)
        return piece->bytes + (address - piece->address);
    for (uint8_t *out = scratch; size != 0; piece++) {
        uint64_t n = std::min(size, piece->end - address);
        if (piece->bytes != nullptr)
            memcpy(out, piece->bytes + (address - piece->address), n);
        else
            memset(out, slot->pad, n);
        out += n;
        address += n;
        size -= n;
    }
    return scratch;
}

void slot_free(slot_t *slot)
{
    free(slot->pieces);
    slot->pieces = nullptr;
}
