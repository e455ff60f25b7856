// SPDX-License-Identifier: MIT
// report.cpp: the report of a run, held back until the run has succeeded.
#include "cli/report.h"

#include "cli/command.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// The report waits here for the end of the run: a run that fails prints
// nothing on standard output.
static char *report_text = nullptr;
static size_t report_length = 0, report_capacity = 0;
static FILE *report_stream = stdout;
static bool report_quiet = false;

void report(const char *format, ...)
{
    va_list arguments, again;
    va_start(arguments, format);
    va_copy(again, arguments);
    size_t length = size_t(vsnprintf(nullptr, 0, format, arguments));
    va_end(arguments);
    if (report_length + length + 1 > report_capacity) {
        report_capacity = 2 * report_capacity + length + 1024;
        report_text = static_cast<char *>(realloc(report_text, report_capacity));
        if (report_text == nullptr)
            command_error("cannot allocate memory");
    }
    vsnprintf(report_text + report_length, length + 1, format, again);
    va_end(again);
    report_length += length;
}

void report_to_standard_error()
{
    report_stream = stderr;
}

void report_discard()
{
    report_quiet = true;
}

void report_flush()
{
    fwrite(report_text, 1, report_quiet ? 0 : report_length, report_stream);
    free(report_text);
    report_text = nullptr;
    if (fflush(report_stream) != 0)
        file_error("cannot write the report", report_stream == stdout ? "standard output" : "standard error");
}

void report_start_address(bool present, uint32_t address)
{
    if (present)
        report("start address %08Xh\n", address);
    else
        report("no start address\n");
}
