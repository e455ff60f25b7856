// SPDX-License-Identifier: MIT
// readers.h: the reader of each kind of input and what it found, the
// filters, and the report of an input; within this folder only.
#pragma once

#include "inputs/file.h"
#include "inputs/inputs.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// What a reader found in its input.
struct input_summary_t {
    bool start_present;
    uint32_t start_address;
    uint32_t records, data_bytes;        // IHEX and S-records: the reader's counts
    bool end_of_file_seen, extra_data;   // IHEX and S-records: the end record, and lines after it
    char header[256];                    // S-records: the text of the first S0 record
    uint64_t size;                       // a binary's bytes; an ELF file's bytes of data
    size_t first_section, section_count; // ELF: its sections in image->sections
    bool family_present;                 // UF2: the family of its first block that names one
    uint32_t family;
    uint32_t other_family, other_family_block; // and the first block of another family (0: none)
};

/*
 * Reads one input into `image` as its next input: an IHEX file with the
 * converter's rules, an ELF file (first bytes 7Fh 'E' 'L' 'F') as objcopy
 * reads it, with the sections `choice` takes, or a binary whole at its
 * address. Sets input->kind for a file told by its content. Returns false,
 * with *error telling why, when it cannot read it whole; nothing ends the
 * run here.
 */
bool input_read(image_t *image, input_t *input, const section_choice_t *choice, input_summary_t *summary,
                input_error_t *error);

// The readers of each kind. input_read_ihex read what is left of `file`; the others read `size`
// bytes that input_load kept from `offset` on.
bool input_read_ihex(image_t *image, FILE *file, input_summary_t *summary, input_error_t *error);
bool input_read_srec(image_t *image, FILE *file, input_summary_t *summary, input_error_t *error);
bool input_read_titxt(image_t *image, FILE *file, input_summary_t *summary, input_error_t *error);
bool input_is_uf2(const uint8_t *bytes, uint64_t size);
bool input_read_uf2(image_t *image, uint64_t offset, uint64_t size, input_summary_t *summary, input_error_t *error);
bool input_read_elf(image_t *image, uint64_t offset, uint64_t size, const section_choice_t *choice,
                    input_summary_t *summary, input_error_t *error);
bool input_read_binary(image_t *image, uint64_t offset, uint64_t size, uint32_t address, input_summary_t *summary,
                       input_error_t *error);

// Applies the input's filters, in order, to the blocks it added to the image
// from `first` on, and its --offset to its start address. False, with
// *error telling why, when a byte would move below 0 or past FFFFFFFFh.
bool input_filter(image_t *image, input_t *input, size_t first, input_summary_t *summary, input_error_t *error);

// Tells what an input held: its warnings on standard error, a line of the
// report, and with `list_sections` an ELF file's sections, one a line.
void input_report(const input_t *input, const input_summary_t *summary, const image_t *image, bool list_sections);
// The lines of S-records and TI-TXT: each counted (a NUL before the end
// record is an error, "S" or "@" and a NUL no records at all), its line end
// and with `spaces` its trailing spaces cut off, blank lines skipped, one
// longer than any `kind` ("S-record") an error, anything after the end
// record extra data. record_line is true with the next line in lines->line,
// *length its length; false when the reading ends, with *failed and *error
// when it failed.
struct record_lines_t {
    text_reader_t reader;
    uint32_t number; // of the last line read
    char line[1024];
};
void record_lines_begin(record_lines_t *lines, FILE *file);
bool record_line(record_lines_t *lines, const char *kind, bool spaces, input_summary_t *summary,
                 input_error_t *error, size_t *length, bool *failed);

// A file told as none of the formats, with the hint that a raw binary goes
// with --binary; and a NUL byte in a line of a text input.
bool input_no_format(input_error_t *error);
bool input_nul(input_error_t *error, uint32_t line, uint32_t column);
