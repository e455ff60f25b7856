// SPDX-License-Identifier: MIT
// outputs.h: what the commands write: a file that takes the place of the old
// one only once whole, and the Intel HEX text of an image view.
#pragma once

#include "ihex.h"
#include "image/image.h"
#include "inputs/inputs.h"

#include <cstdint>
#include <cstdio>

/*
 * An output written to a temporary file beside it, flushed to the disk and
 * renamed over it once whole, so that a failed run (or a power cut) leaves
 * neither a partial file nor a damaged earlier one; several outputs are put
 * in place together, once every one is whole. A device, a pipe or anything
 * else that cannot be replaced is written in place, and "-" is standard
 * output (the report then goes to standard error). Until output_commit, a
 * command_error removes the temporary file.
 */
struct output_t {
    FILE *stream;
    const char *path;
    char temporary[4096]; // empty when written in place
    char target[4096];    // the file the temporary one replaces
};
bool output_open(output_t *output, const char *path);
// Flushes and closes the stream (the temporary file, synced to the disk);
// false, with errno telling why, on a failed write.
bool output_close(output_t *output);
// Puts a closed output's temporary file in its place; false, with errno
// telling why, when it cannot, and the temporary file is gone.
bool output_commit(output_t *output);

// What a writer writes, gathered and written out in large pieces; a failed
// write ends the run. output_sink_room gives room for `size` bytes (at most
// sizeof text) at text + used, which the writer then counts in `used`.
struct output_sink_t {
    output_t *output;
    size_t used;
    char text[1 << 15];
};
output_sink_t *output_sink_open(output_t *output);
char *output_sink_room(output_sink_t *sink, size_t size);
// Writes `size` bytes after what is gathered, a large run straight out.
void output_sink_put(output_sink_t *sink, const void *data, uint64_t size);
// Writes what is gathered, and frees the sink.
void output_sink_close(output_sink_t *sink);

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

// Writes the view's pieces as IHEX text, pieces that touch as one block,
// then the start address and end-of-file records; *writer keeps the counts.
// With `skip`, each run of touching pieces must be one piece.
void output_ihex(const image_view_t *view, output_t *output, const ihex_format_t *format, ihex_writer_t *writer);

// How S-records are written: data bytes a record, the record type (S1, S2
// or S3: the narrowest that holds every address and the start address, or
// S3 with `force_s3`), the start address of the end record (0 without one),
// and the text of the S0 header.
struct srec_format_t {
    uint32_t record_bytes;
    bool force_s3;
    bool start_present;
    uint32_t start_address;
    const char *header;
};
// The type of the data records, 1 to 3, and the most data bytes they hold.
int srec_type(const image_view_t *view, const srec_format_t *format);
uint32_t srec_most_bytes(int type);
// Writes the view as S-records, as objcopy does: the S0 header (its first 40
// characters), records of the view's runs of touching pieces from each
// run's start, and the S9, S8 or S7 end record. *records and *data_bytes
// receive the counts.
void output_srec(const image_view_t *view, output_t *output, const srec_format_t *format, uint32_t *records,
                 uint64_t *data_bytes);

// A binary holds the view from its lowest address to its highest, the gaps
// given the view's pad byte. One whose padding would pass 64 MiB is refused,
// naming its widest gap and what lies at each end of it (`inputs` and the
// image give the places).
void binary_check(const image_view_t *view, const image_t *image, const input_t *inputs, const char *path);
void output_binary(const image_view_t *view, output_t *output, uint64_t *size);

// UF2 families: a short name, as Microsoft's list of families gives it, and
// its number. uf2_families ends with a null name.
struct uf2_family_t {
    const char *name;
    uint32_t id;
};
extern const uf2_family_t uf2_families[];
// The family of a name, letter case ignored; null for none.
const uf2_family_t *uf2_family_find(const char *name);
// --uf2-family: a family's name in any letter case, or a number; *name is
// null for a number that names no known family. Anything else is a usage
// error that suggests the nearest name.
void uf2_family_read(const char *value, const char **name, uint32_t *id);
// What "--uf2-family list" prints; ends the run.
[[noreturn]] void uf2_list_families();
// Writes the view as UF2 blocks, one a 256-byte page that holds data (the
// bytes of the page that nothing gives are 0), for the family `family`;
// *blocks receives their count.
void output_uf2(const image_view_t *view, output_t *output, uint32_t family, uint32_t *blocks);

// The outputs of a run. Each one's format comes from its name's ending, or
// from -O for a name that says none, else it is IHEX.
enum output_format_t { FORMAT_NONE, FORMAT_IHEX, FORMAT_SREC, FORMAT_BINARY, FORMAT_UF2 };
// "ihex", "srec", "binary" or "uf2" into *format; false for anything else.
bool output_format_read(const char *text, output_format_t *format);
output_format_t output_format_of(const char *path, output_format_t otherwise);

struct output_settings_t {
    ihex_address_mode_t mode;  // IHEX
    uint32_t record_bytes;     // 0: each format's own, IHEX 32, S-records 16
    bool force_s3;             // S-records
    const char *family_name;   // UF2; null for a family given by its number only
    uint32_t family;
    bool start_present;
    uint32_t start_address;
    const char *start_from;    // the input that gave the start address, or null
};

// The command line's checks of the outputs: a UF2 output needs a family.
// *ihex and *binary tell whether an output is IHEX, or a binary.
void outputs_check(const char *const *paths, int count, output_format_t otherwise, bool family_given, bool *ihex,
                   bool *binary);

/*
 * Writes the view to each output in its format, each whole or none of them:
 * first the checks each format needs (what an IHEX mode reaches, how many
 * bytes S-records hold, a binary's padding), then every output into a
 * temporary file beside it (standard output last), and only then are they
 * put in place. A line of the report tells what each one holds.
 */
void outputs_write(const char *const *paths, int count, output_format_t otherwise, const output_settings_t *settings,
                   const image_view_t *view, const image_t *image, const input_t *inputs);
