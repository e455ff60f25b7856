// SPDX-License-Identifier: MIT
// tesslar-merge: merges Intel HEX files, S-records, linked ELF files and raw
// binaries into one image, can fill a flash slot and stamp it with a CRC, and
// writes it as Intel HEX, S-records, a binary or UF2. It reads its options,
// then runs the pipeline: inputs into one image, its overlaps settled, the
// slot laid out over it, and the outputs.
#include "cli/command.h"
#include "image/image.h"
#include "inputs/inputs.h"
#include "outputs/outputs.h"
#include "merge/overlaps.h"
#include "platform/platform.h"
#include "merge/slot.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <getopt.h>

struct merge_options_t {
    int output_count;
    const char **outputs;
    output_format_t format; // -O
    bool force_s3;
    const char *family_name;
    bool family_given;
    uint32_t family;
    overlap_policy_t overlap;
    bool start_given;
    uint32_t start_address;
    bool no_start;
    uint32_t record_bytes;
    ihex_address_mode_t mode;
    bool info_only;
    int input_count;
    input_t *inputs;
    input_filter_t *filters; // of every input, in the order given
    int filter_count;
    section_choice_t sections;
    slot_t slot;
};

const char command_name[] = "tesslar-merge";
const char command_usage_text[] =
    "Usage: tesslar-merge [OPTION]... -o OUTPUT INPUT...\n"
    "Merges Intel HEX files, S-records, linked ELF files and raw binaries into one\n"
    "image, can fill flash slots and stamp them with CRCs, sums or digests, and\n"
    "writes it as Intel HEX, S-records, a binary or UF2. An INPUT is an IHEX,\n"
    "S-record or ELF file, told by its first bytes.\n"
    "\n"
    "  -o FILE                    an output, in the format its name says: .hex,\n"
    "                             .srec .s19 .s28 .s37 .mot, .bin or .uf2; - is\n"
    "                             standard output; may be given again\n"
    "  -O FORMAT                  ihex (the default), srec, binary or uf2: the\n"
    "                             format of an output whose name says none\n"
    "      --binary FILE@ADDRESS  a raw binary file, its first byte at ADDRESS\n"
    "      --crop RANGE           after an input: keep only its bytes in RANGE\n"
    "      --exclude RANGE        after an input: leave its bytes in RANGE out\n"
    "      --offset [-]N          after an input: move its bytes by N\n"
    "  -j, --only-section NAME    take only these sections of the ELF inputs\n"
    "  -R, --remove-section NAME  leave these sections of the ELF inputs out\n"
    "      --overlap POLICY       a byte given twice: error (the default), same,\n"
    "                             first or last\n"
    "      --start ADDRESS        the start address to write, whatever the inputs say\n"
    "      --no-start             write no start address\n"
    "      --record-bytes N       data bytes per record (IHEX 32, S-records 16)\n"
    "      --mode MODE            IHEX address records: 16bit, segment or linear\n"
    "                             (the default)\n"
    "      --srec-s3              S3 records, whatever the addresses\n"
    "      --uf2-family FAMILY    the UF2 family: RP2040, NRF52840, SAMD51... or a\n"
    "                             number; --uf2-family list lists every one\n"
    "      --fill RANGE           give every address of RANGE that no input gives\n"
    "                             the --pad byte; may be given again\n"
    "      --pad BYTE             the byte of --fill and of a binary's gaps\n"
    "                             (default 0xFF)\n"
    "      --stamp KIND@ADDRESS[,range=RANGE][,endian=ORDER][,width=N][,value=V]\n"
    "                             store a CRC, sum, sum-neg, sum-not, adler32,\n"
    "                             sha256, length or const there, in the order\n"
    "                             given; --stamp list lists every kind\n"
    "      --crc NAME             a CRC to store after every stamp: CRC-32,\n"
    "                             CRC-16/MODBUS, STM32...; --crc list lists them\n"
    "      --crc-at ADDRESS       where the CRC goes\n"
    "      --crc-range RANGE      the bytes it covers; by default the --fill range\n"
    "                             before the CRC (or after it, when the CRC begins\n"
    "                             the range), else from the lowest address up to it\n"
    "      --crc-endian ORDER     little (the default) or big\n"
    "  -i                         report the inputs, the merged regions and every\n"
    "                             overlap; write nothing\n"
    "  -q, --quiet                print nothing on success\n"
    "      --help                 print this text and exit\n"
    "      --version              print the name and version and exit\n"
    "\n"
    "A RANGE is FIRST:LAST, both included, or FIRST+SIZE. Numbers are decimal,\n"
    "0x hexadecimal, 0b binary or 0 octal. Errors and warnings go to standard\n"
    "error; the report of a successful run to standard output.\n";

