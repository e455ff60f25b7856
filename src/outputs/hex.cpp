// SPDX-License-Identifier: MIT
// hex.cpp: an image view written as Intel HEX text.
#include "outputs/hex.h"

#include "cli/command.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

constexpr size_t longest_line = 16 + 2 * 255;

// Writes every line the writer makes of its current block, and closes the
// stream after it when `last_block` is set.
static void write_block(ihex_writer_t *writer, output_sink_t *sink, uint8_t last_block)
{
    for (;;) {
        char *line = output_sink_room(sink, longest_line);
        int result = ihex_write_line(writer, line, last_block);
        if (result == IHEX_WRITE_START_ADDRESS_DROPPED)
            continue;
        if (result == IHEX_WRITE_END_OF_BLOCK && !last_block)
            return;
        sink->used += strlen(line);
        if (result == IHEX_WRITE_END_OF_BLOCK)
            return;
    }
}

void output_ihex(const image_view_t *view, output_t *output, const hex_records_t *format, ihex_writer_t *writer)
{
    ihex_writer_init(writer);
    writer->address_mode = format->mode;
    writer->max_record_bytes = uint8_t(format->record_bytes);
    writer->skip_fill = format->skip;
    writer->fill_value = format->skip_value;
    writer->start_address_present = format->start_present;
    writer->start_address = format->start_address;
    output_sink_t *sink = output_sink_open(output);
    // Pieces that touch make one block. It goes to the writer in chunks of
    // whole records, which give the same lines as the block at once; a
    // skipped run moves where records begin, so with `skip` a block goes
    // whole.
    uint64_t chunk = format->skip ? uint64_t(1) << 32 : 1024 * format->record_bytes;
    uint8_t *scratch = format->skip ? nullptr : static_cast<uint8_t *>(allocate(chunk));
    size_t cursor = 0, index = 0;
    for (uint64_t first, end; image_view_run(view, &index, &first, &end);) {
        for (uint64_t at = first; at < end; at += chunk) {
            writer->remaining = uint32_t(std::min(chunk, end - at));
            writer->data = image_view_bytes(view, &cursor, at, writer->remaining, scratch);
            writer->address = uint32_t(at);
            write_block(writer, sink, 0);
        }
    }
    write_block(writer, sink, 1);
    output_sink_close(sink);
    free(scratch);
}
