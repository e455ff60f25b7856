// SPDX-License-Identifier: MIT
// hex.cpp: an IHEX input read with the converter's rules, every data
// record decoded straight into the image's store.
#include "inputs/file.h"
#include "inputs/readers.h"

bool input_read_ihex(image_t *image, FILE *file, input_summary_t *summary, input_error_t *error)
{
    char line[hex_line_size];
    hex_text_t text;
    text_reader_t counted;
    hex_text_begin(&text, file, line);
    hex_text_count(&text, &counted);
    uint32_t address = 0, length;
    for (;;) {
        uint8_t *room = image_room(image, 255);
        if (room == nullptr)
            return input_no_memory(error);
        if (!hex_text_next(&text, room, &address, &length))
            break;
        if (uint64_t(address) + length > (uint64_t(1) << 32))
            return input_error(error, text.line_number, "%s", ihex_result_text(IHEX_RESULT_ADDRESS_OUT_OF_RANGE));
        if (!image_add(image, address, image_keep(image, length), length, text.line_number))
            return input_no_memory(error);
    }
    if (ferror(file))
        return input_system_error(error, "cannot read input file");
    // a first record that does not begin with ':' is no IHEX at all
    bool first = text.reader.record_count == (text.nul_column != 0 ? 0 : 1);
    if (first && (text.nul_column != 0 ? line[0] != ':' : text.error == IHEX_RESULT_INVALID_START_CODE))
        return input_no_format(error);
    if (text.nul_column != 0)
        return input_nul(error, text.line_number, text.nul_column);
    if (text.error != IHEX_RESULT_OK)
        return input_error(error, text.line_number, "%s", ihex_result_text(text.error));
    summary->start_present = text.reader.start_address_present;
    summary->start_address = text.reader.start_address;
    summary->records = text.reader.record_count;
    summary->data_bytes = text.reader.data_byte_count;
    summary->end_of_file_seen = text.end_of_file_seen;
    summary->extra_data = text.extra_data;
    return true;
}
