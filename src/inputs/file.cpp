// SPDX-License-Identifier: MIT
// file.cpp: input files opened for one pass, and their IHEX lines.
#include "inputs/file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

// Inputs are read front to back exactly once, in 64 KiB reads. A bigger
// buffer reads no faster and costs a page fault per 4 KiB on every run: on
// a 1 MiB input, 256 KiB of buffer cost more than half a millisecond.
static char input_stream_buffer[1 << 16];

FILE *open_input(const char *path, platform_file_t *file, bool dash_is_standard_input)
{
    bool standard = dash_is_standard_input && strcmp(path, "-") == 0;
    FILE *input = standard ? platform_standard_input() : platform_open(path, "rb");
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

void text_reader_begin(text_reader_t *reader, FILE *file)
{
    reader->file = file;
    reader->at = reader->end = 0;
}

size_t text_read_line(text_reader_t *reader, char *line, size_t size)
{
    size_t length = 0;
    while (length + 1 < size) {
        if (reader->at == reader->end) {
            reader->at = 0;
            reader->end = fread(reader->buffer, 1, sizeof reader->buffer, reader->file);
            if (reader->end == 0)
                break;
        }
        const char *from = reader->buffer + reader->at;
        size_t room = std::min(size - 1 - length, reader->end - reader->at);
        const char *line_end = static_cast<const char *>(memchr(from, '\n', room));
        size_t taken = line_end != nullptr ? size_t(line_end - from) + 1 : room;
        memcpy(line + length, from, taken);
        length += taken;
        reader->at += taken;
        if (line_end != nullptr)
            break;
    }
    line[length] = '\0';
    return length;
}

static bool read_line(hex_text_t *text, size_t *length)
{
    if (text->counted != nullptr)
        return (*length = text_read_line(text->counted, text->line, hex_line_size)) != 0;
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
    *text = hex_text_t{file, line, {}, 0, IHEX_RESULT_OK, false, false, nullptr, 0};
    ihex_reader_init(&text->reader);
}

void hex_text_count(hex_text_t *text, text_reader_t *reader)
{
    text_reader_begin(reader, text->file);
    text->counted = reader;
}

bool hex_text_next(hex_text_t *text, uint8_t *data, uint32_t *address, uint32_t *length)
{
    size_t read = 0;
    while (read_line(text, &read)) {
        text->line_number++;
        const char *nul = text->counted != nullptr ? static_cast<const char *>(memchr(text->line, 0, read)) : nullptr;
        if (nul != nullptr) {
            text->nul_column = uint32_t(nul - text->line) + 1;
            return false;
        }
        const char *record = skip_line_end(text->line);
        if (*record == '\0')
            continue;
        int result = ihex_parse_line(&text->reader, record, address, length, data);
        if (result == IHEX_RESULT_EOF) {
            // Only blank lines are expected after it; nothing there is parsed.
            text->end_of_file_seen = true;
            while (!text->extra_data && read_line(text, &read))
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
