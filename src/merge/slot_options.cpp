// SPDX-License-Identifier: MIT
// slot_options.cpp: the options of flash slots: fill ranges, stamps by kind
// and by name, and the checks of what goes with what.
#include "merge/slot.h"

#include "cli/command.h"
#include "cli/report.h"
#include "cli/suggest.h"
#include "cli/values.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <strings.h>

static const char stm32_name[] = "STM32";

// One more item at the end of `array`; the run ends when memory is out.
template <typename T> static T *grow_or_die(growing_t<T> *array)
{
    T *item = grow(array, 1);
    if (item == nullptr)
        command_error("cannot allocate memory");
    return item;
}

// The kinds of stamp besides the CRCs: their names, byte widths (the first
// the default) and what --stamp list says of them.
static const struct {
    const char *name;
    stamp_kind_t kind;
    uint32_t widths[4];
    const char *text;
} kinds[] = {
    {"sum", STAMP_SUM, {1, 2, 4}, "the sum of the range's bytes, kept to width= bytes (1, 2 or 4; 1)"},
    {"sum-neg", STAMP_SUM_NEG, {1, 2, 4}, "its two's complement: the range and the stamp sum to 0"},
    {"sum-not", STAMP_SUM_NOT, {1, 2, 4}, "its ones' complement"},
    {"adler32", STAMP_ADLER32, {4}, "zlib's Adler-32 of the range"},
    {"sha256", STAMP_SHA256, {32}, "the SHA-256 digest of the range, 32 bytes in its own order"},
    {"length", STAMP_LENGTH, {4, 1, 2}, "the bytes in the range, LAST - FIRST + 1, in width= bytes (1, 2 or 4; 4)"},
    {"const", STAMP_CONST, {4, 1, 2, 8}, "value= in width= bytes (1, 2, 4 or 8; 4)"},
};

// Every name a stamp may have: STM32, the catalogue's CRCs, then the others.
static const char *crc_name(size_t index)
{
    return index == 0 ? stm32_name : qkit_crc_catalogue[index - 1].name;
}

static const char *stamp_name(size_t index)
{
    size_t crcs = 1;
    while (qkit_crc_catalogue[crcs - 1].name != nullptr)
        crcs++;
    return index < crcs ? crc_name(index) : index - crcs < std::size(kinds) ? kinds[index - crcs].name : nullptr;
}

static void list_crcs()
{
    for (const qkit_crc_t *crc = qkit_crc_catalogue; crc->name != nullptr; crc++) {
        int digits = (crc->width + 3) / 4;
        printf("%-20s width=%-2u poly=0x%0*X init=0x%0*X refin=%s refout=%s xorout=0x%0*X check=0x%0*X\n", crc->name,
               crc->width, digits, crc->poly, digits, crc->init, crc->reflect_in ? "true" : "false",
               crc->reflect_out ? "true" : "false", digits, crc->xor_out, digits, crc->check);
    }
    printf("%-20s CRC-32/MPEG-2 over 32-bit little-endian words, as the STM32 CRC unit computes it\n", stm32_name);
}

// A stamp of the kind `name` names, at `at`: a CRC or STM32 (*stamp filled),
// or one of the others; false for a name that is none of them.
static bool take_kind(const char *name, stamp_t *stamp)
{
    *stamp = stamp_t{};
    const qkit_crc_t *crc = qkit_crc_find(name);
    size_t k = 0;
    while (k < std::size(kinds) && strcasecmp(name, kinds[k].name) != 0)
        k++;
    if (strcasecmp(name, stm32_name) == 0) {
        stamp->kind = STAMP_STM32;
        stamp->crc = qkit_crc_find("CRC-32/MPEG-2");
        stamp->name = stm32_name;
        stamp->width = 4;
    } else if (crc != nullptr) {
        stamp->kind = STAMP_CRC;
        stamp->crc = crc;
        stamp->name = crc->name;
        stamp->width = (crc->width + 7) / 8;
    } else if (k < std::size(kinds)) {
        stamp->kind = kinds[k].kind;
        stamp->name = kinds[k].name;
        stamp->width = kinds[k].widths[0];
    }
    return stamp->name != nullptr;
}

static bool is_sum(const stamp_t *stamp)
{
    return stamp->kind == STAMP_SUM || stamp->kind == STAMP_SUM_NEG || stamp->kind == STAMP_SUM_NOT;
}

static const char *const settings[] = {"range", "endian", "width", "value"};

static const char *setting_name(size_t index)
{
    return index < std::size(settings) ? settings[index] : nullptr;
}

static bool known_setting(const char *field)
{
    for (const char *key : settings)
        if (strncmp(field, key, strlen(key)) == 0 && field[strlen(key)] == '=')
            return true;
    return false;
}

