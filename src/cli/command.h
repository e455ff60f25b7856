// SPDX-License-Identifier: MIT
// command.h: how tesslar-hex and tesslar-merge speak: the ways out, the
// report, and the reading of option values (tesslar takes its version).
#pragma once

#include "ihex.h"

#include <cstddef>
#include <cstdint>

extern const char *const command_version; // "v1.02"

// Each command defines its name and its usage text.
extern const char command_name[];
extern const char command_usage_text[];

// tesslar-hex and tesslar-merge speak as Unix tools do: errors and warnings
// on standard error, one line each; what a run reports on standard output,
// and only when it succeeds.

// "ERROR: <message>" and "Try '<name> --help'."; exit status 1.
[[noreturn]] __attribute__((format(printf, 1, 2))) void command_usage_error(const char *format, ...);

// "ERROR: <message>"; exit status 1, after the cleanup that
// command_at_error named, if any (an output being written is removed).
[[noreturn]] __attribute__((format(printf, 1, 2))) void command_error(const char *format, ...);
void command_at_error(void (*cleanup)());

// command_error for a file that the system refused, with its reason (errno):
// "cannot open input file: 'app.hex': No such file or directory".
[[noreturn]] void file_error(const char *what, const char *path);

// "WARNING: <message>" on standard error, at once.
__attribute__((format(printf, 1, 2))) void command_warning(const char *format, ...);

// A line of the report, kept until report_flush writes them all to standard
// output at the end of a successful run, or to standard error when standard
// output carries an output.
__attribute__((format(printf, 1, 2))) void report(const char *format, ...);
void report_to_standard_error();
void report_discard(); // --quiet: nothing on success
void report_flush();

// --help and --version: the usage text, or the name and version, on
// standard output; status 0.
[[noreturn]] void command_help();
[[noreturn]] void command_version_exit();

// The argument that getopt_long refused, named in a usage error: an unknown
// option, or one without its value.
[[noreturn]] void command_option_error(int result, char **argv);

// An option that getopt_long gave (`result`) and that may be given once, one
// of `once` (ended by 0), given a second time: "duplicate --pad option". `seen`
// has room for every result below 0x300; `table` names the long options.
struct option;
void command_once(int result, const struct option *table, const int *once, bool *seen);

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

// Of the names known(0), known(1)... up to the first null, the nearest to
// `name`, letter case and punctuation aside, by the edits that turn one into
// the other, on the whole name or on its last part after a '/'.
const char *nearest_name(const char *name, const char *(*known)(size_t index));

// `one` for a count of 1, else `many`: "1 record", "2 records".
inline const char *plural(uint64_t count, const char *one, const char *many)
{
    return count == 1 ? one : many;
}
