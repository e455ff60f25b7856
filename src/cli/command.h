// SPDX-License-Identifier: MIT
// command.h: how tesslar-hex and tesslar-merge speak as Unix tools do: their
// name, given once at start-up, errors and warnings on standard error, one
// line each, --help and --version, and memory or the end of the run.
#pragma once

#include <cstddef>

// The command's name and usage text, for the messages and --help; main gives
// them before anything else.
void command_begin(const char *name, const char *usage_text);
const char *command_name();

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

// --help and --version: the usage text, or the name and version, on
// standard output; status 0.
[[noreturn]] void command_help();
[[noreturn]] void command_version_exit();

// malloc, or the end of the run with "cannot allocate memory"; a size of 0
// gives a block too.
void *allocate(size_t size);
