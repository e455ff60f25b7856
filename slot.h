// SPDX-License-Identifier: MIT
// slot.h: a flash slot for tesslar-merge: a range filled with a pad byte
// where no input gives one, and a CRC of a range stored at a fixed address,
// laid out over the image's view for the writer.
#pragma once

#include "ihex.h"
#include "image.h"
#include "inputs.h"
#include "quillkit.h"

#include <cstddef>
#include <cstdint>

struct slot_t {
    // From the command line.
    bool fill;
    uint32_t fill_first, fill_last;
    bool pad_given;
    uint8_t pad;
    const qkit_crc_t *crc; // null for no CRC
    bool stm32;           // CRC-32/MPEG-2 over 32-bit little-endian words
    bool crc_at_given;
    uint32_t crc_at;
    bool range_given;
    uint32_t range_first, range_last;
    bool endian_given, big_endian;

    // Laid out by slot_build.
    uint64_t crc_first, crc_end; // the bytes the CRC covers
    uint32_t crc_value;
    uint8_t crc_bytes[4];
};

// The slot's options, all of which take a value: getopt_long codes for a
// command's table of options, which hands them to slot_read_option.
enum slot_option_t { SLOT_FILL = 0x100, SLOT_PAD, SLOT_CRC, SLOT_CRC_AT, SLOT_CRC_RANGE, SLOT_CRC_ENDIAN };
#define SLOT_OPTIONS                                                                                              \
    {"fill", required_argument, nullptr, SLOT_FILL}, {"pad", required_argument, nullptr, SLOT_PAD},                 \
        {"crc", required_argument, nullptr, SLOT_CRC}, {"crc-at", required_argument, nullptr, SLOT_CRC_AT},         \
        {"crc-range", required_argument, nullptr, SLOT_CRC_RANGE},                                                  \
        {"crc-endian", required_argument, nullptr, SLOT_CRC_ENDIAN}

// slot_options.cpp: reading the options.

// Reads one slot option and its value; a bad value is a usage error.
void slot_read_option(slot_t *slot, int option, const char *value);

// What "--crc list" prints: every CRC a slot may have, with its parameters;
// ends the run.
[[noreturn]] void slot_list_crcs();

// The checks that need every option: what goes with what, and what the mode
// reaches; each failure is a usage error. --pad goes with --fill, or with
// an output that pads its gaps (`pads_gaps`). Without --crc-range, the CRC
// of a filled slot covers the fill before or after it.
void slot_check_options(slot_t *slot, ihex_address_mode_t mode, bool pads_gaps);

// The CRC's own bytes: [crc_at, crc_at + width / 8); empty without a CRC.
uint64_t slot_crc_end(const slot_t *slot);
// Its name as the report gives it.
const char *slot_crc_name(const slot_t *slot);
// The CRC unit of an STM32 takes whole words: what is wrong when the range
// [first, end) is not, else null.
const char *slot_not_whole_words(const slot_t *slot, uint64_t first, uint64_t end, char (&text)[128]);

// slot.cpp: the layout.

// An input byte may not lie where the CRC goes: the first block in address
// order that reaches into it is named.
void slot_check_place(const slot_t *slot, const image_t *image, const input_t *inputs);

/*
 * Lays the fill and the CRC out over `view`, which holds the data in address
 * order (none overlapping, none on the CRC's bytes): the fill where the data
 * leaves gaps, then the CRC, which it computes over the view. Prints what it
 * filled and the CRC. A hole in the CRC's range is fatal. The view keeps
 * pointers into *slot.
 */
void slot_build(slot_t *slot, image_view_t *view);
