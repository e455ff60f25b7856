// SPDX-License-Identifier: MIT
// srec.cpp: an image view written as Motorola S-records, line for
// line as objcopy writes them.
#include "outputs/writers.h"

#include "cli/command.h"
#include "ihex.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

int srec_type(const image_view_t *view, const srec_format_t *format)
{
    uint64_t highest = view->pieces.count != 0 ? view->pieces.items[view->pieces.count - 1].end - 1 : 0;
    if (format->start_present)
        highest = std::max<uint64_t>(highest, format->start_address);
    return format->force_s3 || highest > 0xFFFFFF ? 3 : highest > 0xFFFF ? 2 : 1;
}

uint32_t srec_most_bytes(int type)
{
    return 255 - (type + 1) - 1; // the count byte counts the address, the data and the checksum
}

// One record of type `type` (0 to 9) with an address of `width` bytes:
// "S", the type, the count, the address, the data and the checksum, CR LF.
static void write_record(output_sink_t *sink, int type, int width, uint32_t address, const uint8_t *data,
                         size_t size)
{
    char *line = output_sink_room(sink, 2 + 2 * (1 + width + size + 1) + 2), *out = line;
    uint8_t head[5] = {uint8_t(width + size + 1)};
    for (int i = 0; i < width; i++)
        head[1 + i] = uint8_t(address >> 8 * (width - 1 - i));
    uint32_t sum = 0;
    for (int i = 0; i <= width; i++)
        sum += head[i];
    for (size_t i = 0; i < size; i++)
        sum += data[i];
    uint8_t checksum = uint8_t(~sum);
    *out++ = 'S';
    *out++ = char('0' + type);
    ihex_hex_encode(out, head, uint32_t(1 + width));
    out += 2 * (1 + width);
    ihex_hex_encode(out, data, uint32_t(size));
    out += 2 * size;
    ihex_hex_encode(out, &checksum, 1);
    out += 2;
    *out++ = '\r';
    *out++ = '\n';
    sink->used += size_t(out - line);
}

void output_srec(const image_view_t *view, output_t *output, const srec_format_t *format, uint32_t *records,
                 uint64_t *data_bytes)
{
    int type = srec_type(view, format), width = type + 1;
    output_sink_t *sink = output_sink_open(output);
    write_record(sink, 0, 2, 0, reinterpret_cast<const uint8_t *>(format->header),
                 std::min<size_t>(40, strlen(format->header)));
    *records = 1;
    *data_bytes = 0;
    // Runs of touching pieces, read in chunks of whole records.
    uint64_t chunk = 1024 * format->record_bytes;
    uint8_t *scratch = static_cast<uint8_t *>(allocate(chunk));
    size_t cursor = 0, index = 0;
    for (uint64_t first, end; image_view_run(view, &index, &first, &end);) {
        for (uint64_t at = first; at < end; at += chunk) {
            uint64_t size = std::min(chunk, end - at);
            const uint8_t *bytes = image_view_bytes(view, &cursor, at, size, scratch);
            for (uint64_t done = 0; done < size; done += format->record_bytes) {
                uint64_t n = std::min<uint64_t>(format->record_bytes, size - done);
                write_record(sink, type, width, uint32_t(at + done), bytes + done, size_t(n));
                ++*records;
            }
        }
        *data_bytes += end - first;
    }
    write_record(sink, 10 - type, width, format->start_present ? format->start_address : 0, nullptr, 0);
    ++*records;
    output_sink_close(sink);
    free(scratch);
}
