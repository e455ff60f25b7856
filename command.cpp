// SPDX-License-Identifier: MIT
// command.cpp: the ways out, option values, inputs, IHEX lines and outputs
// of the tesslar commands.
#include "command.h"
#include "quillkit.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cerrno>
#include <cstring>

#include <getopt.h>

const char *const command_version = "v1.02";

// The output being written, whose temporary file a failure removes.
static output_t *pending_output = nullptr;

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
    if (pending_output != nullptr && pending_output->temporary[0] != '\0') {
        fclose(pending_output->stream); // an open file cannot be removed everywhere
        platform_remove(pending_output->temporary);
    }
    va_list arguments;
    va_start(arguments, format);
    say("ERROR: ", format, arguments);
    va_end(arguments);
    exit(1);
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

void report_flush()
{
    fwrite(report_text, 1, report_length, stdout);
    free(report_text);
    report_text = nullptr;
    if (fflush(stdout) != 0)
        file_error("cannot write the report", "standard output");
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

// Inputs are read front to back exactly once, in 64 KiB reads. A bigger
// buffer reads no faster and costs a page fault per 4 KiB on every run: on
// a 1 MiB input, 256 KiB of buffer cost more than half a millisecond.
static char input_stream_buffer[1 << 16];

FILE *open_input(const char *path, platform_file_t *file)
{
    FILE *input = platform_open(path, "rb");
    if (input != nullptr && !platform_stat_open(input, file)) {
        int error = errno;
        fclose(input);
        errno = error;
        return nullptr;
    }
    if (input != nullptr)
        setvbuf(input, input_stream_buffer, _IOFBF, sizeof input_stream_buffer);
    return input;
}

uint8_t *read_all(FILE *input, const char *path, uint64_t *size)
{
    size_t capacity = 1 << 16, used = 0;
    uint8_t *data = static_cast<uint8_t *>(malloc(capacity));
    for (;;) {
        if (data == nullptr)
            command_error("cannot allocate memory");
        used += fread(data + used, 1, capacity - used, input);
        if (used < capacity)
            break;
        capacity *= 2;
        data = static_cast<uint8_t *>(realloc(data, capacity));
    }
    if (ferror(input))
        file_error("cannot read input file", path);
    *size = used;
    return data;
}

bool is_same_file(const char *path, const platform_file_t *file)
{
    platform_file_t other;
    return platform_stat(path, &other) && other.volume == file->volume && other.index == file->index;
}

const char *reader_message(int result)
{
    switch (result) {
    case IHEX_RESULT_EXTRA_CHARACTERS:
        return "extra characters";
    case IHEX_RESULT_INVALID_START_CODE:
        return "invalid start code";
    case IHEX_RESULT_INVALID_LINE:
        return "invalid IHEX line";
    case IHEX_RESULT_INVALID_RECORD:
        return "invalid record";
    case IHEX_RESULT_CHECKSUM_MISMATCH:
        return "checksum mismatch";
    case IHEX_RESULT_DUPLICATE_START_ADDRESS:
        return "duplicate start address record";
    case IHEX_RESULT_ADDRESS_OUT_OF_RANGE:
        return "address out of range";
    default:
        return "unknown error";
    }
}

static bool read_line(char *line, FILE *input)
{
    return platform_read_line(line, ihex_line_size, input) != nullptr;
}

static const char *skip_line_end(const char *p)
{
    while (*p == '\r' || *p == '\n')
        p++;
    return p;
}

void read_ihex(FILE *input, ihex_input_t *state, char *line, uint8_t *data,
               bool (*on_record)(void *context, uint32_t address, uint32_t length, const uint8_t *data),
               void *context)
{
    ihex_reader_init(&state->reader);
    state->line_number = 0;
    state->error = IHEX_RESULT_OK;
    state->end_of_file_seen = state->extra_data = false;
    uint32_t address = 0;
    while (read_line(line, input)) {
        state->line_number++;
        const char *record = skip_line_end(line);
        if (*record == '\0')
            continue;
        uint32_t length;
        int result = ihex_parse_line(&state->reader, record, &address, &length, data);
        if (result == IHEX_RESULT_EOF) {
            // Only blank lines are expected after it; nothing there is parsed.
            state->end_of_file_seen = true;
            while (!state->extra_data && read_line(line, input))
                state->extra_data = *skip_line_end(line) != '\0';
            return;
        }
        if (result != IHEX_RESULT_OK) {
            state->error = result;
            return;
        }
        if (!on_record(context, address, length, data))
            return;
    }
}

bool output_open(output_t *output, const char *path)
{
    output->path = path;
    output->temporary[0] = '\0';
    output->stream = platform_create_beside(path, output->temporary, output->target);
    if (output->stream != nullptr) {
        pending_output = output;
        return true;
    }
    output->temporary[0] = '\0'; // what cannot be replaced is written in place
    output->stream = platform_open(path, "wb");
    return output->stream != nullptr;
}

void open_ihex_output(output_t *output, const char *path, ihex_writer_t *writer, ihex_address_mode_t mode,
                      uint32_t record_bytes)
{
    if (!output_open(output, path))
        file_error("cannot open output file", path);
    ihex_writer_init(writer);
    writer->address_mode = mode;
    writer->max_record_bytes = uint8_t(record_bytes);
}

void write_ihex_block(ihex_writer_t *writer, output_t *output, uint8_t last_block)
{
    char line[16 + 2 * 255];
    for (;;) {
        int result = ihex_write_line(writer, line, last_block);
        if (result == IHEX_WRITE_START_ADDRESS_DROPPED)
            continue;
        if (result == IHEX_WRITE_END_OF_BLOCK && !last_block)
            return;
        size_t length = strlen(line);
        if (fwrite(line, 1, length, output->stream) != length)
            file_error("cannot write output file", output->path);
        if (result == IHEX_WRITE_END_OF_BLOCK)
            return;
    }
}

bool output_close(output_t *output)
{
    // the first failure's reason is the one to tell
    int error = fflush(output->stream) != 0 || ferror(output->stream) ? errno : 0;
    if (fclose(output->stream) != 0 && error == 0)
        error = errno;
    if (output->temporary[0] != '\0') {
        if (error == 0 && !platform_replace(output->temporary, output->target))
            error = errno;
        if (error != 0)
            platform_remove(output->temporary);
    }
    pending_output = nullptr;
    errno = error;
    return error == 0;
}
