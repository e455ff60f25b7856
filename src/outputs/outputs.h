// SPDX-License-Identifier: MIT
// outputs.h: the outputs of tesslar-merge: each one's format, worked out
// once from its name, and the image view written to every one of them,
// whole or not at all.
#pragma once

#include "ihex.h"
#include "image/image.h"

#include <cstdint>

enum output_format_t { FORMAT_NONE, FORMAT_IHEX, FORMAT_SREC, FORMAT_BINARY, FORMAT_UF2, FORMAT_VERILOG,
                       FORMAT_TITXT, FORMAT_C };
// "ihex", "srec", "binary", "uf2", "verilog", "ti-txt" or "c" into *format;
// false for anything else.
bool output_format_read(const char *text, output_format_t *format);

// One lane of interleaved memories (--split N,byte=B,width=W): of every N
// groups of W bytes, the B-th, placed one after another; `count` 0 for none.
struct output_split_t {
    uint32_t count, byte, width;
};
// "N,byte=B[,width=W]"; a bad value is a usage error.
void output_split_read(output_split_t *split, const char *value);

// An output and its format: from its name's ending, or from -O for a name
// without one, else IHEX; and its lane, when it is one.
struct output_target_t {
    const char *path;
    output_format_t format;
    output_split_t split;
};
// The targets of `count` paths. Usage errors: an ending that no format has
// without -O, a UF2 output without a family, two that name the same file
// (`-` twice is standard output twice). *ihex and *binary tell whether one
// is IHEX, or a binary.
void outputs_resolve(const char *const *paths, int count, output_format_t otherwise, bool family_given,
                     output_target_t *targets, bool *ihex, bool *binary);

// No output may be the input `path` (the same file under any name), for
// writing it would destroy the input before it was read: an error that
// calls it "the input file", or with `one_of_many` "one of the inputs".
// Returns the input's size in bytes, 0 when there is no such file.
uint64_t outputs_spare_input(const char *const *outputs, int output_count, const char *path, bool one_of_many);

struct output_settings_t {
    ihex_address_mode_t mode;  // IHEX
    uint32_t record_bytes;     // 0: each format's own, IHEX 32, S-records 16
    bool force_s3;             // S-records
    const char *family_name;   // UF2; null for a family given by its number only
    uint32_t family;
    uint32_t verilog_width;    // Verilog: bytes a word, and their order
    bool verilog_big_endian;
    const char *c_name;        // C: the array's name; null for the output's own
    start_address_t start;
};

/*
 * Writes the view to each output in its format, each whole or none of them:
 * first the checks each format needs (what an IHEX mode reaches, how many
 * bytes S-records hold, a binary's padding), then every output into a
 * temporary file beside it (standard output last), and only then are they
 * put in place. A line of the report tells what each one holds.
 */
void outputs_write(const output_target_t *targets, int count, const output_settings_t *settings,
                   const image_view_t *view);
