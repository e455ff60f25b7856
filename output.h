// SPDX-License-Identifier: MIT
// output.h: what the commands write: a file that takes the place of the old
// one only once whole, and the Intel HEX text of an image view.
#pragma once

#include "ihex.h"
#include "image.h"

#include <cstdint>
#include <cstdio>

/*
 * An output written to a temporary file beside it, flushed to the disk and
 * renamed over it once whole, so that a failed run (or a power cut) leaves
 * neither a partial file nor a damaged earlier one. A device, a pipe or
 * anything else that cannot be replaced is written in place. From
 * output_open to output_close a command_error removes the temporary file.
 */
struct output_t {
    FILE *stream;
    const char *path;
    char temporary[4096]; // empty when written in place
    char target[4096];    // the file the temporary one replaces
};
bool output_open(output_t *output, const char *path);
// Flushes and closes the stream and puts the file in place; false, with
// errno telling why, on a failed write. Either way the temporary file is
// gone afterwards.
bool output_close(output_t *output);

// How the IHEX text is written: the writer's address mode and record size,
// the byte whose runs are left out where they would begin a record (with
// `skip`), and the start address record.
struct ihex_format_t {
    ihex_address_mode_t mode;
    uint32_t record_bytes;
    bool skip;
    uint8_t skip_value;
    bool start_present;
    uint32_t start_address;
};

// Writes the view's pieces as IHEX text to `path`, pieces that touch as one
// block, then the start address and end-of-file records; *writer keeps the
// counts. With `skip`, each run of touching pieces must be one piece. A file
// that cannot be opened or written ends the run.
void output_ihex(const image_view_t *view, const char *path, const ihex_format_t *format, ihex_writer_t *writer);
