// SPDX-License-Identifier: MIT
// command.h: what the tesslar commands share: reading IHEX lines with the
// converter's rules, opening inputs and outputs, and, for tesslar-hex and
// tesslar-merge, the ways out, the report and the reading of option values.
#pragma once

#include "ihex.h"
#include "platform.h"

#include <cstdint>
#include <cstdio>

extern const char *const command_version; // "v1.02"

// Each command defines its name and its usage text.
extern const char command_name[];
extern const char command_usage_text[];

// tesslar-hex and tesslar-merge speak as Unix tools do: errors and warnings
// on standard error, one line each; what a run reports on standard output,
// and only when it succeeds.

// "ERROR: <message>" and "Try '<name> --help'."; exit status 1.
[[noreturn]] __attribute__((format(printf, 1, 2))) void command_usage_error(const char *format, ...);

// "ERROR: <message>"; exit status 1. An output being written is removed.
[[noreturn]] __attribute__((format(printf, 1, 2))) void command_error(const char *format, ...);

// command_error for a file that the system refused, with its reason (errno):
// "cannot open input file: 'app.hex': No such file or directory".
[[noreturn]] void file_error(const char *what, const char *path);

// "WARNING: <message>" on standard error, at once.
__attribute__((format(printf, 1, 2))) void command_warning(const char *format, ...);

// A line of the report, kept until report_flush writes them all to standard
// output at the end of a successful run.
__attribute__((format(printf, 1, 2))) void report(const char *format, ...);
void report_flush();

// --help and --version: the usage text, or the name and version, on
// standard output; status 0.
[[noreturn]] void command_help();
[[noreturn]] void command_version_exit();

// The argument that getopt_long refused, named in a usage error: an unknown
// option, or one without its value.
[[noreturn]] void command_option_error(int result, char **argv);

// malloc, or the end of the run with "cannot allocate memory"; a size of 0
// gives a block too.
void *allocate(size_t size);

// Option values. Each is read whole, and one beyond what its option holds is
// a usage error that names the option; nothing is cut short.
// An address, 0 to FFFFFFFFh.
uint32_t read_address(const char *option, const char *text);
// A number from `low` to `high`.
uint32_t read_bounded(const char *option, const char *text, uint32_t low, uint32_t high);
// "<first>:<last>", both included, or "<first>+<size>".
void read_range(const char *option, const char *text, uint32_t *first, uint32_t *last);
// 16bit, segment or linear.
ihex_address_mode_t read_address_mode(const char *text);
const char *address_mode_name(ihex_address_mode_t mode);
uint32_t address_mode_limit(ihex_address_mode_t mode); // the highest address it reaches
// A --start value the mode cannot write is a usage error.
void check_start_address(ihex_address_mode_t mode, uint32_t start_address);

// Opens an input for reading in binary mode, with a large buffer; a folder,
// which opens but holds nothing, gives null too, with errno EISDIR. *file
// receives what the system tells of it. One input is open at a time.
FILE *open_input(const char *path, platform_file_t *file);

// Reads what is left of `input` into one heap block and returns it; *size
// receives its length. A failed read is fatal.
uint8_t *read_all(FILE *input, const char *path, uint64_t *size);

// Whether `path` names the file that `file` describes, by its identity: a
// hard or a symbolic link to it counts, and so does another spelling.
bool is_same_file(const char *path, const platform_file_t *file);

// The converter's message for a reader result or IHEX_RESULT_ADDRESS_OUT_OF_RANGE.
const char *reader_message(int result);

/*
 * Reads IHEX lines from `input` with the converter's rules: a line holds at
 * most 522 characters (`line` has room for 523), lines of CR and LF only are
 * skipped, the first bad record ends the reading, and so does the
 * end-of-file record, after which only blank lines are expected. Every other
 * accepted record goes to `on_record` with the address of the last data
 * record (0 before the first), its length (0 for other records) and its
 * bytes in `data`; when it returns false the reading stops as if the input
 * had ended there. `line_number` counts every line read.
 */
constexpr int ihex_line_size = 523;
struct ihex_input_t {
    ihex_reader_t reader;
    uint32_t line_number;
    int error;             // IHEX_RESULT_OK, or the result of the bad record
    bool end_of_file_seen; // the reading ended at an end-of-file record
    bool extra_data;       // something other than blank lines came after it
};
void read_ihex(FILE *input, ihex_input_t *state, char *line, uint8_t *data,
               bool (*on_record)(void *context, uint32_t address, uint32_t length, const uint8_t *data),
               void *context);

/*
 * An output written to a temporary file beside it and renamed over it once
 * whole, so that a failed run leaves neither a partial file nor a damaged
 * earlier one. A device, a pipe or anything else that cannot be replaced is
 * written in place. From output_open to output_close a command_error removes
 * the temporary file.
 */
struct output_t {
    FILE *stream;
    const char *path;
    char temporary[4096]; // empty when written in place
    char target[4096];    // the file the temporary one replaces
};
bool output_open(output_t *output, const char *path);
// Opens `path` as output_open does, a failure being fatal, and prepares
// `writer` for a stream in `mode` with up to `record_bytes` bytes a record.
void open_ihex_output(output_t *output, const char *path, ihex_writer_t *writer, ihex_address_mode_t mode,
                      uint32_t record_bytes);
// Writes every line the writer makes of its current block, and closes the
// stream after it when `last_block` is set; a failed write is fatal.
void write_ihex_block(ihex_writer_t *writer, output_t *output, uint8_t last_block);
// Flushes and closes the stream and puts the file in place; false, with
// errno telling why, on a failed write. Either way the temporary file is
// gone afterwards.
bool output_close(output_t *output);
