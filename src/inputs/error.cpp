// SPDX-License-Identifier: MIT
// error.cpp: the one form of a reader's error, filled where the reader
// finds what is wrong and told once.
#include "inputs/inputs.h"

#include "cli/command.h"
#include "inputs/readers.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

bool input_error(input_error_t *error, uint32_t line, const char *format, ...)
{
    error->line = line;
    error->column = 0;
    error->system_error = 0;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(error->text, sizeof error->text, format, arguments);
    va_end(arguments);
    return false;
}

bool input_system_error(input_error_t *error, const char *what)
{
    int system_error = errno;
    input_error(error, 0, "%s", what);
    error->system_error = system_error;
    return false;
}

bool input_no_memory(input_error_t *error)
{
    return input_error(error, 0, "cannot allocate memory");
}

bool input_no_format(input_error_t *error)
{
    return input_error(error, 0, "'%s' is neither Intel HEX, S-records nor ELF; a raw binary goes with --binary "
                       "%s@ADDRESS", error->path, error->path);
}

bool input_nul(input_error_t *error, uint32_t line, uint32_t column)
{
    input_error(error, line, "NUL character");
    error->column = column;
    return false;
}

void input_fail(const input_error_t *error)
{
    if (error->system_error != 0)
        command_error("%s: '%s': %s", error->text, error->path, strerror(error->system_error));
    if (error->line != 0 && error->column != 0)
        command_error("%s at line %u, column %u of '%s'", error->text, error->line, error->column, error->path);
    if (error->line != 0)
        command_error("%s at line %u of '%s'", error->text, error->line, error->path);
    command_error("%s", error->text);
}
