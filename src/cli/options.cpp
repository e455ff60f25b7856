// SPDX-License-Identifier: MIT
// options.cpp: the command line read by a table of options, each option of
// one use given once, and the options of the IHEX output.
#include "cli/options.h"

#include "cli/command.h"
#include "cli/values.h"

#include <cassert>
#include <cstring>

void options_begin(option_reader_t *reader, const option_row_t *rows, size_t count, int argc, char **argv,
                   bool operands_in_place)
{
    assert(count <= options_most);
    *reader = option_reader_t{rows, count, argc, argv, {}, {}, {}};
    // ":" first: a missing value comes back as ':', not as a message of getopt's own
    char *letter = reader->letters;
    if (operands_in_place)
        *letter++ = '-';
    *letter++ = ':';
    size_t named = 0;
    for (size_t i = 0; i < count; i++) {
        if (rows[i].code < 0x100) {
            *letter++ = char(rows[i].code);
            if (rows[i].takes_value)
                *letter++ = ':';
        }
        if (rows[i].name != nullptr)
            reader->table[named++] = {rows[i].name, rows[i].takes_value ? required_argument : no_argument, nullptr,
                                      rows[i].code};
    }
    *letter = '\0';
    reader->table[named] = {nullptr, 0, nullptr, 0};
}

// The argument that getopt_long refused: an unknown option, or one without
// its value.
[[noreturn]] static void refused(int result, char **argv)
{
    // An unknown short option is in optopt (long ones have codes above a
    // character's); anything else is the argument getopt_long just passed.
    const char *argument = argv[optind - 1];
    if (result == ':' && strchr(argument, '=') == nullptr) // some getopt_long give ':' for "--help=1" too
        command_usage_error("missing value for %s", argument);
    if (optopt > 0 && optopt < 0x100)
        command_usage_error("unknown option '-%c'", optopt);
    command_usage_error("unknown option '%s'", argument);
}

int options_next(option_reader_t *reader, char **value)
{
    int code = getopt_long(reader->argc, reader->argv, reader->letters, reader->table, nullptr);
    *value = optarg;
    if (code == -1 || code == 1)
        return code;
    size_t row = 0;
    while (row < reader->count && reader->rows[row].code != code)
        row++;
    if (row == reader->count)
        refused(code, reader->argv);
    if (reader->rows[row].once && reader->seen[row]) {
        if (reader->rows[row].name != nullptr)
            command_usage_error("duplicate --%s option", reader->rows[row].name);
        command_usage_error("duplicate -%c option", code);
    }
    reader->seen[row] = true;
    return code;
}

bool options_read_records(record_options_t *options, int code, const char *value)
{
    switch (code) {
    case OPTION_RECORD_BYTES:
        options->record_bytes = read_bounded("--record-bytes", value, 1, 255);
        return true;
    case OPTION_MODE:
        options->mode = read_address_mode(value);
        return true;
    case OPTION_START:
        options->start_address = read_address("--start", value);
        options->start_given = true;
        return true;
    case OPTION_SYNC:
        options->sync = true;
        return true;
    default:
        return false;
    }
}
