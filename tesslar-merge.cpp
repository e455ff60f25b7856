// SPDX-License-Identifier: MIT
// tesslar-merge: merges Intel HEX files, linked ELF files and raw binaries
// into one Intel HEX file, and can fill a flash slot and stamp it with a CRC.
// It reads its options, then runs the pipeline: inputs into one image, its
// overlaps settled, the slot laid out over it, and the IHEX output.
#include "command.h"
#include "image.h"
#include "inputs.h"
#include "output.h"
#include "overlaps.h"
#include "platform.h"
#include "slot.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <getopt.h>

struct merge_options_t {
    const char *output_path;
    overlap_policy_t overlap;
    bool start_given;
    uint32_t start_address;
    bool no_start;
    uint32_t record_bytes;
    ihex_address_mode_t mode;
    bool info_only;
    int input_count;
    input_t *inputs;
    section_choice_t sections;
    slot_t slot;
};

const char command_name[] = "tesslar-merge";
const char command_usage_text[] =
    "Usage: tesslar-merge [OPTION]... -o OUTPUT.hex INPUT...\n"
    "Merges Intel HEX files, linked ELF files and raw binaries into one Intel HEX\n"
    "file, and can fill a flash slot and stamp it with a CRC. An INPUT is an IHEX\n"
    "or an ELF file, told by its first bytes.\n"
    "\n"
    "  -o FILE                    the merged IHEX file (not needed with -i)\n"
    "      --binary FILE@ADDRESS  a raw binary file, its first byte at ADDRESS\n"
    "  -j, --only-section NAME    take only these sections of the ELF inputs\n"
    "  -R, --remove-section NAME  leave these sections of the ELF inputs out\n"
    "      --overlap POLICY       a byte given twice: error (the default), same,\n"
    "                             first or last\n"
    "      --start ADDRESS        the start address to write, whatever the inputs say\n"
    "      --no-start             write no start address record\n"
    "      --record-bytes N       data bytes per record, 1 to 255 (default 32)\n"
    "      --mode MODE            address records: 16bit, segment or linear (the\n"
    "                             default)\n"
    "      --fill RANGE           give every address of RANGE that no input gives\n"
    "                             the --pad byte\n"
    "      --pad BYTE             the byte that --fill writes (default 0xFF)\n"
    "      --crc NAME             a CRC to store: CRC-32, CRC-16/MODBUS, STM32...;\n"
    "                             --crc list lists every one\n"
    "      --crc-at ADDRESS       where the CRC goes\n"
    "      --crc-range RANGE      the bytes it covers; by default the --fill range\n"
    "                             before the CRC (or after it, when the CRC begins\n"
    "                             the range), else from the lowest address up to it\n"
    "      --crc-endian ORDER     little (the default) or big\n"
    "  -i                         report the inputs, the merged regions and every\n"
    "                             overlap; write nothing\n"
    "      --help                 print this text and exit\n"
    "      --version              print the name and version and exit\n"
    "\n"
    "A RANGE is FIRST:LAST, both included, or FIRST+SIZE. Numbers are decimal,\n"
    "0x hexadecimal, 0b binary or 0 octal. Errors and warnings go to standard\n"
    "error; the report of a successful run to standard output.\n";

// ---------------------------------------------------------------------------
// Command line

enum merge_option_t { OPTION_OVERLAP = 0x200, OPTION_START, OPTION_NO_START, OPTION_RECORD_BYTES, OPTION_MODE,
                      OPTION_BINARY, OPTION_HELP, OPTION_VERSION };

static void free_options(merge_options_t *options)
{
    free(options->inputs);
    free(options->sections.only);
    free(options->sections.removed);
}

// "FILE@ADDRESS", the address after the last "@".
static input_t read_binary_input(char *value)
{
    char *at = strrchr(value, '@');
    if (at == nullptr || at == value)
        command_usage_error("invalid value for --binary: '%s'. Must be FILE@ADDRESS", value);
    *at = '\0';
    return input_t{value, INPUT_BINARY, read_address("--binary", at + 1)};
}