// ---------------------------------------------------------------------------
// Command line

enum merge_option_t { OPTION_OVERLAP = 0x200, OPTION_START, OPTION_NO_START, OPTION_RECORD_BYTES, OPTION_MODE,
                      OPTION_BINARY, OPTION_SREC_S3, OPTION_UF2_FAMILY, OPTION_CROP, OPTION_EXCLUDE, OPTION_OFFSET,
                      OPTION_QUIET, OPTION_HELP, OPTION_VERSION };

static void free_options(merge_options_t *options)
{
    slot_free(&options->slot);
    free(options->outputs);
    free(options->inputs);
    free(options->filters);
    free(options->sections.only);
    free(options->sections.removed);
}

// --crop, --exclude or --offset, for the input before it; an input's
// filters lie one after another in options->filters.
static void read_filter(merge_options_t *options, int option, char *value)
{
    const char *name = option == OPTION_CROP ? "--crop" : option == OPTION_EXCLUDE ? "--exclude" : "--offset";
    if (options->input_count == 0)
        command_usage_error("%s applies to the input before it, and none comes before it", name);
    input_t *input = &options->inputs[options->input_count - 1];
    if (input->filters == nullptr)
        input->filters = options->filters + options->filter_count;
    input_filter_read(&input->filters[input->filter_count++], name, value);
    options->filter_count++;
}

// The options that take one value, or none, and may be given once.
static const int single_options[] = {'i', 'O', OPTION_OVERLAP, OPTION_START, OPTION_NO_START, OPTION_RECORD_BYTES,
                                     OPTION_MODE, OPTION_SREC_S3, OPTION_UF2_FAMILY, SLOT_PAD, SLOT_CRC, SLOT_CRC_AT,
                                     SLOT_CRC_RANGE, SLOT_CRC_ENDIAN, 0};

static void read_command_line(int argc, char **argv, merge_options_t *options)
{
    *options = merge_options_t{0, nullptr, FORMAT_NONE, false, nullptr, false, 0, OVERLAP_ERROR, false, 0, false, 0,
                               IHEX_ADDRESS_MODE_LINEAR, false, 0, nullptr, nullptr, 0, {}, slot_t{}};
    options->outputs = static_cast<const char **>(allocate(argc * sizeof(char *)));
    options->inputs = static_cast<input_t *>(allocate(argc * sizeof(input_t)));
    options->filters = static_cast<input_filter_t *>(allocate(argc * sizeof(input_filter_t)));
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
                                   {"srec-s3", no_argument, nullptr, OPTION_SREC_S3},
                                   {"uf2-family", required_argument, nullptr, OPTION_UF2_FAMILY},
                                   {"crop", required_argument, nullptr, OPTION_CROP},
                                   {"exclude", required_argument, nullptr, OPTION_EXCLUDE},
                                   {"offset", required_argument, nullptr, OPTION_OFFSET},
                                   {"quiet", no_argument, nullptr, OPTION_QUIET},
                                   {"help", no_argument, nullptr, OPTION_HELP},
                                   {"version", no_argument, nullptr, OPTION_VERSION},
                                   SLOT_OPTIONS,
                                   {nullptr, 0, nullptr, 0}};
    // "-": every input comes back in its place, as the value of option 1
    bool seen[0x300] = {};
    for (int c; (c = getopt_long(argc, argv, "-:o:O:ij:R:q", table, nullptr)) != -1;) {
        command_once(c, table, single_options, seen);
        switch (c) {
        case 1:
            options->inputs[options->input_count++] = input_t{optarg, INPUT_IHEX, 0, nullptr, 0, 0};
            break;
        case OPTION_BINARY:
            options->inputs[options->input_count++] = input_binary_read(optarg);
            break;
        case 'j':
            sections->only[sections->only_count++] = optarg;
            break;
        case 'R':
            sections->removed[sections->removed_count++] = optarg;
            break;
        case 'o':
            options->outputs[options->output_count++] = optarg;
            break;
        case 'O':
            if (!output_format_read(optarg, &options->format))
                command_usage_error("invalid value for -O: '%s'. Must be ihex, srec, binary or uf2", optarg);
            break;
        case OPTION_SREC_S3:
            options->force_s3 = true;
            break;
        case OPTION_CROP:
        case OPTION_EXCLUDE:
        case OPTION_OFFSET:
            read_filter(options, c, optarg);
            break;
        case 'q':
        case OPTION_QUIET:
            report_discard();
            break;
        case OPTION_UF2_FAMILY:
            if (strcmp(optarg, "list") == 0) {
                free_options(options);
                uf2_list_families();
            }
            uf2_family_read(optarg, &options->family_name, &options->family);
            options->family_given = true;
            break;
        case 'i':
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
            if ((c == SLOT_CRC || c == SLOT_STAMP) && strcmp(optarg, "list") == 0)
                free_options(options); // and the list ends the run
            slot_read_option(&options->slot, c, optarg);
        }
    }
    while (optind < argc) // after "--"
        options->inputs[options->input_count++] = input_t{argv[optind++], INPUT_IHEX, 0, nullptr, 0, 0};

    if (options->input_count == 0)
        command_usage_error("missing input file");
    if (options->output_count == 0 && !options->info_only)
        command_usage_error("missing output file: -o names it");
    if (options->start_given && options->no_start)
        command_usage_error("--start and --no-start exclude each other");
    bool ihex, binary;
    outputs_check(options->outputs, options->output_count, options->format, options->family_given, &ihex, &binary);
    if (options->start_given && ihex)
        check_start_address(options->mode, options->start_address);
    slot_check_options(&options->slot, ihex ? options->mode : IHEX_ADDRESS_MODE_LINEAR, binary);
}

