// SPDX-License-Identifier: MIT
// mcuboot_options.cpp: --mcuboot's slot and settings, each checked.
#include "merge/mcuboot.h"

#include "cli/command.h"
#include "cli/suggest.h"
#include "cli/values.h"
#include "quillkit.h"

#include <cstdio>
#include <cstring>
#include <iterator>

static const char *const settings[] = {"version", "header", "key", "public-key", "signature", "digest",
                                       "align", "max-align", "max-sectors", "pad", "confirm", "test",
                                       "overwrite-only", "load-address", "security-counter", "endian", "erased"};

static const char *setting_name(size_t index)
{
    return index < std::size(settings) ? settings[index] : nullptr;
}

// "MAJ[.MIN[.REV[+BUILD]]]", each part a decimal number of its width.
static void read_version(mcuboot_t *mcuboot, const char *text)
{
    unsigned long long parts[4] = {};
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        const char *end;
        parts[i] = qkit_parse_unsigned(p, &end);
        bool digits = end != p && p[0] >= '0' && p[0] <= '9';
        uint64_t most = i < 2 ? 0xFF : i == 2 ? 0xFFFF : 0xFFFFFFFF;
        if (!digits || parts[i] > most)
            command_usage_error("invalid value for --mcuboot version=: '%s'. Must be MAJ.MIN.REV+BUILD, major and "
                                "minor 0 to 255, revision to 65535", text);
        p = end;
        if (*p == '\0')
            break;
        if (*p != (i == 2 ? '+' : '.') || i == 3)
            command_usage_error("invalid value for --mcuboot version=: '%s'. Must be MAJ.MIN.REV+BUILD", text);
        p++;
    }
    mcuboot->major = uint8_t(parts[0]);
    mcuboot->minor = uint8_t(parts[1]);
    mcuboot->revision = uint16_t(parts[2]);
    mcuboot->build = uint32_t(parts[3]);
}

void mcuboot_read(mcuboot_t *mcuboot, const char *value)
{
    *mcuboot = mcuboot_t{};
    mcuboot->given = true;
    mcuboot->header_size = 0x200;
    mcuboot->align = 1;
    mcuboot->max_sectors = 128;
    mcuboot->erased = 0xFF;
    static char text[3 * 4096]; // the file names stay in it: --mcuboot is given once
    if (strlen(value) >= sizeof text)
        command_usage_error("invalid value for --mcuboot: '%.64s...'. It is longer than any", value);
    snprintf(text, sizeof text, "%s", value);
    char *field = strtok(text, ",");
    read_range("--mcuboot", field != nullptr ? field : "", &mcuboot->first, &mcuboot->last);
    bool version_given = false;
    while ((field = strtok(nullptr, ",")) != nullptr) {
        char *equals = strchr(field, '=');
        const char *setting = equals != nullptr ? equals + 1 : nullptr;
        if (equals != nullptr)
            *equals = '\0';
        auto is = [&](const char *name, bool takes_value) {
            if (strcmp(field, name) != 0)
                return false;
            if (takes_value != (setting != nullptr))
                command_usage_error(takes_value ? "--mcuboot %s= needs a value" : "--mcuboot %s takes no value", name);
            return true;
        };
        if (is("version", true)) {
            read_version(mcuboot, setting);
            version_given = true;
        } else if (is("header", true)) {
            mcuboot->header_size = read_bounded("--mcuboot header=", setting, 32, 0xFFFF);
        } else if (is("key", true)) {
            mcuboot->key_path = setting;
        } else if (is("public-key", true)) {
            if (strcmp(setting, "hash") != 0 && strcmp(setting, "full") != 0)
                command_usage_error("invalid value for --mcuboot public-key=: '%s'. Must be hash or full", setting);
            mcuboot->full_public_key = strcmp(setting, "full") == 0;
        } else if (is("signature", true)) {
            mcuboot->signature_path = setting;
        } else if (is("digest", true)) {
            mcuboot->digest_path = setting;
        } else if (is("align", true)) {
            mcuboot->align = read_power_of_two("--mcuboot align=", setting, 1, 32);
        } else if (is("max-align", true)) {
            mcuboot->max_align = read_power_of_two("--mcuboot max-align=", setting, 1, 32);
        } else if (is("max-sectors", true)) {
            mcuboot->max_sectors = read_bounded("--mcuboot max-sectors=", setting, 1, 0xFFFF);
        } else if (is("pad", false)) {
            mcuboot->pad = true;
        } else if (is("confirm", false)) {
            mcuboot->confirm = mcuboot->pad = true;
        } else if (is("test", false)) {
            mcuboot->test = mcuboot->pad = true;
        } else if (is("overwrite-only", false)) {
            mcuboot->overwrite_only = true;
        } else if (is("load-address", true)) {
            mcuboot->load_address = read_address("--mcuboot load-address=", setting);
            mcuboot->load_address_given = true;
        } else if (is("security-counter", true)) {
            mcuboot->counter_given = true;
            mcuboot->counter_auto = strcmp(setting, "auto") == 0;
            if (!mcuboot->counter_auto)
                mcuboot->counter = read_address("--mcuboot security-counter=", setting);
        } else if (is("endian", true)) {
            mcuboot->big_endian = read_big_endian("--mcuboot endian=", setting);
        } else if (is("erased", true)) {
            mcuboot->erased = uint8_t(read_bounded("--mcuboot erased=", setting, 0, 0xFF));
            if (mcuboot->erased != 0 && mcuboot->erased != 0xFF)
                command_usage_error("invalid value for --mcuboot erased=: '%s'. Must be 0x00 or 0xFF", setting);
        } else {
            command_usage_error("unknown setting '%s' in --mcuboot: did you mean '%s'?", field,
                                nearest_name(field, setting_name));
        }
    }
    if (!version_given)
        command_usage_error("--mcuboot needs version=, the image's version: version=1.0.0");
    if (mcuboot->confirm && mcuboot->test)
        command_usage_error("--mcuboot confirm and test exclude each other");
    if (mcuboot->max_align == 0)
        mcuboot->max_align = mcuboot->align > 8 ? mcuboot->align : 8;
    if (mcuboot->max_align < mcuboot->align)
        command_usage_error("--mcuboot max-align=%u is below align=%u", mcuboot->max_align, mcuboot->align);
    if (mcuboot->header_size % 4 != 0 || uint64_t(mcuboot->first) + mcuboot->header_size > mcuboot->last)
        command_usage_error("--mcuboot header=%u: the header is a multiple of 4 bytes, and the slot holds more",
                            mcuboot->header_size);
    if (mcuboot->signature_path != nullptr && mcuboot->key_path == nullptr)
        command_usage_error("--mcuboot signature= needs key=, the public key it is checked with");
    if (mcuboot->counter_auto)
        mcuboot->counter = uint32_t(mcuboot->major) << 24 | uint32_t(mcuboot->minor) << 16 | mcuboot->revision;
}
