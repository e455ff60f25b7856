// SPDX-License-Identifier: MIT
// tesslar-hex: turns a flat binary file back into Intel HEX text.
// The run goes command line, input (one block of an image), output; every
// error leaves through command_usage_error or command_error.
#include "cli/command.h"
#include "image/image.h"
#include "inputs/file.h"
#include "inputs/inputs.h"
#include "outputs/outputs.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <getopt.h>

struct hex_options_t {
    uint32_t address;
    uint32_t record_bytes;
    ihex_address_mode_t mode;
    bool start_present;
    uint32_t start_address;
    bool skip_given;
    uint32_t skip_value;
    const char *input_path;
    const char *output_path;
};

const char command_name[] = "tesslar-hex";
const char command_usage_text[] =
    "Usage: tesslar-hex [OPTION]... INPUT.bin OUTPUT.hex\n"
    "Writes a binary file as Intel HEX, every byte of it.\n"
    "\n"
    "      --address ADDRESS   IHEX address of the input's first byte (default 0)\n"
    "      --record-bytes N    data bytes per record, 1 to 255 (default 32)\n"
    "      --mode MODE         address records: 16bit, segment or linear (the\n"
    "                          default)\n"
    "      --start ADDRESS     a start address to record (not with --mode 16bit)\n"
    "      --skip BYTE         leave out the runs of this byte that would begin a\n"
    "                          record, such as 0xFF, erased flash\n"
    "      --help              print this text and exit\n"
    "      --version           print the name and version and exit\n"
    "\n"
    "Numbers are decimal, 0x hexadecimal, 0b binary or 0 octal. Errors and\n"
    "warnings go to standard error; the summary of a successful run to standard\n"
    "output.\n";

// ---------------------------------------------------------------------------
// Command line

// getopt_long's codes for the options, none of them a character's
enum hex_option_t { OPTION_ADDRESS = 0x100, OPTION_RECORD_BYTES, OPTION_MODE, OPTION_START, OPTION_SKIP, OPTION_HELP,
                    OPTION_VERSION };

static void read_command_line(int argc, char **argv, hex_options_t *options)
{
    *options = hex_options_t{0, 32, IHEX_ADDRESS_MODE_LINEAR, false, 0, false, 0, nullptr, nullptr};
    static const option table[] = {{"address", required_argument, nullptr, OPTION_ADDRESS},
                                   {"record-bytes", required_argument, nullptr, OPTION_RECORD_BYTES},
                                   {"mode", required_argument, nullptr, OPTION_MODE},
                                   {"start", required_argument, nullptr, OPTION_START},
                                   {"skip", required_argument, nullptr, OPTION_SKIP},
                                   {"help", no_argument, nullptr, OPTION_HELP},
                                   {"version", no_argument, nullptr, OPTION_VERSION},
                                   {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, ":", table, nullptr)) != -1;) {
        switch (c) {
        case OPTION_ADDRESS:
            options->address = read_address("--address", optarg);
            break;
        case OPTION_RECORD_BYTES:
            options->record_bytes = read_bounded("--record-bytes", optarg, 1, 255);
            break;
        case OPTION_MODE:
            options->mode = read_address_mode(optarg);
            break;
        case OPTION_START:
            options->start_address = read_address("--start", optarg);
            options->start_present = true;
            break;
        case OPTION_SKIP:
            options->skip_value = read_bounded("--skip", optarg, 0, 255);
            options->skip_given = true;
            break;
        case OPTION_HELP:
            command_help();
        case OPTION_VERSION:
            command_version_exit();
        default:
            command_option_error(c, argv);
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
    if (options->start_present)
        check_start_address(options->mode, options->start_address);
}

// ---------------------------------------------------------------------------
// Input and output

// Keeps the whole input in the image's store; *size receives its length.
static uint64_t read_input(const char *path, image_t *image, uint64_t *size)
{
    platform_file_t file;
    FILE *input = open_input(path, &file);
    if (input == nullptr)
        file_error("cannot open input file", path);
    input_t source{path, INPUT_BINARY, 0, nullptr, 0, 0};
    input_verdict_t verdict;
    uint64_t offset;
    if (!input_load(image, input, &offset, size, &verdict))
        input_fail(&source, &verdict);
    fclose(input);
    return offset;
}

// Writes the input, at its address, as one block of IHEX records.
static void write_hex(const hex_options_t *options, image_t *image, uint64_t offset, uint64_t size)
{
    uint64_t last = options->address + size - 1;
    uint32_t limit = address_mode_limit(options->mode);
    if (size != 0 && last > limit)
        command_error("the input ends at %08llXh, beyond %08Xh, the highest address of the %s mode%s",
                      static_cast<unsigned long long>(last), limit, address_mode_name(options->mode),
                      options->mode == IHEX_ADDRESS_MODE_LINEAR ? "" : "; --mode linear reaches FFFFFFFFh");
    image_view_t view{};
    if (!image_begin_input(image) || !image_add(image, options->address, offset, size, 0) ||
        !image_find_regions(image, true) || !image_view_of(image, IMAGE_LAST_WINS, &view))
        command_error("cannot allocate memory");
    // every byte is written unless the user names one to leave out
    ihex_format_t format{options->mode, options->record_bytes, options->skip_given, uint8_t(options->skip_value),
                         options->start_present, options->start_address};
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
    report(", %s mode\n", address_mode_name(options->mode));
}

// ---------------------------------------------------------------------------

int main(int argc, char **argv)
{
    hex_options_t options;
    platform_arguments(&argc, &argv);
    read_command_line(argc, argv, &options);
    // Writing over the input would destroy it before it was read.
    platform_file_t input_file;
    if (platform_stat(options.input_path, &input_file) && platform_same_file(options.output_path, &input_file))
        command_error("the output file is the input file: '%s'", options.output_path);

    image_t image;
    image_init(&image, platform_stat(options.input_path, &input_file) ? input_file.size + 1 : 0, 1);
    uint64_t size, offset = read_input(options.input_path, &image, &size);
    write_hex(&options, &image, offset, size);
    image_free(&image);
    report_flush();
    return 0;
}
