// SPDX-License-Identifier: MIT
// report.h: what a successful run reports, kept until its end, and the
// words it is said in.
#pragma once

#include <cstdint>

// A line of the report, kept until report_flush writes them all to standard
// output at the end of a successful run, or to standard error when standard
// output carries an output.
__attribute__((format(printf, 1, 2))) void report(const char *format, ...);
void report_to_standard_error();
void report_discard(); // --quiet: nothing on success
void report_flush();

// The end of an input's or an output's line: "start address 08000145h\n",
// or "no start address\n".
void report_start_address(bool present, uint32_t address);

// `one` for a count of 1, else `many`: "1 record", "2 records".
inline const char *plural(uint64_t count, const char *one, const char *many)
{
    return count == 1 ? one : many;
}
