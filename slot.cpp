// SPDX-License-Identifier: MIT
// slot.cpp: the options of a flash slot, the fill between the merged data,
// and the CRC over the result.
#include "slot.h"
#include "command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <strings.h>

static const char *const slot_options[] = {"--fill", "--pad", "--crc", "--crc-at", "--crc-range", "--crc-endian"};

bool slot_is_option(const char *argument)
{
    for (const char *option : slot_options)
        if (strcmp(argument, option) == 0)
            return true;
    return false;
}

// An address: a number of 32 bits at most, with nothing after it.
static bool read_address(const char *text, size_t length, uint32_t *address)
{
    const char *end;
    uint64_t value = qkit_parse_unsigned(text, &end);
    *address = uint32_t(value);
    return length != 0 && end == text + length && value <= 0xFFFFFFFF;
}

// "<first>:<last>", both ends included.
static void read_range(const char *option, const char *value, uint32_t *first, uint32_t *last)
{
    const char *colon = strchr(value, ':');
    if (colon == nullptr || !read_address(value, size_t(colon - value), first) ||
        !read_address(colon + 1, strlen(colon + 1), last))
        usage_error("invalid value for %s. Must be <first>:<last>, two addresses", option);
    if (*first > *last)
        usage_error("invalid value for %s. The first address %08Xh is above the last, %08Xh", option, *first, *last);
}

static const char stm32_name[] = "STM32";

void slot_read_option(slot_t *slot, const char *argument, const char *value)
{
    if (strcmp(argument, "--fill") == 0) {
        read_range(argument, value, &slot->fill_first, &slot->fill_last);
        slot->fill = true;
    } else if (strcmp(argument, "--pad") == 0) {
        slot->pad = uint8_t(read_bounded(value, 0, 0xFF, "invalid value for --pad. Must be 0 to 255"));
        slot->pad_given = true;
    } else if (strcmp(argument, "--crc") == 0) {
        slot->stm32 = strcasecmp(value, stm32_name) == 0;
        slot->crc = qkit_crc_find(slot->stm32 ? "CRC-32/MPEG-2" : value);
        if (slot->crc == nullptr) {
            char known[1024] = "";
            for (const qkit_crc_t *crc = qkit_crc_catalogue; crc->name != nullptr; crc++)
                snprintf(known + strlen(known), sizeof known - strlen(known), "%s, ", crc->name);
            usage_error("unknown CRC '%s'. Known: %s%s", value, known, stm32_name);
        }
    } else if (strcmp(argument, "--crc-at") == 0) {
        if (!read_address(value, strlen(value), &slot->crc_at))
            usage_error("invalid value for --crc-at");
        slot->crc_at_given = true;
    } else if (strcmp(argument, "--crc-range") == 0) {
        read_range(argument, value, &slot->range_first, &slot->range_last);
        slot->range_given = true;
    } else {
        if (strcmp(value, "little") != 0 && strcmp(value, "big") != 0)
            usage_error("invalid value for --crc-endian. Must be little or big");
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
        usage_error("%s reaches beyond %08Xh, the highest address of the %s mode", what, address_mode_limit(mode),
                    address_mode_name(mode));
}

void slot_check_options(const slot_t *slot, ihex_address_mode_t mode)
{
    if (slot->pad_given && !slot->fill)
        usage_error("--pad needs --fill: it is the byte that fills the range");
    if (slot->crc != nullptr && !slot->crc_at_given)
        usage_error("--crc needs --crc-at, the address where the CRC goes");
    const char *without_crc = slot->crc_at_given ? "--crc-at" : slot->range_given ? "--crc-range"
                              : slot->endian_given ? "--crc-endian" : nullptr;
    if (slot->crc == nullptr && without_crc != nullptr)
        usage_error("%s needs --crc, the CRC to compute", without_crc);
    if (slot->fill)
        check_reach("--fill", slot->fill_last, mode);
    if (slot->crc == nullptr)
        return;
    if (slot_crc_end(slot) - 1 > 0xFFFFFFFF)
        usage_error("the %u bytes of the CRC at %08Xh would pass FFFFFFFFh", crc_size(slot), slot->crc_at);
    check_reach("the CRC", slot_crc_end(slot) - 1, mode);
    if (!slot->range_given)
        return;
    check_reach("--crc-range", slot->range_last, mode);
    if (slot->crc_at <= slot->range_last && slot_crc_end(slot) > slot->range_first)
        usage_error("the CRC at %08Xh lies inside its own range %08Xh - %08Xh", slot->crc_at, slot->range_first,
                    slot->range_last);
    char text[128];
    if (not_whole_words(slot, slot->range_first, uint64_t(slot->range_last) + 1, text) != nullptr)
        usage_error("%s", text);
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
        fatal_error(0, "nothing lies below the CRC at %08Xh to compute it over; --crc-range names the bytes it covers",
                    slot->crc_at);
    char text[128];
    if (not_whole_words(slot, slot->crc_first, slot->crc_end, text) != nullptr)
        fatal_error(0, "%s", text);
    uint64_t hole = first_hole(slot, slot->crc_first, slot->crc_end);
    if (hole != slot->crc_end)
        fatal_error(0, "the CRC range %08Xh - %08Xh has no data at %08Xh; --fill gives the gaps a value",
                    uint32_t(slot->crc_first), uint32_t(slot->crc_end - 1), uint32_t(hole));

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
    printf("\nCRC: %s of %08Xh - %08Xh is %0*X, stored %s-endian at %08Xh", slot->stm32 ? stm32_name : crc->name,
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
        printf("\nFill: %08Xh - %08Xh with %02Xh, %llu bytes", slot->fill_first, slot->fill_last, slot->pad,
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
