// SPDX-License-Identifier: MIT
// srec.cpp: a Motorola S-record input: every line checked (its
// characters, length, byte count and checksum, its type, the record counts),
// its data records' bytes decoded straight into the image's store.
#include "inputs/readers.h"

#include "cli/report.h"
#include "ihex.h"

#include <algorithm>
#include <cstring>

// The width of the address field of each record type, S0 to S9 (0: no type).
// S5 and S6 hold a count of the data records before them instead, in as
// many bytes as their byte count says: S5 in 2, 3 or 4 (the Green Hills
// tools write 4), S6 in 3 or 4; a count narrower than 32 bits is the count
// modulo its width, as writers wrap it.
constexpr int address_width[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
constexpr int widest_count = 4;

bool input_read_srec(image_t *image, FILE *file, input_summary_t *summary, input_error_t *error)
{
    // "S", a type, and 255 bytes after the count at the most: 514 characters
    record_lines_t lines;
    uint8_t record[sizeof lines.line / 2];
    uint32_t data_records = 0;
    record_lines_begin(&lines, file);
    size_t length;
    bool failed;
    char *line = lines.line;
    while (record_line(&lines, "S-record", false, summary, error, &length, &failed)) {
        uint32_t number = lines.number;
        if (line[0] != 'S')
            return input_error(error, number, "invalid start code");
        int type = line[1] - '0';
        if (summary->records == 0 && (length < 2 || type < 0 || type > 9))
            return input_no_format(error); // "S" and no digit: no S-record at all
        if (length < 2 || type < 0 || type > 9 || address_width[type] == 0)
            return input_error(error, number, "unknown record type S%c", length < 2 ? ' ' : line[1]);
        if (length % 2 != 0)
            return input_error(error, number, "odd number of hex digits");
        size_t size = (length - 2) / 2, width = size_t(address_width[type]);
        bool data_record = type >= 1 && type <= 3;
        uint8_t *out = data_record ? image_room(image, 255) : nullptr; // the data go straight to the store
        if (data_record && out == nullptr)
            return input_no_memory(error);
        // the count, the address, the data and the checksum
        if (ihex_hex_decode(line + 2, record, uint32_t(size)) != size)
            return input_error(error, number, "invalid character");
        uint32_t sum = 0;
        for (size_t i = 0; i < size; i++)
            sum += record[i];
        if (size == 0 || record[0] != size - 1)
            return input_error(error, number, "byte count %u, but %u %s it", size == 0 ? 0 : record[0],
                               unsigned(size == 0 ? 0 : size - 1),
                               plural(size == 0 ? 0 : size - 1, "byte follows", "bytes follow"));
        if (type == 5 || type == 6)
            width = size - 2;
        if ((type == 5 || type == 6) && (width < size_t(address_width[type]) || width > widest_count))
            return input_error(error, number, "byte count %u gives an S%d record count of %u %s, not %s", record[0],
                               type, unsigned(width), plural(width, "byte", "bytes"), type == 5 ? "2, 3 or 4" : "3 or 4");
        if (size < 2 + width)
            return input_error(error, number, "byte count %u is too short for an S%d record", record[0], type);
        if (uint8_t(sum - record[size - 1]) != uint8_t(~record[size - 1]))
            return input_error(error, number, "checksum mismatch");
        summary->records++;
        uint32_t address = 0, data = uint32_t(size - 2 - width);
        if (out != nullptr)
            memcpy(out, record + 1 + width, data);
        for (size_t i = 1; i <= width; i++)
            address = address << 8 | record[i];
        if (type == 0 && summary->header[0] == '\0') {
            for (uint32_t i = 0; i < data && i + 1 < sizeof summary->header; i++)
                summary->header[i] = record[1 + width + i] >= 0x20 && record[1 + width + i] < 0x7F
                                         ? char(record[1 + width + i]) : '.';
        } else if (data_record) {
            if (uint64_t(address) + data > (uint64_t(1) << 32))
                return input_error(error, number, "address out of range");
            if (!image_add(image, address, image_keep(image, data), data, number))
                return input_no_memory(error);
            data_records++;
            summary->data_bytes += data;
        } else if (type == 5 || type == 6) {
            uint32_t wrapped = width == 4 ? data_records : data_records % (uint32_t(1) << (8 * width));
            if (address != wrapped)
                return input_error(error, number, "record count %u, but %u data %s before it", address,
                                   data_records, plural(data_records, "record", "records"));
        } else if (type >= 7) {
            summary->end_of_file_seen = true;
            summary->start_present = address != 0;
            summary->start_address = address;
        }
    }
    return !failed;
}
