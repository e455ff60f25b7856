// SPDX-License-Identifier: MIT
// writers.h: the writers of S-records, binaries and UF2 that outputs.cpp
// calls, one file each; within this folder only.
#pragma once

#include "image/image.h"
#include "outputs/file.h"
#include "outputs/outputs.h"

#include <cstdint>

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
// naming its widest gap and what lies at each end of it, as the view names
// them.
void binary_check(const image_view_t *view, const char *path);
void output_binary(const image_view_t *view, output_t *output, uint64_t *size);

// A Verilog memory file, as $readmemh reads it and objcopy -O verilog writes
// it: an @ line with the word address at the start of each run of touching
// pieces, then lines of up to 16 bytes as words of `width` bytes (1, 2, 4 or
// 8), each in the order `big_endian` says. verilog_check is false, with
// *address, when a run begins or ends inside a word.
bool verilog_check(const image_view_t *view, uint32_t width, uint32_t *address);
void output_verilog(const image_view_t *view, output_t *output, uint32_t width, bool big_endian, uint64_t *bytes);
// TI-TXT, as srec_cat -ti-txt writes it: "@ADDR" (4 digits below 10000h, 6
// or more above) at the start of each run, lines of 16 bytes parted by
// spaces, and "q".
void output_titxt(const image_view_t *view, output_t *output, uint64_t *bytes);
// A C99 source: NAME_address, NAME_size and NAME[], the bytes from the
// lowest address to the highest, the gaps of the pad, as a binary holds
// them. The name is `given`, or the output's base name made an identifier.
const char *c_array_name(const char *given, const char *path, char (&name)[128]);
void output_c_array(const image_view_t *view, output_t *output, const char *name, uint64_t *size);
// The view of one lane of an output with --split, its bytes in *storage
// (the caller's to free); false when memory is out.
bool split_view(const image_view_t *view, const output_split_t *split, image_view_t *lane, uint8_t **storage);

// Writes the view as UF2 blocks, one a 256-byte page that holds data (the
// bytes of the page that nothing gives are 0), for the family `family`;
// *blocks receives their count.
void output_uf2(const image_view_t *view, output_t *output, uint32_t family, uint32_t *blocks);
