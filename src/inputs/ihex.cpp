// SPDX-License-Identifier: MIT
// ihex.cpp: an IHEX input read with the converter's rules, every data
// record decoded straight into the image's store.
#include "inputs/inputs.h"

#include "inputs/file.h"

#include <cerrno>

bool input_read_ihex(image_t *image, FILE *file, input_summary_t *summary, input_verdict_t *verdict)
{
    char line[ihex_line_size];
    ihex_text_t text;
    ihex_text_begin(&text, file, line);
    uint32_t address = 0, length;
    for (;;) {
        uint8_t *room = image_room(image, 255);
        if (room == nullptr) {
            verdict->failure = INPUT_NO_MEMORY;
            return false;
        }
        if (!ihex_text_next(&text, room, &address, &length))
            break;
        if (uint64_t(address) + length > (uint64_t(1) << 32)) {
            *verdict = {INPUT_BAD_RECORD, IHEX_RESULT_ADDRESS_OUT_OF_RANGE, text.line_number, 0, ""};
            return false;
        }
        if (!image_add(image, address, image_keep(image, length), length, text.line_number)) {
            verdict->failure = INPUT_NO_MEMORY;
            return false;
        }
    }
    if (ferror(file)) {
        *verdict = {INPUT_NOT_READ, 0, 0, errno, ""};
        return false;
    }
    if (text.error != IHEX_RESULT_OK) {
        // a first record that does not begin with ':' is no IHEX at all
        bool first = text.reader.record_count == 1 && text.error == IHEX_RESULT_INVALID_START_CODE;
        *verdict = {first ? INPUT_NO_FORMAT : INPUT_BAD_RECORD, text.error, text.line_number, 0, ""};
        return false;
    }
    summary->start_present = text.reader.start_address_present;
    summary->start_address = text.reader.start_address;
    summary->records = text.reader.record_count;
    summary->data_bytes = text.reader.data_byte_count;
    summary->end_of_file_seen = text.end_of_file_seen;
    summary->extra_data = text.extra_data;
    return true;
}
