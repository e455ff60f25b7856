// SPDX-License-Identifier: MIT
// titxt.cpp: a TI-TXT input, MSP430's format: "@ADDR" lines, lines of bytes
// parted by spaces, each placed after the last, and "q" at the end; every
// line checked.
#include "inputs/readers.h"

#include "ihex.h"

#include <cstring>

// Whether c parts the bytes of a line.
static bool is_space(char c)
{
    return c == ' ' || c == '\t';
}

bool input_read_titxt(image_t *image, FILE *file, input_summary_t *summary, input_error_t *error)
{
    uint64_t address = 0; // the first line is an address line: the file was told by its '@'
    record_lines_t lines;
    record_lines_begin(&lines, file);
    size_t length;
    bool failed;
    char *line = lines.line;
    while (record_line(&lines, "TI-TXT line", true, summary, error, &length, &failed)) {
        uint32_t number = lines.number;
        if (strcmp(line, "q") == 0 || strcmp(line, "Q") == 0) {
            summary->end_of_file_seen = true;
            continue;
        }
        if (line[0] == '@') {
            // 1 to 8 digits, an even count read as bytes: "@0" is "@00"
            char digits[10] = "0";
            size_t count = length - 1, padded = count % 2;
            memcpy(digits + padded, line + 1, count < 9 ? count : 0);
            uint8_t bytes[4] = {};
            if (count == 0 || count > 8 || ihex_hex_decode(digits, bytes, uint32_t((count + padded) / 2)) * 2 !=
                                               count + padded)
                return input_error(error, number, "invalid address");
            address = 0;
            for (size_t i = 0; i < (count + padded) / 2; i++)
                address = address << 8 | bytes[i];
            summary->records++;
            continue;
        }
        // bytes of two digits, parted by spaces, straight into the store
        uint8_t *out = image_room(image, length / 2 + 1);
        if (out == nullptr)
            return input_no_memory(error);
        uint32_t count = 0;
        for (size_t at = 0; at < length; count++) {
            if (ihex_hex_decode(line + at, out + count, 1) != 1 || (at + 2 < length && !is_space(line[at + 2])))
                return input_error(error, number, "invalid character");
            for (at += 2; at < length && is_space(line[at]);)
                at++;
        }
        if (address + count > (uint64_t(1) << 32))
            return input_error(error, number, "address out of range");
        if (!image_add(image, uint32_t(address), image_keep(image, count), count, number))
            return input_no_memory(error);
        address += count;
        summary->records++;
        summary->data_bytes += count;
    }
    return !failed;
}
