// SPDX-License-Identifier: MIT
// tesslar-hex: turns a flat binary file back into Intel HEX text.
// The run goes banner, command line, input, output; every error leaves
// through usage_error or fatal_error.
#include "command.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct hex_options_t {
    uint32_t address;
    uint32_t record_bytes;
    ihex_address_mode_t mode;
    bool start_present;
    uint32_t start_address;
    bool skip_given;
    uint32_t skip_value;
    int positional_count;
    const char *input_path;
    const char *output_path;
};

const char command_usage_text[] =
    "\n\nUSAGE: tesslar-hex [<options>] <input .bin file> <output .hex file>"
    "\n\twhere: <options> can be"
    "\n\t\t--address <value>\t-\tIHEX address of the first input byte (default 0)"
    "\n\t\t--record-bytes <n>\t-\tdata bytes per record, 1 to 255 (default 32)"
    "\n\t\t--mode <mode>\t\t-\taddress records: 16bit, segment or linear (default linear)"
    "\n\t\t--start <value>\t\t-\tstart address to record (not with --mode 16bit)"
    "\n\t\t--skip <value>\t\t-\tleave out the runs of this byte that would start a record (such as 0xFF,"
    "\n\t\t\t\t\t\terased flash); without it every byte is written"
    "\n\t\t--help, --version\t-\tthis text, or the name and version\n\n";

// ---------------------------------------------------------------------------
// Command line

static void read_command_line(int argc, char **argv, hex_options_t *options)
{
    *options = hex_options_t{0, 32, IHEX_ADDRESS_MODE_LINEAR, false, 0, false, 0, 0, nullptr, nullptr};

    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        help_or_version(argument);
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool takes_value = strcmp(argument, "--address") == 0 || strcmp(argument, "--record-bytes") == 0 ||
                           strcmp(argument, "--mode") == 0 || strcmp(argument, "--start") == 0 ||
                           strcmp(argument, "--skip") == 0;
        if (takes_value) {
            if (value == nullptr)
                usage_error("missing value for %s", argument);
            i++;
        }

        if (strcmp(argument, "--address") == 0) {
            options->address = read_value(value, "invalid value for --address");
        } else if (strcmp(argument, "--record-bytes") == 0) {
            options->record_bytes = read_record_bytes(value);
        } else if (strcmp(argument, "--mode") == 0) {
            options->mode = read_address_mode(value);
        } else if (strcmp(argument, "--start") == 0) {
            options->start_address = read_value(value, "invalid value for --start");
            options->start_present = true;
        } else if (strcmp(argument, "--skip") == 0) {
            options->skip_value = read_bounded(value, 0, 0xFF, "invalid value for --skip. Must be 0 to 255");
            options->skip_given = true;
        } else if (argument[0] == '-') {
            usage_error("unknown argument '%s'", argument);
        } else if (options->positional_count == 0) {
            options->input_path = argument;
            options->positional_count++;
        } else if (options->positional_count == 1) {
            options->output_path = argument;
            options->positional_count++;
        } else {
            usage_error("extra argument '%s'", argument);
        }
    }

    if (options->positional_count == 0)
        usage_error("missing input file");
    if (options->positional_count == 1)
        usage_error("missing output file");
    if (options->start_present)
        check_start_address(options->mode, options->start_address);
}

// ---------------------------------------------------------------------------
// Input

// Reads the whole input into one heap block; *size receives its length.
static uint8_t *read_input(const char *path, uint64_t *size)
{
    printf("\nInput file: %s", path);
    struct stat status;
    FILE *input = open_input(path, "rb", &status);
    if (input == nullptr)
        file_error("cannot open input file", path);

    size_t capacity = 1 << 16, used = 0;
    uint8_t *data = static_cast<uint8_t *>(malloc(capacity));
    for (;;) {
        if (data == nullptr)
            fatal_error(0, "cannot allocate memory");
        used += fread(data + used, 1, capacity - used, input);
        if (used < capacity)
            break;
        capacity *= 2;
        data = static_cast<uint8_t *>(realloc(data, capacity));
    }
    if (ferror(input))
        file_error("cannot read input file", path);
    fclose(input);
    *size = used;
    return data;
}

// ---------------------------------------------------------------------------
// Output

// Drives the writer over the input as one block and writes each line as it
// comes. Returns the writer, for its counters.
static ihex_writer_t write_hex(const hex_options_t *options, const uint8_t *data, uint64_t size)
{
    printf("\nOutput file: %s", options->output_path);
    printf("\nAddress mode: %s", address_mode_name(options->mode));
    if (size == 0)
        printf("\nAddress range: empty");
    else
        printf("\nAddress range: %08Xh - %08llXh", options->address,
               static_cast<unsigned long long>(options->address + size - 1));
    if (size != 0 && options->address + size - 1 > address_mode_limit(options->mode))
        fatal_error(0, "the input ends beyond %08Xh, the highest address of the %s mode",
                    address_mode_limit(options->mode), address_mode_name(options->mode));

    output_t output;
    ihex_writer_t writer;
    open_ihex_output(&output, options->output_path, &writer, options->mode, options->record_bytes);
    // every byte is written unless the user names one to leave out
    writer.skip_fill = options->skip_given ? 1 : 0;
    writer.fill_value = uint8_t(options->skip_value);
    writer.start_address_present = options->start_present ? 1 : 0;
    writer.start_address = options->start_address;
    writer.data = data;
    writer.address = options->address;
    writer.remaining = uint32_t(size);

    write_ihex_block(&writer, &output, 1);
    if (!output_close(&output))
        file_error("cannot write output file", options->output_path);
    return writer;
}

// ---------------------------------------------------------------------------

int main(int argc, char **argv)
{
    hex_options_t options;
    printf("\nTESSLAR-HEX %s.\n", command_version);
    read_command_line(argc, argv, &options);
    // Writing over the input would destroy it before it was read.
    struct stat input_status;
    if (stat(options.input_path, &input_status) == 0 && is_same_file(options.output_path, &input_status))
        fatal_error(0, "the output file is the input file: '%s'", options.output_path);

    uint64_t size;
    uint8_t *data = read_input(options.input_path, &size);
    ihex_writer_t writer = write_hex(&options, data, size);
    free(data);

    printf("\nWrote %u lines, %u data bytes", writer.line_count, writer.data_byte_count);
    printf("\n\n");
    return 0;
}