static void read_command_line(int argc, char **argv, merge_options_t *options)
{
    *options = merge_options_t{nullptr, OVERLAP_ERROR, false, 0, false, 32, IHEX_ADDRESS_MODE_LINEAR, false, 0,
                               nullptr, {}, slot_t{}};
    options->inputs = static_cast<input_t *>(allocate(argc * sizeof(input_t)));
    section_choice_t *sections = &options->sections;
    sections->only = static_cast<const char **>(allocate(argc * sizeof(char *)));
    sections->removed = static_cast<const char **>(allocate(argc * sizeof(char *)));
    static const option table[] = {{"overlap", required_argument, nullptr, OPTION_OVERLAP},
                                   {"binary", required_argument, nullptr, OPTION_BINARY},
                                   {"only-section", required_argument, nullptr, 'j'},
                                   {"remove-section", required_argument, nullptr, 'R'},
                                   {"start", required_argument, nullptr, OPTION_START},
                                   {"no-start", no_argument, nullptr, OPTION_NO_START},
                                   {"record-bytes", required_argument, nullptr, OPTION_RECORD_BYTES},
                                   {"mode", required_argument, nullptr, OPTION_MODE},
                                   {"help", no_argument, nullptr, OPTION_HELP},
                                   {"version", no_argument, nullptr, OPTION_VERSION},
                                   SLOT_OPTIONS,
                                   {nullptr, 0, nullptr, 0}};
    // "-": every input comes back in its place, as the value of option 1
    for (int c; (c = getopt_long(argc, argv, "-:o:ij:R:", table, nullptr)) != -1;) {
        switch (c) {
        case 1:
            options->inputs[options->input_count++] = input_t{optarg, INPUT_IHEX, 0};
            break;
        case OPTION_BINARY:
            options->inputs[options->input_count++] = read_binary_input(optarg);
            break;
        case 'j':
            sections->only[sections->only_count++] = optarg;
            break;
        case 'R':
            sections->removed[sections->removed_count++] = optarg;
            break;
        case 'o':
            options->output_path = optarg;
            break;
        case 'i':
            if (options->info_only)
                command_usage_error("duplicate -i option");
            options->info_only = true;
            break;
        case OPTION_OVERLAP:
            if (!overlap_policy_read(optarg, &options->overlap))
                command_usage_error("invalid value for --overlap: '%s'. Must be error, same, first or last", optarg);
            break;
        case OPTION_START:
            options->start_address = read_address("--start", optarg);
            options->start_given = true;
            break;
        case OPTION_NO_START:
            options->no_start = true;
            break;
        case OPTION_RECORD_BYTES:
            options->record_bytes = read_bounded("--record-bytes", optarg, 1, 255);
            break;
        case OPTION_MODE:
            options->mode = read_address_mode(optarg);
            break;
        case OPTION_HELP:
            free_options(options);
            command_help();
        case OPTION_VERSION:
            free_options(options);
            command_version_exit();
        default:
            if (c < SLOT_FILL || c > SLOT_CRC_ENDIAN)
                command_option_error(c, argv);
            if (c == SLOT_CRC && strcmp(optarg, "list") == 0) {
                free_options(options);
                slot_list_crcs();
            }
            slot_read_option(&options->slot, c, optarg);
        }
    }
    while (optind < argc) // after "--"
        options->inputs[options->input_count++] = input_t{argv[optind++], INPUT_IHEX, 0};

    if (options->input_count == 0)
        command_usage_error("missing input file");
    if (options->output_path == nullptr && !options->info_only)
        command_usage_error("missing output file: -o names it");
    if (options->start_given && options->no_start)
        command_usage_error("--start and --no-start exclude each other");
    if (options->start_given)
        check_start_address(options->mode, options->start_address);
    slot_check_options(&options->slot, options->mode);
}

// ---------------------------------------------------------------------------
// The pipeline

// The start address to write: --start's, none with --no-start, else the one
// the inputs agree on.
struct start_t {
    bool present;
    uint32_t address;
    int input; // the first input that gave it, or -1
};

// Reads every input in turn into the image and tells what each held. Two
// inputs that give different start addresses end the run.
static void read_inputs(merge_options_t *options, image_t *image, start_t *start)
{
    *start = start_t{options->start_given && !options->no_start, options->start_address, -1};
    for (int i = 0; i < options->input_count; i++) {
        input_t *input = &options->inputs[i];
        input_summary_t summary;
        input_verdict_t verdict;
        if (!input_read(image, input, &options->sections, &summary, &verdict))
            input_fail(input, &verdict);
        input_report(input, &summary, image, options->info_only);
        if (!summary.start_present || options->info_only || options->start_given || options->no_start)
            continue;
        if (start->input < 0) {
            *start = start_t{true, summary.start_address, i};
        } else if (summary.start_address != start->address) {
            command_error("the start addresses differ: '%s' gives %08Xh, '%s' gives %08Xh; --start <address> "
                          "chooses one, --no-start writes none",
                          options->inputs[start->input].path, start->address, input->path, summary.start_address);
        }
    }
}

