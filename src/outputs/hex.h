// SPDX-License-Identifier: MIT
// hex.h: an image view written as Intel HEX text, for tesslar-hex and for
// tesslar-merge's IHEX outputs.
#pragma once

#include "ihex.h"
#include "image/image.h"
#include "outputs/file.h"

#include <cstdint>

// How the IHEX text is written: the writer's address mode and record size,
// the byte whose runs are left out where they would begin a record (with
// `skip`), and the start address record.
struct hex_records_t {
    ihex_address_mode_t mode;
    uint32_t record_bytes;
    bool skip;
    uint8_t skip_value;
    bool start_present;
    uint32_t start_address;
};

// Writes the view's pieces as IHEX text, pieces that touch as one block,
// then the start address and end-of-file records; *writer keeps the counts.
// With `skip`, each run of touching pieces must be one piece.
void output_ihex(const image_view_t *view, output_t *output, const hex_records_t *format, ihex_writer_t *writer);