// ---------------------------------------------------------------------------
// The pipeline

int main(int argc, char **argv)
{
    merge_options_t options;
    platform_arguments(&argc, &argv);
    read_command_line(argc, argv, &options);
    // Writing over an input would destroy it before it was read. Every data
    // byte takes at least two characters of an IHEX file and every record 14,
    // so the inputs' sizes also bound what the image keeps.
    uint64_t input_bytes = 0;
    for (int i = 0; i < options.input_count; i++) {
        platform_file_t status;
        if (!platform_stat(options.inputs[i].path, &status))
            continue;
        for (int o = 0; o < options.output_count && !options.info_only; o++)
            if (platform_same_file(options.outputs[o], &status))
                command_error("the output file is one of the inputs: '%s'", options.outputs[o]);
        input_bytes += status.size;
    }
    image_t image;
    image_init(&image, input_bytes + 1, input_bytes / 13 + 1);
    // the start address to write: --start's, none with --no-start, else the inputs'
    input_start_t start{options.start_given && !options.no_start, options.start_address, -1};
    bool inputs_choose = !options.info_only && !options.start_given && !options.no_start;
    inputs_read_all(&image, options.inputs, options.input_count, &options.sections, options.info_only,
                    inputs_choose ? &start : nullptr);
    if (!image_find_regions(&image, options.overlap == OVERLAP_ERROR && !options.info_only))
        command_error("cannot allocate memory");
    slot_t *slot = &options.slot;
    if (options.info_only) {
        overlaps_report(&image, options.inputs);
    } else {
        overlaps_resolve(&image, options.inputs, options.overlap);
    }
    image_view_t view{};
    bool slot_given = slot->fills.count != 0 || slot->stamps.count != 0;
    if (!options.info_only || slot_given) {
        slot_check_places(slot, &image, options.inputs);
        if (!image_view_of(&image, options.overlap == OVERLAP_FIRST ? IMAGE_FIRST_WINS : IMAGE_LAST_WINS, &view))
            command_error("cannot allocate memory");
        view.pad = slot->pad;
        if (slot_given)
            slot_build(slot, &view);
    }
    if (!options.info_only) {
        output_settings_t settings{options.mode, options.record_bytes, options.force_s3, options.family_name,
                                   options.family, start.present, start.address,
                                   options.inputs[start.input < 0 ? 0 : start.input].path};
        outputs_write(options.outputs, options.output_count, options.format, &settings, &view, &image,
                      options.inputs);
    }

    image_view_free(&view);
    image_free(&image);
    free_options(&options);
    report_flush();
    return 0;
}
