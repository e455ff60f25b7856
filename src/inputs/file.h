// SPDX-License-Identifier: MIT
// file.h: reading an input file once, front to back: opening it, and
// taking its IHEX records line by line with the converter's rules.
#pragma once

#include "ihex.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>

// Opens an input for reading in binary mode, with a large buffer; a folder,
// which opens but holds nothing, gives null too, with errno EISDIR. *file
// receives what the system tells of it. One input is open at a time.
FILE *open_input(const char *path, platform_file_t *file);

/*
 * IHEX text read with the converter's rules: a line holds at most 522
 * characters (`line` has room for hex_line_size), lines of CR and LF only
 * are skipped, the first bad record ends the reading, and so does the
 * end-of-file record, after which only blank lines are expected.
 */
constexpr int hex_line_size = 523;
struct hex_text_t {
    FILE *file;
    char *line;
    ihex_reader_t reader;
    uint32_t line_number;  // of the last line read
    int error;             // IHEX_RESULT_OK, or the result of the bad record
    bool end_of_file_seen; // the reading ended at an end-of-file record
    bool extra_data;       // something other than blank lines came after it
};
void hex_text_begin(hex_text_t *text, FILE *file, char *line);

// Reads up to the next accepted record other than the end-of-file record and
// returns true, with its length (0 for other records) and its bytes in
// `data`; *address holds the address of the last data record, and keeps it
// across calls (start it at 0). False when the reading has ended
// (text->error and text->end_of_file_seen say how); a read error ends it
// too, which ferror(file) tells.
bool hex_text_next(hex_text_t *text, uint8_t *data, uint32_t *address, uint32_t *length);