static void report_regions(const image_t *image)
{
    report("Data regions:\n");
    for (size_t i = 0; i < image->regions.count; i++) {
        const image_region_t *region = &image->regions.items[i];
        report("\tRegion at %08Xh, %u bytes\n", region->address, uint32_t(region->end - region->address));
    }
    if (image->regions.count == 0)
        report("\tnone\n");
}

// Writes the view as the IHEX output, once the mode is known to reach every
// byte and the start address.
static void write_merged(const merge_options_t *options, const image_view_t *view, const start_t *start)
{
    // a --start value was checked with the command line: only an input's can be out of reach
    const char *start_from = options->inputs[std::max(0, start->input)].path;
    uint32_t limit = address_mode_limit(options->mode);
    const growing_t<image_piece_t> &pieces = view->pieces;
    if (pieces.count != 0 && pieces.items[pieces.count - 1].end - 1 > limit)
        command_error("the data ends beyond %08Xh, the highest address of the %s mode%s", limit,
                      address_mode_name(options->mode),
                      options->mode == IHEX_ADDRESS_MODE_LINEAR ? "" : "; --mode linear reaches FFFFFFFFh");
    if (start->present && options->mode == IHEX_ADDRESS_MODE_16BIT)
        command_error("the 16bit mode has no start address record for %08Xh of '%s'; --no-start leaves it out",
                      start->address, start_from);
    if (start->present && start->address > limit)
        command_error("the start address %08Xh of '%s' lies beyond %08Xh, the highest of the %s mode; --start "
                      "or --no-start overrides it", start->address, start_from, limit, address_mode_name(options->mode));
    // every byte given is written
    ihex_format_t format{options->mode, options->record_bytes, false, 0, start->present, start->address};
    ihex_writer_t writer;
    output_ihex(view, options->output_path, &format, &writer);
    report("Wrote '%s': %u lines, %u data bytes, %s mode, ", options->output_path, writer.line_count,
           writer.data_byte_count, address_mode_name(options->mode));
    if (start->present)
        report("start address %08Xh\n", start->address);
    else
        report("no start address\n");
}

int main(int argc, char **argv)
{
    merge_options_t options;
    platform_arguments(&argc, &argv);
    read_command_line(argc, argv, &options);
    // Writing over an input would destroy it before it was read. Every data
    // byte takes at least two characters of an IHEX file and every record 14,
    // so the inputs' sizes also bound what the image keeps.
    bool writes = options.output_path != nullptr && !options.info_only;
    uint64_t input_bytes = 0;
    for (int i = 0; i < options.input_count; i++) {
        platform_file_t status;
        if (!platform_stat(options.inputs[i].path, &status))
            continue;
        if (writes && platform_same_file(options.output_path, &status))
            command_error("the output file is one of the inputs: '%s'", options.output_path);
        input_bytes += status.size;
    }
    image_t image;
    image_init(&image, input_bytes + 1, input_bytes / 13 + 1);
    start_t start;
    read_inputs(&options, &image, &start);
    if (!image_find_regions(&image, options.overlap == OVERLAP_ERROR && !options.info_only))
        command_error("cannot allocate memory");
    slot_t *slot = &options.slot;
    if (options.info_only) {
        report_regions(&image);
        overlaps_report(&image, options.inputs);
    } else {
        overlaps_resolve(&image, options.inputs, options.overlap);
    }
    image_view_t view{};
    if (!options.info_only || slot->fill || slot->crc != nullptr) {
        slot_check_place(slot, &image, options.inputs);
        if (!image_view_of(&image, options.overlap == OVERLAP_FIRST ? IMAGE_FIRST_WINS : IMAGE_LAST_WINS, &view))
            command_error("cannot allocate memory");
        if (slot->fill || slot->crc != nullptr)
            slot_build(slot, &view);
    }
    if (!options.info_only)
        write_merged(&options, &view, &start);

    image_view_free(&view);
    image_free(&image);
    free_options(&options);
    report_flush();
    return 0;
}
