// SPDX-License-Identifier: MIT
// text_formats.cpp: an image view written as a Verilog memory file, as
// objcopy -O verilog writes one for $readmemh, or as TI-TXT, MSP430's
// format, line for line as srec_cat -ti-txt writes it.
#include "outputs/writers.h"

#include "cli/command.h"
#include "ihex.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

constexpr uint64_t bytes_a_line = 16;

// Calls `line` with each line's address and up to 16 bytes of every run of
// touching pieces, from the run's start, and `run` before each run.
template <typename Run, typename Line> static void each_line(const image_view_t *view, Run run, Line line)
{
    constexpr uint64_t chunk = bytes_a_line << 12;
    uint8_t *scratch = static_cast<uint8_t *>(allocate(chunk));
    size_t cursor = 0, index = 0;
    for (uint64_t first, end; image_view_run(view, &index, &first, &end);) {
        run(first);
        for (uint64_t at = first; at < end; at += chunk) {
            uint64_t size = std::min(chunk, end - at);
            const uint8_t *bytes = image_view_bytes(view, &cursor, at, size, scratch);
            for (uint64_t done = 0; done < size; done += bytes_a_line)
                line(bytes + done, std::min(bytes_a_line, size - done));
        }
    }
    free(scratch);
}

bool verilog_check(const image_view_t *view, uint32_t width, uint32_t *address)
{
    size_t index = 0;
    for (uint64_t first, end; image_view_run(view, &index, &first, &end);)
        if (first % width != 0 || end % width != 0) {
            *address = uint32_t(first % width != 0 ? first : end - 1);
            return false;
        }
    return true;
}

void output_verilog(const image_view_t *view, output_t *output, uint32_t width, bool big_endian, uint64_t *bytes)
{
    output_sink_t *sink = output_sink_open(output);
    *bytes = 0;
    each_line(view, [&](uint64_t first) {
        char *text = output_sink_room(sink, 16);
        sink->used += size_t(snprintf(text, 16, "@%08X\r\n", uint32_t(first / width)));
    }, [&](const uint8_t *data, uint64_t size) {
        char *text = output_sink_room(sink, 3 * bytes_a_line + 2), *out = text;
        for (uint64_t word = 0; word < size; word += width) {
            uint8_t ordered[8]; // the word's bytes, most significant first
            for (uint32_t i = 0; i < width; i++)
                ordered[i] = data[word + (big_endian ? i : width - 1 - i)];
            if (word != 0)
                *out++ = ' ';
            ihex_hex_encode(out, ordered, width);
            out += 2 * width;
        }
        *out++ = '\r';
        *out++ = '\n';
        sink->used += size_t(out - text);
        *bytes += size;
    });
    output_sink_close(sink);
}

void output_titxt(const image_view_t *view, output_t *output, uint64_t *bytes)
{
    output_sink_t *sink = output_sink_open(output);
    *bytes = 0;
    each_line(view, [&](uint64_t first) {
        char *text = output_sink_room(sink, 16);
        sink->used += size_t(snprintf(text, 16, first > 0xFFFF ? "@%06X\n" : "@%04X\n", uint32_t(first)));
    }, [&](const uint8_t *data, uint64_t size) {
        char *text = output_sink_room(sink, 3 * bytes_a_line), *out = text;
        for (uint64_t i = 0; i < size; i++) {
            ihex_hex_encode(out, data + i, 1);
            out[2] = i + 1 < size ? ' ' : '\n';
            out += 3;
        }
        sink->used += size_t(out - text);
        *bytes += size;
    });
    memcpy(output_sink_room(sink, 2), "q\n", 2);
    sink->used += 2;
    output_sink_close(sink);
}
