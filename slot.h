// SPDX-License-Identifier: MIT
// slot.h: a flash slot for tesslar-merge: the merged data, a range filled
// with a pad byte where no input gives one, and a CRC of a range stored at a
// fixed address, all laid out as pieces in address order for the writer.
#pragma once

#include "ihex.h"
#include "quillkit.h"

#include <cstddef>
#include <cstdint>

// A run of the output: `bytes`, or the pad byte throughout when it is null.
// `end` is one past the last address, so a piece may end at 2^32.
struct slot_piece_t {
    uint32_t address;
    uint64_t end;
    const uint8_t *bytes;
};

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
    slot_piece_t *pieces; // in address order, none overlapping
    size_t piece_count;
};

// The slot's options, all of which take a value: getopt_long codes for a
// command's table of options, which hands them to slot_read_option.
enum slot_option_t { SLOT_FILL = 0x100, SLOT_PAD, SLOT_CRC, SLOT_CRC_AT, SLOT_CRC_RANGE, SLOT_CRC_ENDIAN };
#define SLOT_OPTIONS                                                                                              \
    {"fill", required_argument, nullptr, SLOT_FILL}, {"pad", required_argument, nullptr, SLOT_PAD},                 \
        {"crc", required_argument, nullptr, SLOT_CRC}, {"crc-at", required_argument, nullptr, SLOT_CRC_AT},         \
        {"crc-range", required_argument, nullptr, SLOT_CRC_RANGE},                                                  \
        {"crc-endian", required_argument, nullptr, SLOT_CRC_ENDIAN}

// Reads one slot option and its value; a bad value is a usage error.
void slot_read_option(slot_t *slot, int option, const char *value);

// What "--crc list" prints: every CRC a slot may have, with its parameters;
// ends the run.
[[noreturn]] void slot_list_crcs();

// The checks that need every option: what goes with what, and what the mode
// reaches; each failure is a usage error. Without --crc-range, the CRC of a
// filled slot covers the fill before or after it.
void slot_check_options(slot_t *slot, ihex_address_mode_t mode);

// The CRC's own bytes: [crc_at, crc_at + width / 8); empty without a CRC.
uint64_t slot_crc_end(const slot_t *slot);

/*
 * Lays out the output from `count` data blocks in address order (none
 * overlapping, none on the CRC's bytes): the blocks, the fill where they
 * leave gaps, and the CRC, which it computes. Prints what it filled and the
 * CRC. A hole in the CRC's range is fatal. Frees nothing: slot_free does.
 */
void slot_build(slot_t *slot, const slot_piece_t *blocks, size_t count);

// The bytes of [address, address + size), which the pieces must cover:
// a pointer into a piece when one holds them all, else a copy in `scratch`.
// `cursor` starts at 0; calls go up in address order.
const uint8_t *slot_bytes(const slot_t *slot, size_t *cursor, uint64_t address, uint64_t size, uint8_t *scratch);

void slot_free(slot_t *slot);
