/* SPDX-License-Identifier: MIT */
/* The layout of quillkit's records as a table of sizes and offsets. Built as
 * C and as C++ for one target, the two tables must be the same. (Each header
 * comes first somewhere: ihex.h in the fuzz targets.) */
#include "quillkit.h"
#include "ihex.h"

#include <stddef.h>

#define AT(type, field) offsetof(type, field)
extern const unsigned long layout[];
const unsigned long layout[] = {
    sizeof(ihex_reader_t), AT(ihex_reader_t, record_count), AT(ihex_reader_t, data_byte_count),
    AT(ihex_reader_t, start_address_present), AT(ihex_reader_t, start_address), AT(ihex_reader_t, base_address),
    sizeof(ihex_writer_t), AT(ihex_writer_t, address_mode), AT(ihex_writer_t, max_record_bytes),
    AT(ihex_writer_t, start_address_present), AT(ihex_writer_t, start_address), AT(ihex_writer_t, skip_fill),
    AT(ihex_writer_t, fill_value), AT(ihex_writer_t, data), AT(ihex_writer_t, address),
    AT(ihex_writer_t, remaining), AT(ihex_writer_t, line_count), AT(ihex_writer_t, data_byte_count),
    AT(ihex_writer_t, upper_address),
    sizeof(ihex_line_buffer_t), AT(ihex_line_buffer_t, storage), AT(ihex_line_buffer_t, capacity),
    AT(ihex_line_buffer_t, length), AT(ihex_line_buffer_t, too_long),
    sizeof(qkit_crc_t), AT(qkit_crc_t, name), AT(qkit_crc_t, width), AT(qkit_crc_t, poly), AT(qkit_crc_t, init),
    AT(qkit_crc_t, reflect_in), AT(qkit_crc_t, reflect_out), AT(qkit_crc_t, xor_out), AT(qkit_crc_t, check),
};
