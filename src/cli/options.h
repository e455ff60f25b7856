// SPDX-License-Identifier: MIT
// options.h: the command line as both commands read it: one table of
// options, each row saying whether the option takes a value and whether it
// may be given again, read with getopt_long (`--opt=value`, `--opt value`,
// `--`); and the options of IHEX output that both commands take.
#pragma once

#include "ihex.h"

#include <cstddef>
#include <cstdint>

#include <getopt.h>

// A row of a command's table: the long name (null for a letter alone), the
// code that names it (the letter of its short form, or a code from 0x100 up
// for an option without one), whether it takes a value, and whether it may
// be given once only, a second one being a usage error ("duplicate --pad
// option").
struct option_row_t {
    const char *name;
    int code;
    bool takes_value;
    bool once;
};

constexpr size_t options_most = 48;
struct option_reader_t {
    const option_row_t *rows;
    size_t count;
    int argc;
    char **argv;
    struct option table[options_most + 1];
    char letters[3 * options_most + 4];
    bool seen[options_most];
};

// Reads the command line by `rows` (at most options_most of them). With
// `operands_in_place`, an operand comes back where it stands, as code 1;
// without, getopt_long moves the operands to the end.
void options_begin(option_reader_t *reader, const option_row_t *rows, size_t count, int argc, char **argv,
                   bool operands_in_place);
// The next option's code, with its value (or null) in *value; -1 once the
// options end, the operands left from optind on. An unknown option, one
// without its value, or one of one use given again ends the run with a usage
// error.
int options_next(option_reader_t *reader, char **value);

// The codes of the options every command takes, and those of its IHEX
// output that both tesslar-hex and tesslar-merge take.
enum common_option_t { OPTION_HELP = 0x100, OPTION_VERSION, OPTION_RECORD_BYTES, OPTION_MODE, OPTION_START,
                       OPTION_SYNC };
#define OPTION_ROWS_COMMON {"help", OPTION_HELP, false, false}, {"version", OPTION_VERSION, false, false}
#define OPTION_ROWS_RECORDS                                                                                       \
    {"record-bytes", OPTION_RECORD_BYTES, true, true}, {"mode", OPTION_MODE, true, true},                          \
        {"start", OPTION_START, true, true}, {"sync", OPTION_SYNC, false, true}

// What those options say: data bytes a record (0 until given), the address
// mode (linear until given), the start address to write, and whether the
// outputs are flushed to the disk.
struct record_options_t {
    uint32_t record_bytes;
    ihex_address_mode_t mode;
    bool start_given;
    uint32_t start_address;
    bool sync;
};
inline constexpr record_options_t record_options_default{0, IHEX_ADDRESS_MODE_LINEAR, false, 0, false};
// Takes an option of OPTION_ROWS_RECORDS: true when `code` is one.
bool options_read_records(record_options_t *options, int code, const char *value);
