// SPDX-License-Identifier: MIT
// writers.h: the writers of S-records, binaries and UF2 that outputs.cpp
// calls, one file each; within this folder only.
#pragma once

#include "image/image.h"
#include "outputs/file.h"

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

// Writes the view as UF2 blocks, one a 256-byte page that holds data (the
// bytes of the page that nothing gives are 0), for the family `family`;
// *blocks receives their count.
void output_uf2(const image_view_t *view, output_t *output, uint32_t family, uint32_t *blocks);
