// SPDX-License-Identifier: MIT
// file.h: reading an input file once, front to back: opening it, and
// taking its IHEX records line by line with the converter's rules.
#pragma once

#include "ihex.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>

// Opens an input for reading in binary mode, with a large buffer; "-" is
// standard input where `dash_is_standard_input` says so. A folder, which
// opens but holds nothing, gives null too, with errno EISDIR. *file receives
// what the system tells of it. One input is open at a time.
FILE *open_input(const char *path, platform_file_t *file, bool dash_is_standard_input);

/*
 * Lines of a text input read as fgets reads them, but counted: the bytes of
 * a line are all there, NUL bytes among them, so that a NUL cannot hide what
 * follows it. The reader keeps its own buffer of the file.
 */
struct text_reader_t {
    FILE *file;
    size_t at, end;
    char buffer[1 << 16];
};
void text_reader_begin(text_reader_t *reader, FILE *file);
// Up to size - 1 bytes of the next line, through its LF, into `line`, and a
// NUL after them; returns how many, 0 at the end of the file or at a read
// error (which ferror tells).
size_t text_read_line(text_reader_t *reader, char *line, size_t size);

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
    // With a counting reader (hex_text_count), a NUL byte in a line before the
    // end-of-file record ends the reading too: its column, from 1.
    text_reader_t *counted;
    uint32_t nul_column;
};
void hex_text_begin(hex_text_t *text, FILE *file, char *line);
void hex_text_count(hex_text_t *text, text_reader_t *reader);

// Reads up to the next accepted record other than the end-of-file record and
// returns true, with its length (0 for other records) and its bytes in
// `data`; *address holds the address of the last data record, and keeps it
// across calls (start it at 0). False when the reading has ended
// (text->error and text->end_of_file_seen say how); a read error ends it
// too, which ferror(file) tells.
bool hex_text_next(hex_text_t *text, uint8_t *data, uint32_t *address, uint32_t *length);

