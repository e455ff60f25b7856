// SPDX-License-Identifier: MIT
// uf2_family.cpp: Microsoft's list of UF2 families, and a family read from
// the command line by name or number.
#include "outputs/uf2_family.h"

#include "cli/command.h"
#include "cli/suggest.h"
#include "quillkit.h"

#include <cstdio>
#include <cstdlib>
#include <strings.h>

// Microsoft's list of UF2 families, by their short names.
const uf2_family_t uf2_families[] = {
    {"ATMEGA32", 0x16573617},    {"SAML21", 0x1851780A},      {"NRF52", 0x1B57745F},
    {"ESP32", 0x1C5F21B0},       {"STM32L1", 0x1E1F432D},     {"STM32L0", 0x202E3A91},
    {"STM32WL", 0x21460FF0},     {"LPC55", 0x2ABC77EC},       {"STM32G0", 0x300F5633},
    {"GD32F350", 0x31D228C6},    {"STM32L5", 0x04240BDF},     {"STM32G4", 0x4C71240A},
    {"MIMXRT10XX", 0x4FB2D5BD},  {"STM32F7", 0x53B80F00},     {"SAMD51", 0x55114460},
    {"STM32F4", 0x57755A57},     {"FX2", 0x5A18069B},         {"STM32F2", 0x5D1A0A2E},
    {"STM32F1", 0x5EE21072},     {"NRF52833", 0x621E937A},    {"STM32F0", 0x647824B6},
    {"SAMD21", 0x68ED2B88},      {"STM32F3", 0x6B846188},     {"STM32F407", 0x6D0922FA},
    {"STM32H7", 0x6DB66082},     {"STM32WB", 0x70D16653},     {"ESP8266", 0x7EAB61ED},
    {"KL32L2", 0x7F83E793},      {"STM32F407VG", 0x8FB060FE}, {"NRF52840", 0xADA52840},
    {"ESP32S2", 0xBFDD4EEE},     {"ESP32S3", 0xC47E5767},     {"ESP32C3", 0xD42BA06C},
    {"ESP32C2", 0x2B88D29C},     {"ESP32H2", 0x332726F6},     {"ESP32C6", 0x540DDF62},
    {"ESP32P4", 0x3D308E94},     {"BL602", 0xDE1270B7},       {"RTL8720D", 0xE08F7564},
    {"RP2040", 0xE48BFF56},      {"RP2XXX_ABSOLUTE", 0xE48BFF57}, {"RP2XXX_DATA", 0xE48BFF58},
    {"RP2350_ARM_S", 0xE48BFF59}, {"RP2350_RISCV", 0xE48BFF5A}, {"RP2350_ARM_NS", 0xE48BFF5B},
    {"STM32L4", 0x00FF6919},     {"GD32VF103", 0x9AF03E33},   {"RA4M1", 0x7BE8976D},
    {"CSK4", 0x4F6ACE52},        {"CSK6", 0x6E7348A8},        {"M0SENSE", 0x11DE784A},
    {nullptr, 0},
};

const uf2_family_t *uf2_family_find(const char *name)
{
    for (const uf2_family_t *family = uf2_families; family->name != nullptr; family++)
        if (strcasecmp(family->name, name) == 0)
            return family;
    return nullptr;
}

// The names of the families, for a misspelt one.
static const char *family_name(size_t index)
{
    return uf2_families[index].name;
}

void uf2_family_read(const char *value, const char **name, uint32_t *id)
{
    const uf2_family_t *family = uf2_family_find(value);
    const char *end;
    uint64_t number = qkit_parse_unsigned(value, &end);
    if (family == nullptr && (*end != '\0' || end == value || number > 0xFFFFFFFF))
        command_usage_error("unknown UF2 family '%s'. Did you mean '%s'? '%s --uf2-family list' lists every one",
                            value, nearest_name(value, family_name), command_name());
    *id = family != nullptr ? family->id : uint32_t(number);
    for (family = uf2_families; family->name != nullptr && family->id != *id; family++) {
    }
    *name = family->name;
}

void uf2_list_families()
{
    for (const uf2_family_t *family = uf2_families; family->name != nullptr; family++)
        printf("%-16s 0x%08X\n", family->name, family->id);
    exit(0);
}
