// SPDX-License-Identifier: MIT
// slot.h: flash slots for tesslar-merge: ranges filled with a pad byte where
// no input gives one, and stamps (CRCs, sums, Adler-32, SHA-256, lengths,
// constants) computed over ranges and stored at fixed addresses, laid out
// over the image's view for the writers.
#pragma once

#include "ihex.h"
#include "image/growing.h"
#include "image/image.h"
#include "inputs/inputs.h"
#include "quillkit.h"

#include <cstddef>
#include <cstdint>

// What a stamp stores.
enum stamp_kind_t { STAMP_CRC, STAMP_STM32, STAMP_SUM, STAMP_SUM_NEG, STAMP_SUM_NOT, STAMP_ADLER32, STAMP_SHA256,
                    STAMP_LENGTH, STAMP_CONST };

struct stamp_t {
    stamp_kind_t kind;
    const qkit_crc_t *crc; // a CRC's; STM32's is CRC-32/MPEG-2 over words read little-endian
    const char *name;      // the kind's name, as the report gives it
    bool crc_options;      // given by --crc and its companions, not --stamp
    uint32_t at, width;    // its bytes: `width` of them from `at`
    bool after, placed;    // at "after": the first address past the data, rounded up to `align`; once found, placed
    uint32_t align;
    bool range_given;
    bool to_end;           // a range "FIRST:end", up to the last byte the data gives
    uint32_t first, last;  // the bytes it covers, once laid out
    uint32_t unit;         // a sum's: bytes, or 2- or 4-byte words read in the stamp's byte order
    bool big_endian;
    uint64_t value;        // const's; the others' once computed
    uint8_t bytes[32];     // what is stored
};

struct fill_t {
    uint32_t first, last;
};

struct slot_t {
    growing_t<fill_t> fills;
    bool pad_given, pad_width_given;
    const char *pad_text;
    image_pad_t pad;           // --pad in --pad-width bytes
    uint32_t align;            // --align: each run of the data widened to whole blocks of this size; 1 for none
    ihex_address_mode_t mode;  // what the IHEX output reaches
    growing_t<stamp_t> stamps; // in the order given; --crc's last
    // --crc and its companions, until slot_check_options makes them a stamp
    const char *crc_name;
    bool crc_at_given, crc_range_given, crc_endian_given, crc_big_endian;
    uint32_t crc_at, crc_first, crc_last;
};

// The slot's options, all of which take a value: rows of a command's table
// of options, whose codes it hands to slot_read_option. --fill and --stamp
// may be given again.
enum slot_option_t { SLOT_FILL = 0x180, SLOT_PAD, SLOT_PAD_WIDTH, SLOT_ALIGN, SLOT_STAMP, SLOT_CRC, SLOT_CRC_AT,
                     SLOT_CRC_RANGE, SLOT_CRC_ENDIAN };
#define SLOT_OPTION_ROWS                                                                                          \
    {"fill", SLOT_FILL, true, false}, {"pad", SLOT_PAD, true, true}, {"pad-width", SLOT_PAD_WIDTH, true, true},   \
        {"align", SLOT_ALIGN, true, true}, {"stamp", SLOT_STAMP, true, false}, {"crc", SLOT_CRC, true, true},     \
        {"crc-at", SLOT_CRC_AT, true, true}, {"crc-range", SLOT_CRC_RANGE, true, true},                           \
        {"crc-endian", SLOT_CRC_ENDIAN, true, true}

// Reading the options (slot_options.cpp).

// Reads one slot option and its value; a bad value is a usage error.
// "--crc list" and "--stamp list" print every name and end the run.
void slot_read_option(slot_t *slot, int option, const char *value);

// The checks that need every option, each failure a usage error: what goes
// with what, fill ranges that overlap, what the mode reaches, stamps whose
// places overlap. --pad goes with --fill, or with an output that pads its
// gaps (`pads_gaps`). A stamp without a range= takes the fill range that
// holds it, before it when it ends the range and after it when it begins it.
void slot_check_options(slot_t *slot, ihex_address_mode_t mode, bool pads_gaps);

// range_end_hint's words after "; ", for the end of a message; else "".
const char *slot_last_included(const char *option, uint32_t first, uint32_t last, char (&text)[194]);

// "the CRC" for --crc's, "the sum stamp" for a --stamp sum@..., to begin a
// message; and the name of the option that gives its range.
const char *slot_stamp_label(const stamp_t *stamp, char (&text)[64]);
const char *slot_range_option(const stamp_t *stamp);

// STM32's CRC unit takes whole 32-bit words, and a sum of words whole words:
// a range of another size ends the run through `fail` (command_usage_error,
// or command_error).
void slot_check_words(const stamp_t *stamp, void (*fail)(const char *format, ...));
// A usage error when the mode does not reach `last`, naming `what`.
void slot_check_reach(const char *what, uint64_t last, ihex_address_mode_t mode);

// The laying out (slot.cpp).

// An input byte may not lie where a stamp goes: the first block in address
// order that reaches into one is named.
void slot_check_places(const slot_t *slot, const image_t *image, const input_t *inputs);

/*
 * Lays the fills and the stamps out over `view`, which holds the data in
 * address order (none overlapping, none on a stamp's bytes): each fill where
 * the data leaves gaps, then each stamp in turn, computed over the view as
 * the stamps before it left it. Prints what it filled and each stamp. A hole
 * in a stamp's range is fatal, and so is a stamp whose range takes in the
 * place of one given after it. The view keeps pointers into *slot.
 */
void slot_build(slot_t *slot, image_view_t *view);

void slot_free(slot_t *slot);
