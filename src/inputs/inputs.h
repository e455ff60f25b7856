// SPDX-License-Identifier: MIT
// inputs.h: the inputs of tesslar-merge and tesslar-hex as the command line
// gives them, read into an image by the reader of each kind, the words that
// name a place in one, and the one form of a reader's error.
#pragma once

#include "image/image.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// An IHEX file, S-records or an ELF file, told by its first bytes, or a raw
// binary placed at an address.
enum input_kind_t { INPUT_IHEX, INPUT_SREC, INPUT_ELF, INPUT_BINARY, INPUT_TITXT, INPUT_UF2 };
// A filter written after an input: --crop keeps only its bytes in
// [first, last], --exclude drops them, --offset moves every one of them by
// `offset`, --swap reverses the bytes of each aligned group of `offset`
// bytes. They apply in the order given. `regions` and `bytes` tell what each
// one left.
enum input_filter_kind_t { FILTER_CROP, FILTER_EXCLUDE, FILTER_OFFSET, FILTER_SWAP };
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

// Why a reader stopped, in words: a bad line of a text input, a file the
// system refused (its errno), or the file as a whole. input_fail tells it.
struct input_error_t {
    const char *path;  // the input's
    uint32_t line;     // of a text input, or 0
    uint32_t column;   // in that line, from 1, or 0
    int system_error;  // errno of a failed open or read, or 0
    char text[4096 + 512];
};
// Words for *error, printf-style: with a line, "<text> at line 3 of
// 'app.hex'" (with a column set after, "at line 3, column 9 of"); else the
// whole message, which names the file. Returns false, for a reader to
// return.
__attribute__((format(printf, 3, 4))) bool input_error(input_error_t *error, uint32_t line, const char *format, ...);
// A failed open or read ("cannot read input file", errno), or memory out.
bool input_system_error(input_error_t *error, const char *what);
bool input_no_memory(input_error_t *error);
// Ends the run with the message of *error.
[[noreturn]] void input_fail(const input_error_t *error);

// Keeps what is left of `file` in the image's store, whole: *offset and
// *size say where.
bool input_load(image_t *image, FILE *file, uint64_t *offset, uint64_t *size, input_error_t *error);


// --binary's "FILE@ADDRESS", the address after the last "@" (the file's
// name ends there); a bad value is a usage error.
input_t input_binary_read(char *value);

// A filter's value as --crop, --exclude (a range), --offset ([-]N) or --swap
// (2, 4 or 8) gives it; `name` is the option's. A bad value is a usage error.
void input_filter_read(input_filter_t *filter, const char *name, const char *value);

// Reads every input in turn into the image and tells what each held (with
// `list_sections`, an ELF file's sections). With `start`, the first input's
// start address that one gives goes there, with its path, and another that
// differs is a warning. A reader's failure ends the run.
void inputs_read_all(image_t *image, input_t *inputs, int count, const section_choice_t *choice, bool list_sections,
                     start_address_t *start);

// Where blocks lie in their input, from the place `first` to `last`:
// "'app.hex' line 3", "'app.hex' lines 3-9", "'app.elf' section .text",
// "'app.elf' sections .text-.data", or "'boot.bin'"; for an input that its
// filters moved, where the byte at `at` came from too: "'app.hex' line 3
// (from 00000002h)". Paths are cut at 4096 bytes and section names at 180.
constexpr size_t input_place_size = 4096 + 2 * 180 + 96;
const char *input_place(const input_t *input, const image_t *image, uint32_t first, uint32_t last, uint64_t at,
                        char (&text)[input_place_size]);

// The namer of an image view (image_view_t::name) whose regions came from
// these inputs, with the context it reads.
struct input_names_t {
    const image_t *image;
    const input_t *inputs;
};
const char *input_name_piece(const void *context, const image_piece_t *piece, bool lower, char *text, size_t size);
