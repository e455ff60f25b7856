// SPDX-License-Identifier: MIT
// values.cpp: numbers, ranges, byte orders and address modes read from the
// command line.
#include "cli/values.h"

#include "cli/command.h"
#include "quillkit.h"

#include <cstdio>
#include <cstring>

[[noreturn]] static void bad_value(const char *option, const char *text, const char *what)
{
    command_usage_error("invalid value for %s: '%s'. %s", option, text, what);
}

// A number that fills [text, end) exactly.
static bool read_number(const char *text, const char *end, uint64_t *value)
{
    const char *used;
    *value = qkit_parse_unsigned(text, &used);
    return used == end && used != text;
}

uint32_t read_address(const char *option, const char *text)
{
    uint64_t value;
    if (!read_number(text, text + strlen(text), &value) || value > 0xFFFFFFFF)
        bad_value(option, text, "Must be an address from 0 to FFFFFFFFh");
    return uint32_t(value);
}

uint32_t read_bounded(const char *option, const char *text, uint32_t low, uint32_t high)
{
    uint64_t value;
    if (!read_number(text, text + strlen(text), &value) || value < low || value > high) {
        char must[64];
        snprintf(must, sizeof must, "Must be %u to %u", low, high);
        bad_value(option, text, must);
    }
    return uint32_t(value);
}

uint32_t read_power_of_two(const char *option, const char *text, uint32_t low, uint32_t high)
{
    uint32_t value = read_bounded(option, text, low, high);
    if ((value & (value - 1)) == 0)
        return value;
    char must[64] = "Must be a power of two up to ";
    if (high / low > 8) {
        snprintf(must + strlen(must), sizeof must - strlen(must), "%u", high);
    } else {
        snprintf(must, sizeof must, "Must be %u", low);
        for (uint32_t v = 2 * low; v <= high; v *= 2)
            snprintf(must + strlen(must), sizeof must - strlen(must), "%s%u", v == high ? " or " : ", ", v);
    }
    bad_value(option, text, must);
}

void read_range(const char *option, const char *text, uint32_t *first, uint32_t *last)
{
    // a leading '+' would be the sign of the first number
    const char *colon = strchr(text, ':'), *plus = text[0] != '\0' ? strchr(text + 1, '+') : nullptr;
    const char *separator = colon != nullptr ? colon : plus;
    uint64_t a, b;
    if (separator == nullptr || !read_number(text, separator, &a) ||
        !read_number(separator + 1, separator + 1 + strlen(separator + 1), &b) || a > 0xFFFFFFFF ||
        b > (separator == colon ? 0xFFFFFFFF : uint64_t(1) << 32))
        bad_value(option, text, "Must be <first>:<last> or <first>+<size>, addresses of 32 bits");
    if (separator == plus && b == 0)
        bad_value(option, text, "The size must be above 0");
    uint64_t end = separator == colon ? b : a + b - 1;
    if (end > 0xFFFFFFFF)
        bad_value(option, text, "The range passes FFFFFFFFh");
    if (a > end)
        bad_value(option, text, "The first address is above the last");
    *first = uint32_t(a);
    *last = uint32_t(end);
    char hint[192];
    if (separator == colon && range_end_hint(option, *first, *last, hint)[0] != '\0')
        command_warning("%s", hint);
}

const char *range_end_hint(const char *option, uint32_t first, uint32_t last, char (&text)[192])
{
    text[0] = '\0';
    if (first % 0x100 == 0 && last % 0x100 == 0 && last > first) {
        const char *space = option[strlen(option) - 1] == '=' ? "" : " ";
        snprintf(text, sizeof text, "%s%s0x%08X:0x%08X includes %08Xh; did you mean 0x%08X:0x%08X (0x%08X+0x%X)?",
                 option, space, first, last, last, first, last - 1, first, last - first);
    }
    return text;
}

bool read_big_endian(const char *option, const char *text)
{
    if (strcmp(text, "little") != 0 && strcmp(text, "big") != 0)
        bad_value(option, text, "Must be little or big");
    return strcmp(text, "big") == 0;
}

static const char *const address_mode_names[] = {"16bit", "segment", "linear"};

ihex_address_mode_t read_address_mode(const char *text)
{
    for (uint32_t mode = IHEX_ADDRESS_MODE_16BIT; mode <= IHEX_ADDRESS_MODE_LINEAR; mode++)
        if (strcmp(text, address_mode_names[mode - 1]) == 0)
            return ihex_address_mode_t(mode);
    bad_value("--mode", text, "Must be 16bit, segment or linear");
}

const char *address_mode_name(ihex_address_mode_t mode)
{
    return address_mode_names[mode - 1];
}

uint32_t address_mode_limit(ihex_address_mode_t mode)
{
    return mode == IHEX_ADDRESS_MODE_16BIT ? 0xFFFF : mode == IHEX_ADDRESS_MODE_SEGMENT ? 0xFFFFF : 0xFFFFFFFF;
}

bool address_mode_reaches(ihex_address_mode_t mode, uint64_t last)
{
    return last <= address_mode_limit(mode);
}

void check_start_address(ihex_address_mode_t mode, uint32_t start_address)
{
    if (mode == IHEX_ADDRESS_MODE_16BIT)
        command_usage_error("--start needs --mode segment or linear: the 16bit mode has no start address record");
    if (!address_mode_reaches(mode, start_address))
        command_usage_error("--start %08Xh lies beyond 000FFFFFh, the highest address of the segment mode",
                            start_address);
}
