// SPDX-License-Identifier: MIT
// command.cpp: the ways out, the report and option values of tesslar-hex
// and tesslar-merge.
#include "cli/command.h"
#include "quillkit.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>

#include <getopt.h>

const char *const command_version = "v1.02";

// What an error undoes before the run ends.
static void (*error_cleanup)() = nullptr;

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
    fprintf(stderr, "Try '%s --help'.\n", command_name);
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

// The report waits here for the end of the run: a run that fails prints
// nothing on standard output.
static char *report_text = nullptr;
static size_t report_length = 0, report_capacity = 0;

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

static FILE *report_stream = stdout;
static bool report_quiet = false;

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

void command_help()
{
    fputs(command_usage_text, stdout);
    exit(0);
}

void command_version_exit()
{
    printf("%s %s\n", command_name, command_version);
    exit(0);
}

void command_option_error(int result, char **argv)
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

void command_once(int result, const struct option *table, const int *once, bool *seen)
{
    while (*once != 0 && *once != result)
        once++;
    if (*once == 0 || result < 0 || result >= 0x300)
        return;
    if (seen[result]) {
        while (table->name != nullptr && table->val != result)
            table++;
        if (table->name != nullptr)
            command_usage_error("duplicate --%s option", table->name);
        command_usage_error("duplicate -%c option", result);
    }
    seen[result] = true;
}

void *allocate(size_t size)
{
    void *block = malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        command_error("cannot allocate memory");
    return block;
}

[[noreturn]] static void bad_value(const char *option, const char *text, const char *what)
{
    command_usage_error("invalid value for %s: '%s'. %s", option, text, what);
}

// A number that fills [text, end) exactly.
static bool read_number(const char *text, const char *end, uint64_t *value)
{
    const char *used;
    *value = qkit_parse_unsigned(text, &used);
    return used == end && used != text;
}

uint32_t read_address(const char *option, const char *text)
{
    uint64_t value;
    if (!read_number(text, text + strlen(text), &value) || value > 0xFFFFFFFF)
        bad_value(option, text, "Must be an address from 0 to FFFFFFFFh");
    return uint32_t(value);
}

uint32_t read_bounded(const char *option, const char *text, uint32_t low, uint32_t high)
{
    uint64_t value;
    if (!read_number(text, text + strlen(text), &value) || value < low || value > high) {
        char must[64];
        snprintf(must, sizeof must, "Must be %u to %u", low, high);
        bad_value(option, text, must);
    }
    return uint32_t(value);
}

void read_range(const char *option, const char *text, uint32_t *first, uint32_t *last)
{
    // a leading '+' would be the sign of the first number
    const char *colon = strchr(text, ':'), *plus = text[0] != '\0' ? strchr(text + 1, '+') : nullptr;
    const char *separator = colon != nullptr ? colon : plus;
    uint64_t a, b;
    if (separator == nullptr || !read_number(text, separator, &a) ||
        !read_number(separator + 1, separator + 1 + strlen(separator + 1), &b) || a > 0xFFFFFFFF ||
        b > (separator == colon ? 0xFFFFFFFF : uint64_t(1) << 32))
        bad_value(option, text, "Must be <first>:<last> or <first>+<size>, addresses of 32 bits");
    if (separator == plus && b == 0)
        bad_value(option, text, "The size must be above 0");
    uint64_t end = separator == colon ? b : a + b - 1;
    if (end > 0xFFFFFFFF)
        bad_value(option, text, "The range passes FFFFFFFFh");
    if (a > end)
        bad_value(option, text, "The first address is above the last");
    *first = uint32_t(a);
    *last = uint32_t(end);
}

static const char *const address_mode_names[] = {"16bit", "segment", "linear"};

ihex_address_mode_t read_address_mode(const char *text)
{
    for (uint32_t mode = IHEX_ADDRESS_MODE_16BIT; mode <= IHEX_ADDRESS_MODE_LINEAR; mode++)
        if (strcmp(text, address_mode_names[mode - 1]) == 0)
            return ihex_address_mode_t(mode);
    bad_value("--mode", text, "Must be 16bit, segment or linear");
}

const char *address_mode_name(ihex_address_mode_t mode)
{
    return address_mode_names[mode - 1];
}

uint32_t address_mode_limit(ihex_address_mode_t mode)
{
    return mode == IHEX_ADDRESS_MODE_16BIT ? 0xFFFF : mode == IHEX_ADDRESS_MODE_SEGMENT ? 0xFFFFF : 0xFFFFFFFF;
}

void check_start_address(ihex_address_mode_t mode, uint32_t start_address)
{
    if (mode == IHEX_ADDRESS_MODE_16BIT)
        command_usage_error("--start needs --mode segment or linear: the 16bit mode has no start address record");
    if (start_address > address_mode_limit(mode))
        command_usage_error("--start %08Xh lies beyond 000FFFFFh, the highest address of the segment mode",
                            start_address);
}

// A name as a user may misspell it: its letters and digits, in upper case.
static void normalise(const char *name, char (&out)[64])
{
    size_t n = 0;
    for (; *name != '\0' && n + 1 < sizeof out; name++)
        if (isalnum(static_cast<unsigned char>(*name)))
            out[n++] = char(toupper(static_cast<unsigned char>(*name)));
    out[n] = '\0';
}

// The edits (insertions, deletions, changes) that turn `a` into `b`.
static size_t edit_distance(const char *a, const char *b)
{
    size_t row[64] = {}, length = strlen(b);
    for (size_t j = 0; j <= length; j++)
        row[j] = j;
    for (size_t i = 1; a[i - 1] != '\0'; i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= length; j++) {
            size_t changed = diagonal + (a[i - 1] != b[j - 1]);
            diagonal = row[j];
            row[j] = std::min({changed, row[j] + 1, row[j - 1] + 1});
        }
    }
    return row[length];
}

// How far `name` is from a known one, letter case and punctuation aside: from
// the whole name or from its last part after a '/' ("KERMIT" of
// "CRC-16/KERMIT"), whichever is nearer.
static size_t distance_to(const char *wanted, const char *known_name)
{
    char known[64], part[64];
    normalise(known_name, known);
    normalise(strrchr(known_name, '/') != nullptr ? strrchr(known_name, '/') + 1 : known_name, part);
    return std::min(edit_distance(wanted, known), edit_distance(wanted, part));
}

const char *nearest_name(const char *name, const char *(*known)(size_t index))
{
    char wanted[64];
    normalise(name, wanted);
    const char *best = known(0);
    size_t best_distance = distance_to(wanted, best);
    for (size_t i = 1; known(i) != nullptr; i++) {
        if (distance_to(wanted, known(i)) < best_distance) {
            best = known(i);
            best_distance = distance_to(wanted, known(i));
        }
    }
    return best;
}