// "KIND@ADDRESS[,range=RANGE][,endian=little|big][,width=N][,value=V]"
static void read_stamp(slot_t *slot, const char *value)
{
    char text[512];
    snprintf(text, sizeof text, "%s", value);
    char *at = strchr(text, '@');
    if (at == nullptr || at == text || strlen(value) >= sizeof text)
        command_usage_error("invalid value for --stamp: '%s'. Must be KIND@ADDRESS[,range=RANGE][,endian=little|big]"
                            "[,width=N][,value=V]", value);
    *at = '\0';
    stamp_t stamp;
    if (!take_kind(text, &stamp))
        command_usage_error("unknown stamp '%s'. Did you mean '%s'? '%s --stamp list' lists every one", text,
                            nearest_name(text, stamp_name), command_name());
    char *field = strtok(at + 1, ",");
    stamp.at = read_address("--stamp", field == nullptr ? "" : field);
    bool value_given = false, width_given = false;
    while ((field = strtok(nullptr, ",")) != nullptr) {
        const char *equals = strchr(field, '=');
        const char *setting = equals == nullptr ? "" : equals + 1;
        if (strncmp(field, "range=", 6) == 0 && stamp.kind != STAMP_CONST) {
            read_range("--stamp range=", setting, &stamp.first, &stamp.last);
            stamp.range_given = true;
        } else if (strncmp(field, "endian=", 7) == 0 && stamp.kind != STAMP_SHA256) {
            stamp.big_endian = read_big_endian("--stamp endian=", setting);
        } else if (strncmp(field, "width=", 6) == 0 && (is_sum(&stamp) || stamp.kind >= STAMP_LENGTH)) {
            stamp.width = read_bounded("--stamp width=", setting, 1, 8);
            width_given = true;
        } else if (strncmp(field, "value=", 6) == 0 && stamp.kind == STAMP_CONST) {
            const char *end;
            stamp.value = qkit_parse_unsigned(setting, &end);
            if (*end != '\0' || end == setting || setting[0] == '-')
                command_usage_error("invalid value for --stamp value=: '%s'. Must be a number", setting);
            value_given = true;
        } else if (known_setting(field)) {
            command_usage_error("%.*s does not go with %s stamps", int(equals - field + 1), field, stamp.name);
        } else {
            char name[64];
            snprintf(name, sizeof name, "%.*s", int(equals != nullptr ? equals - field : strlen(field)), field);
            command_usage_error("unknown setting '%s' in --stamp: did you mean '%s'?", name,
                                nearest_name(name, setting_name));
        }
    }
    for (const auto &k : kinds)
        if (k.kind == stamp.kind && width_given &&
            std::find(std::begin(k.widths), std::end(k.widths), stamp.width) == std::end(k.widths))
            command_usage_error("a %s stamp is %s bytes wide, not %u", k.name,
                                k.kind == STAMP_CONST ? "1, 2, 4 or 8" : "1, 2 or 4", stamp.width);
    if (stamp.kind == STAMP_CONST && !value_given)
        command_usage_error("a const stamp needs value=, the number it stores");
    if (stamp.kind == STAMP_CONST && stamp.width < 8 && stamp.value >> (8 * stamp.width) != 0)
        command_usage_error("the value %llu does not fit the %u %s of the const stamp at %08Xh",
                            static_cast<unsigned long long>(stamp.value), stamp.width,
                            plural(stamp.width, "byte", "bytes"), stamp.at);
    *grow_or_die(&slot->stamps) = stamp;
}

