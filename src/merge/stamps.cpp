// SPDX-License-Identifier: MIT
// stamps.cpp: stamps by kind and by name, read from the command line, and
// the checks of where each goes and what it covers.
#include "merge/stamps.h"

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

// The kinds of stamp besides the CRCs: their names, byte widths (the first
// the default) and what --stamp list says of them.
static const struct {
    const char *name;
    stamp_kind_t kind;
    uint32_t widths[4];
    const char *text;
} kinds[] = {
    {"sum", STAMP_SUM, {1, 2, 4}, "the sum of the range's bytes (or of its unit= 2- or 4-byte words, read in "
                                  "endian= order), kept to width= bytes (1, 2 or 4; the unit)"},
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

bool stamp_take_kind(const char *name, stamp_t *stamp)
{
    *stamp = stamp_t{};
    stamp->align = stamp->unit = 1;
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

static const char *const settings[] = {"range", "endian", "width", "value", "align", "unit"};

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

// A stamp's range=: FIRST:LAST or FIRST+SIZE, or FIRST:end, up to the last
// byte any input gives.
static void read_stamp_range(stamp_t *stamp, const char *text)
{
    const char *colon = strrchr(text, ':');
    stamp->range_given = true;
    if (colon != nullptr && strcmp(colon, ":end") == 0) {
        char first[64];
        snprintf(first, sizeof first, "%.*s", int(colon - text), text);
        stamp->first = read_address("--stamp range=", first);
        stamp->to_end = true;
        return;
    }
    read_range("--stamp range=", text, &stamp->first, &stamp->last);
}

// "KIND@ADDRESS[,range=RANGE][,endian=little|big][,width=N][,value=V]"; the
// ADDRESS may be "after", with align=.
void stamp_read(slot_t *slot, const char *value)
{
    char text[512];
    snprintf(text, sizeof text, "%s", value);
    char *at = strchr(text, '@');
    if (at == nullptr || at == text || strlen(value) >= sizeof text)
        command_usage_error("invalid value for --stamp: '%s'. Must be KIND@ADDRESS[,range=RANGE][,endian=little|big]"
                            "[,width=N][,value=V]", value);
    *at = '\0';
    stamp_t stamp;
    if (!stamp_take_kind(text, &stamp))
        command_usage_error("unknown stamp '%s'. Did you mean '%s'? '%s --stamp list' lists every one", text,
                            nearest_name(text, stamp_name), command_name());
    char *field = strtok(at + 1, ",");
    stamp.after = field != nullptr && strcmp(field, "after") == 0;
    stamp.placed = !stamp.after;
    stamp.at = stamp.after ? 0 : read_address("--stamp", field == nullptr ? "" : field);
    bool value_given = false, width_given = false;
    while ((field = strtok(nullptr, ",")) != nullptr) {
        const char *equals = strchr(field, '=');
        const char *setting = equals == nullptr ? "" : equals + 1;
        if (strncmp(field, "range=", 6) == 0 && stamp.kind != STAMP_CONST) {
            read_stamp_range(&stamp, setting);
        } else if (strncmp(field, "align=", 6) == 0 && stamp.after) {
            stamp.align = read_power_of_two("--stamp align=", setting, 1, 4096);
        } else if (strncmp(field, "unit=", 5) == 0 && is_sum(&stamp)) {
            stamp.unit = read_power_of_two("--stamp unit=", setting, 1, 4);
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
        } else if (strncmp(field, "align=", 6) == 0 && !stamp.after) {
            command_usage_error("align= goes with a stamp at after, the first address past the data");
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
    if (is_sum(&stamp) && !width_given)
        stamp.width = stamp.unit;
    if (is_sum(&stamp) && stamp.width < stamp.unit)
        command_usage_error("a sum of %u-byte words is kept in %u bytes or more, not %u", stamp.unit, stamp.unit,
                            stamp.width);
    if (stamp.kind == STAMP_CONST && !value_given)
        command_usage_error("a const stamp needs value=, the number it stores");
    if (stamp.kind == STAMP_CONST && stamp.width < 8 && stamp.value >> (8 * stamp.width) != 0)
        command_usage_error("the value %llu does not fit the %u %s of the const stamp at %08Xh",
                            static_cast<unsigned long long>(stamp.value), stamp.width,
                            plural(stamp.width, "byte", "bytes"), stamp.at);
    *grow_or_die(&slot->stamps) = stamp;
}

void stamp_list(bool crcs_only)
{
    for (size_t k = 0; k < std::size(kinds) && !crcs_only; k++)
        printf("%-20s %s\n", kinds[k].name, kinds[k].text);
    list_crcs();
    exit(0);
}

void stamp_check_crc_name(const char *name)
{
    stamp_t stamp;
    if (!stamp_take_kind(name, &stamp) || stamp.kind > STAMP_STM32)
        command_usage_error("unknown CRC '%s'. Did you mean '%s'? '%s --crc list' lists every one", name,
                            nearest_name(name, crc_name), command_name());
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
    if (stamp->unit > 1 && size % stamp->unit != 0)
        fail("%s adds %u-byte words, and %08Xh - %08Xh holds %llu bytes", stamp->name, stamp->unit, stamp->first,
             stamp->last, static_cast<unsigned long long>(size));
}

static void check_reach(const char *what, uint64_t last, ihex_address_mode_t mode, void (*fail)(const char *, ...))
{
    if (!address_mode_reaches(mode, last))
        fail("%s reaches beyond %08Xh, the highest address of the %s mode", what, address_mode_limit(mode),
             address_mode_name(mode));
}

void slot_check_reach(const char *what, uint64_t last, ihex_address_mode_t mode)
{
    check_reach(what, last, mode, command_usage_error);
}

void stamp_check(const slot_t *slot, size_t index, bool range_known, void (*fail)(const char *format, ...))
{
    const stamp_t *stamp = &slot->stamps.items[index];
    char label[64], other[64], hint[194];
    uint64_t end = uint64_t(stamp->at) + stamp->width;
    if (end - 1 > 0xFFFFFFFF)
        fail("the %u %s of %s at %08Xh would pass FFFFFFFFh", stamp->width, plural(stamp->width, "byte", "bytes"),
             slot_stamp_label(stamp, label), stamp->at);
    check_reach(slot_stamp_label(stamp, label), end - 1, slot->mode, fail);
    for (size_t j = 0; j < slot->stamps.count; j++) {
        const stamp_t *placed = &slot->stamps.items[j];
        if (j == index || (placed->after && !placed->placed) || (j > index && !stamp->after))
            continue;
        const stamp_t *before = j < index ? placed : stamp, *later = j < index ? stamp : placed;
        if (stamp->at < uint64_t(placed->at) + placed->width && placed->at < end)
            fail("%s at %08Xh and %s at %08Xh overlap", slot_stamp_label(before, other), before->at,
                 slot_stamp_label(later, label), later->at);
    }
    if (!range_known || stamp->kind == STAMP_CONST)
        return;
    check_reach(slot_range_option(stamp), stamp->last, slot->mode, fail);
    if (stamp->at <= stamp->last && end > stamp->first)
        fail("%s at %08Xh lies inside its own range %08Xh - %08Xh%s", slot_stamp_label(stamp, label), stamp->at,
             stamp->first, stamp->last, slot_last_included(slot_range_option(stamp), stamp->first, stamp->last, hint));
    slot_check_words(stamp, fail);
}
