// SPDX-License-Identifier: MIT
// command.cpp: the name, the ways out and the warnings of tesslar-hex and
// tesslar-merge.
#include "cli/command.h"

#include "cli/version.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>

static const char *name_text = "";
static const char *usage = "";
// What an error undoes before the run ends.
static void (*error_cleanup)() = nullptr;

void command_begin(const char *name, const char *usage_text)
{
    name_text = name;
    usage = usage_text;
}

const char *command_name()
{
    return name_text;
}

static void say(const char *prefix, const char *format, va_list arguments)
{
    fputs(prefix, stderr);
    vfprintf(stderr, format, arguments);
    fputc('\n', stderr);
}

void command_usage_error(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    say("ERROR: ", format, arguments);
    va_end(arguments);
    fprintf(stderr, "Try '%s --help'.\n", name_text);
    exit(1);
}

void command_error(const char *format, ...)
{
    if (error_cleanup != nullptr)
        error_cleanup();
    va_list arguments;
    va_start(arguments, format);
    say("ERROR: ", format, arguments);
    va_end(arguments);
    exit(1);
}

void command_at_error(void (*cleanup)())
{
    error_cleanup = cleanup;
}

void file_error(const char *what, const char *path)
{
    command_error("%s: '%s': %s", what, path, strerror(errno));
}

void command_warning(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    say("WARNING: ", format, arguments);
    va_end(arguments);
}

void command_help()
{
    fputs(usage, stdout);
    exit(0);
}

void command_version_exit()
{
    printf("%s %s\n", name_text, command_version);
    exit(0);
}

void *allocate(size_t size)
{
    void *block = malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        command_error("cannot allocate memory");
    return block;
}
