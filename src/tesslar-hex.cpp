// SPDX-License-Identifier: MIT
// tesslar-hex: turns a flat binary file back into Intel HEX text.
// The run goes command line, input (one block of an image), output; every
// error leaves through command_usage_error or command_error.
#include "cli/command.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/values.h"
#include "image/image.h"
#include "inputs/file.h"
#include "inputs/inputs.h"
#include "outputs/hex.h"
#include "outputs/file.h"
#include "outputs/outputs.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <getopt.h>

struct hex_options_t {
    uint32_t address;
    record_options_t records;
    bool skip_given;
    uint32_t skip_value;
    const char *input_path;
    const char *output_path;
};

static const char usage_text[] =
    "Usage: tesslar-hex [OPTION]... INPUT.bin OUTPUT.hex\n"
    "Writes a binary file as Intel HEX, every byte of it; - is standard input\n"
    "or standard output.\n"
    "\n"
    "      --address ADDRESS   IHEX address of the input's first byte (default 0)\n"
    "      --record-bytes N    data bytes per record, 1 to 255 (default 32)\n"
    "      --mode MODE         address records: 16bit, segment or linear (the\n"
    "                          default)\n"
    "      --start ADDRESS     a start address to record (not with --mode 16bit)\n"
    "      --skip BYTE         leave out the runs of this byte that would begin a\n"
    "                          record, such as 0xFF, erased flash\n"
    "      --sync              flush the output to the disk before it takes the old\n"
    "                          one's place, to outlive a power cut\n"
    "      --help              print this text and exit\n"
    "      --version           print the name and version and exit\n"
    "\n"
    "Numbers are decimal, 0x hexadecimal, 0b binary or 0 octal. Errors and\n"
    "warnings go to standard error; the summary of a successful run to standard\n"
    "output.\n";

// ---------------------------------------------------------------------------
// Command line

// The options' codes beyond those the commands share.
enum hex_option_t { OPTION_ADDRESS = 0x200, OPTION_SKIP };

static void read_command_line(int argc, char **argv, hex_options_t *options)
{
    *options = hex_options_t{0, record_options_default, false, 0, nullptr, nullptr};
    options->records.record_bytes = 32;
    static const option_row_t rows[] = {{"address", OPTION_ADDRESS, true, true}, OPTION_ROWS_RECORDS,
                                        {"skip", OPTION_SKIP, true, true}, OPTION_ROWS_COMMON};
    option_reader_t reader;
    options_begin(&reader, rows, std::size(rows), argc, argv, false);
    char *value;
    for (int c; (c = options_next(&reader, &value)) != -1;) {
        if (options_read_records(&options->records, c, value))
            continue;
        switch (c) {
        case OPTION_ADDRESS:
            options->address = read_address("--address", value);
            break;
        case OPTION_SKIP:
            options->skip_value = read_bounded("--skip", value, 0, 255);
            options->skip_given = true;
            break;
        case OPTION_HELP:
            command_help();
        default:
            command_version_exit();
        }
    }

    int positional_count = argc - optind;
    if (positional_count == 0)
        command_usage_error("missing input file");
    if (positional_count == 1)
        command_usage_error("missing output file");
    if (positional_count > 2)
        command_usage_error("extra argument '%s'", argv[optind + 2]);
    options->input_path = argv[optind];
    options->output_path = argv[optind + 1];
    if (options->records.start_given)
        check_start_address(options->records.mode, options->records.start_address);
}

// ---------------------------------------------------------------------------
// Input and output

// Keeps the whole input in the image's store; *size receives its length.
static uint64_t read_input(const char *path, image_t *image, uint64_t *size)
{
    platform_file_t file;
    FILE *input = open_input(path, &file, true);
    if (input == nullptr)
        file_error("cannot open input file", path);
    input_error_t error{path, 0, 0, 0, ""};
    uint64_t offset;
    if (!input_load(image, input, &offset, size, &error))
        input_fail(&error);
    fclose(input);
    return offset;
}

// Writes the input, at its address, as one block of IHEX records.
static void write_hex(const hex_options_t *options, image_t *image, uint64_t offset, uint64_t size)
{
    const record_options_t *records = &options->records;
    uint64_t last = options->address + size - 1;
    if (size != 0 && !address_mode_reaches(records->mode, last))
        command_error("the input ends at %08llXh, beyond %08Xh, the highest address of the %s mode%s",
                      static_cast<unsigned long long>(last), address_mode_limit(records->mode),
                      address_mode_name(records->mode),
                      records->mode == IHEX_ADDRESS_MODE_LINEAR ? "" : "; --mode linear reaches FFFFFFFFh");
    image_view_t view{};
    if (!image_begin_input(image) || !image_add(image, options->address, offset, size, 0) ||
        !image_find_regions(image, true) || !image_view_of(image, IMAGE_LAST_WINS, image_pad_t{0xFF, 1}, &view))
        command_error("cannot allocate memory");
    // every byte is written unless the user names one to leave out
    hex_records_t format{records->mode, records->record_bytes, options->skip_given, uint8_t(options->skip_value),
                         records->start_given, records->start_address};
    ihex_writer_t writer;
    output_t output;
    if (!output_open(&output, options->output_path))
        file_error("cannot open output file", options->output_path);
    output_ihex(&view, &output, &format, &writer);
    if (!output_close(&output) || !output_commit(&output))
        file_error("cannot write output file", options->output_path);
    image_view_free(&view);
    report("Wrote '%s': %u %s, %u data %s", options->output_path, writer.line_count,
           plural(writer.line_count, "line", "lines"), writer.data_byte_count,
           plural(writer.data_byte_count, "byte", "bytes"));
    if (size != 0)
        report(" at %08Xh - %08Xh", options->address, uint32_t(last));
    report(", %s mode\n", address_mode_name(records->mode));
}

// ---------------------------------------------------------------------------

int main(int argc, char **argv)
{
    hex_options_t options;
    command_begin("tesslar-hex", usage_text);
    platform_arguments(&argc, &argv);
    read_command_line(argc, argv, &options);
    if (options.records.sync)
        output_sync_to_disk();
    uint64_t input_size = outputs_spare_input(&options.output_path, 1, options.input_path, false);

    image_t image;
    image_init(&image, input_size + 1, 1);
    uint64_t size, offset = read_input(options.input_path, &image, &size);
    write_hex(&options, &image, offset, size);
    image_free(&image);
    report_flush();
    return 0;
}
