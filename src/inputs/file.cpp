// SPDX-License-Identifier: MIT
// file.cpp: input files opened for one pass, and their IHEX lines.
#include "inputs/file.h"

#include <cerrno>

// Inputs are read front to back exactly once, in 64 KiB reads. A bigger
// buffer reads no faster and costs a page fault per 4 KiB on every run: on
// a 1 MiB input, 256 KiB of buffer cost more than half a millisecond.
static char input_stream_buffer[1 << 16];

FILE *open_input(const char *path, platform_file_t *file)
{
    FILE *input = platform_open(path, "rb");
    if (input != nullptr && !platform_stat_open(input, file)) {
        int error = errno;
        fclose(input);
        errno = error;
        return nullptr;
    }
    if (input != nullptr)
        setvbuf(input, input_stream_buffer, _IOFBF, sizeof input_stream_buffer);
    return input;
}

static bool read_line(hex_text_t *text)
{
    return platform_read_line(text->line, hex_line_size, text->file) != nullptr;
}

static const char *skip_line_end(const char *p)
{
    while (*p == '\r' || *p == '\n')
        p++;
    return p;
}

void hex_text_begin(hex_text_t *text, FILE *file, char *line)
{
    *text = hex_text_t{file, line, {}, 0, IHEX_RESULT_OK, false, false};
    ihex_reader_init(&text->reader);
}

bool hex_text_next(hex_text_t *text, uint8_t *data, uint32_t *address, uint32_t *length)
{
    while (read_line(text)) {
        text->line_number++;
        const char *record = skip_line_end(text->line);
        if (*record == '\0')
            continue;
        int result = ihex_parse_line(&text->reader, record, address, length, data);
        if (result == IHEX_RESULT_EOF) {
            // Only blank lines are expected after it; nothing there is parsed.
            text->end_of_file_seen = true;
            while (!text->extra_data && read_line(text))
                text->extra_data = *skip_line_end(text->line) != '\0';
            return false;
        }
        if (result != IHEX_RESULT_OK) {
            text->error = result;
            return false;
        }
        return true;
    }
    return false;
}