void slot_read_option(slot_t *slot, int option, const char *value)
{
    switch (option) {
    case SLOT_FILL: {
        fill_t *fill = grow_or_die(&slot->fills);
        read_range("--fill", value, &fill->first, &fill->last);
        break;
    }
    case SLOT_PAD:
        slot->pad = uint8_t(read_bounded("--pad", value, 0, 0xFF));
        slot->pad_given = true;
        break;
    case SLOT_STAMP:
        if (strcmp(value, "list") == 0) {
            for (const auto &k : kinds)
                printf("%-20s %s\n", k.name, k.text);
            list_crcs();
            exit(0);
        }
        read_stamp(slot, value);
        break;
    case SLOT_CRC: {
        if (strcmp(value, "list") == 0) {
            list_crcs();
            exit(0);
        }
        stamp_t stamp;
        if (!take_kind(value, &stamp) || stamp.kind > STAMP_STM32)
            command_usage_error("unknown CRC '%s'. Did you mean '%s'? '%s --crc list' lists every one", value,
                                nearest_name(value, crc_name), command_name());
        slot->crc_name = value;
        break;
    }
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

const char *slot_stamp_label(const stamp_t *stamp, char (&text)[64])
{
    if (stamp->crc_options)
        return "the CRC";
    snprintf(text, sizeof text, "the %s stamp", stamp->name);
    return text;
}

const char *slot_range_option(const stamp_t *stamp)
{
    return stamp->crc_options ? "--crc-range" : "range=";
}

const char *slot_last_included(const char *option, uint32_t first, uint32_t last, char (&text)[194])
{
    char hint[192];
    snprintf(text, sizeof text, "%s%s", range_end_hint(option, first, last, hint)[0] != '\0' ? "; " : "", hint);
    return text;
}

void slot_check_words(const stamp_t *stamp, void (*fail)(const char *format, ...))
{
    uint64_t size = uint64_t(stamp->last) + 1 - stamp->first;
    if (stamp->kind == STAMP_STM32 && size % 4 != 0)
        fail("STM32 computes over whole 32-bit words, and %08Xh - %08Xh holds %llu bytes", stamp->first, stamp->last,
             static_cast<unsigned long long>(size));
}

static void check_reach(const char *what, uint64_t last, ihex_address_mode_t mode)
{
    if (!address_mode_reaches(mode, last))
        command_usage_error("%s reaches beyond %08Xh, the highest address of the %s mode", what,
                            address_mode_limit(mode), address_mode_name(mode));
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
    if (slot->pad_given && slot->fills.count == 0 && !pads_gaps)
        command_usage_error("--pad needs --fill: it is the byte that fills the range");
    if (!slot->pad_given)
        slot->pad = 0xFF;
    if (slot->crc_name != nullptr && !slot->crc_at_given)
        command_usage_error("--crc needs --crc-at, the address where the CRC goes");
    const char *without_crc = slot->crc_at_given ? "--crc-at" : slot->crc_range_given ? "--crc-range"
                              : slot->crc_endian_given ? "--crc-endian" : nullptr;
    if (slot->crc_name == nullptr && without_crc != nullptr)
        command_usage_error("%s needs --crc, the CRC to compute", without_crc);
    if (slot->crc_name != nullptr) { // the last stamp
        stamp_t *stamp = grow_or_die(&slot->stamps);
        take_kind(slot->crc_name, stamp);
        stamp->crc_options = true;
        stamp->at = slot->crc_at;
        stamp->range_given = slot->crc_range_given;
        stamp->first = slot->crc_first;
        stamp->last = slot->crc_last;
        stamp->big_endian = slot->crc_big_endian;
    }
    const growing_t<fill_t> &fills = slot->fills;
    for (size_t i = 0; i < fills.count; i++) {
        check_reach("--fill", fills.items[i].last, mode);
        for (size_t j = 0; j < i; j++)
            if (fills.items[i].first <= fills.items[j].last && fills.items[j].first <= fills.items[i].last) {
                char hint[194];
                command_usage_error("the fill ranges %08Xh - %08Xh and %08Xh - %08Xh overlap%s", fills.items[j].first,
                                    fills.items[j].last, fills.items[i].first, fills.items[i].last,
                                    slot_last_included("--fill", fills.items[j].first, fills.items[j].last, hint));
            }
    }
    for (size_t i = 0; i < slot->stamps.count; i++) {
        stamp_t *stamp = &slot->stamps.items[i];
        char label[64], other[64];
        uint64_t end = uint64_t(stamp->at) + stamp->width;
        if (end - 1 > 0xFFFFFFFF)
            command_usage_error("the %u %s of %s at %08Xh would pass FFFFFFFFh", stamp->width,
                                plural(stamp->width, "byte", "bytes"), slot_stamp_label(stamp, label), stamp->at);
        check_reach(slot_stamp_label(stamp, label), end - 1, mode);
        for (size_t j = 0; j < i; j++) {
            const stamp_t *before = &slot->stamps.items[j];
            if (stamp->at < uint64_t(before->at) + before->width && before->at < end)
                command_usage_error("%s at %08Xh and %s at %08Xh overlap", slot_stamp_label(before, other),
                                    before->at, slot_stamp_label(stamp, label), stamp->at);
        }
        if (!stamp->range_given && stamp->kind != STAMP_CONST)
            take_fill_as_range(slot, stamp);
        if (!stamp->range_given || stamp->kind == STAMP_CONST)
            continue;
        check_reach(slot_range_option(stamp), stamp->last, mode);
        char hint[194];
        if (stamp->at <= stamp->last && end > stamp->first)
            command_usage_error("%s at %08Xh lies inside its own range %08Xh - %08Xh%s", slot_stamp_label(stamp, label),
                                stamp->at, stamp->first, stamp->last,
                                slot_last_included(slot_range_option(stamp), stamp->first, stamp->last, hint));
        slot_check_words(stamp, command_usage_error);
    }
}

void slot_free(slot_t *slot)
{
    free(slot->fills.items);
    free(slot->stamps.items);
}
