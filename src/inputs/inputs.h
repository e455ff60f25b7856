// SPDX-License-Identifier: MIT
// inputs.h: the inputs of tesslar-merge and tesslar-hex, each read into an
// image by the reader of its kind, and the words that name an input and a
// place in it.
#pragma once

#include "image/image.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// An IHEX file, S-records or an ELF file, told by its first bytes, or a raw
// binary placed at an address.
enum input_kind_t { INPUT_IHEX, INPUT_SREC, INPUT_ELF, INPUT_BINARY };
// A filter written after an input: --crop keeps only its bytes in
// [first, last], --exclude drops them, --offset moves every one of them by
// `offset`. They apply in the order given. `regions` and `bytes` tell what
// each one left.
enum input_filter_kind_t { FILTER_CROP, FILTER_EXCLUDE, FILTER_OFFSET };
struct input_filter_t {
    input_filter_kind_t kind;
    uint32_t first, last;
    int64_t offset;
    const char *option, *value; // as given, for messages
    uint64_t regions, bytes;
};

struct input_t {
    const char *path;
    input_kind_t kind; // INPUT_BINARY as given; IHEX, S-records or ELF once read
    uint32_t address;  // of a binary's first byte
    input_filter_t *filters;
    int filter_count;
    int64_t moved;     // what its --offset filters add up to
};

// The sections of the ELF inputs to take (-j), or to leave out (-R); with
// none named to take, every one not left out.
struct section_choice_t {
    const char **only, **removed;
    int only_count, removed_count;
};

// What a reader found in its input.
struct input_summary_t {
    bool start_present;
    uint32_t start_address;
    uint32_t records, data_bytes;        // IHEX and S-records: the reader's counts
    bool end_of_file_seen, extra_data;   // IHEX and S-records: the end record, and lines after it
    char header[256];                    // S-records: the text of the first S0 record
    uint64_t size;                       // a binary's bytes; an ELF file's bytes of data
    size_t first_section, section_count; // ELF: its sections in image->sections
};

// Why a reader stopped: the place and the cause, for input_fail to tell.
enum input_failure_t {
    INPUT_NOT_OPENED, // errno in system_error
    INPUT_NOT_READ,   // errno in system_error
    INPUT_BAD_RECORD, // the reader's `result` at `line`
    INPUT_BAD_LINE,   // `reason` at `line`
    INPUT_BAD_FILE,   // `reason` (an ELF file)
    INPUT_TOO_HIGH,   // a binary that ends beyond FFFFFFFFh
    INPUT_MOVED_OUT,  // `reason`: a byte that a filter moves below 0 or past FFFFFFFFh
    INPUT_NO_FORMAT,  // neither IHEX, S-records nor ELF: its first line begins with none of them
    INPUT_NO_MEMORY,
};
struct input_verdict_t {
    input_failure_t failure;
    int result;
    uint32_t line;
    int system_error;
    char reason[160];
};

/*
 * Reads one input into `image` as its next input: an IHEX file with the
 * converter's rules, an ELF file (first bytes 7Fh 'E' 'L' 'F') as objcopy
 * reads it, with the sections `choice` takes, or a binary whole at its
 * address. Sets input->kind for a file told by its content. Returns false,
 * with *verdict telling why, when it cannot read it whole; nothing ends the
 * run here.
 */
bool input_read(image_t *image, input_t *input, const section_choice_t *choice, input_summary_t *summary,
                input_verdict_t *verdict);

// The readers of each kind. input_read_ihex read what is left of `file`; the others read `size`
// bytes that input_load kept from `offset` on.
bool input_read_ihex(image_t *image, FILE *file, input_summary_t *summary, input_verdict_t *verdict);
bool input_read_srec(image_t *image, FILE *file, input_summary_t *summary, input_verdict_t *verdict);
bool input_read_elf(image_t *image, uint64_t offset, uint64_t size, const section_choice_t *choice,
                    input_summary_t *summary, input_verdict_t *verdict);
bool input_read_binary(image_t *image, uint64_t offset, uint64_t size, uint32_t address, input_summary_t *summary,
                       input_verdict_t *verdict);

// --binary's "FILE@ADDRESS", the address after the last "@" (the file's
// name ends there); a bad value is a usage error.
input_t input_binary_read(char *value);

// A filter's value as --crop, --exclude (a range) or --offset ([-]N) gives
// it; `name` is the option's. A bad value is a usage error.
void input_filter_read(input_filter_t *filter, const char *name, const char *value);

// Applies the input's filters, in order, to the blocks it added to the image
// from `first` on, and its --offset to its start address. False, with
// *verdict telling why, when a byte would move below 0 or past FFFFFFFFh.
bool input_filter(image_t *image, input_t *input, size_t first, input_summary_t *summary, input_verdict_t *verdict);

// Keeps what is left of `file` in the image's store, whole: *offset and
// *size say where.
bool input_load(image_t *image, FILE *file, uint64_t *offset, uint64_t *size, input_verdict_t *verdict);

// The start address that inputs give: the first input's that gives one, and
// which input that is (-1 for none).
struct input_start_t {
    bool present;
    uint32_t address;
    int input;
};

// Reads every input in turn into the image and tells what each held (with
// `list_sections`, an ELF file's sections). With `start`, the inputs'
// start addresses go there, and two that differ end the run. A reader's
// failure ends it too.
void inputs_read_all(image_t *image, input_t *inputs, int count, const section_choice_t *choice, bool list_sections,
                     input_start_t *start);

// Ends the run with the message for a reader's verdict on `input`.
[[noreturn]] void input_fail(const input_t *input, const input_verdict_t *verdict);

// Tells what an input held: its warnings on standard error, a line of the
// report, and with `list_sections` an ELF file's sections, one a line.
void input_report(const input_t *input, const input_summary_t *summary, const image_t *image, bool list_sections);

// Where blocks lie in their input, from the place `first` to `last`:
// "'app.hex' line 3", "'app.hex' lines 3-9", "'app.elf' section .text",
// "'app.elf' sections .text-.data", or "'boot.bin'"; for an input that its
// filters moved, where the byte at `at` came from too: "'app.hex' line 3
// (from 00000002h)". Paths are cut at 4096 bytes and section names at 180.
constexpr size_t input_place_size = 4096 + 2 * 180 + 96;
const char *input_place(const input_t *input, const image_t *image, uint32_t first, uint32_t last, uint64_t at,
                        char (&text)[input_place_size]);
