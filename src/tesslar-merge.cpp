// SPDX-License-Identifier: MIT
// tesslar-merge: merges Intel HEX files, S-records, linked ELF files and raw
// binaries into one image, can fill a flash slot and stamp it with a CRC, and
// writes it as Intel HEX, S-records, a binary or UF2. It reads its options,
// then runs the pipeline: inputs into one image, its overlaps settled, the
// slot laid out over it, and the outputs.
#include "cli/command.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/values.h"
#include "image/image.h"
#include "inputs/inputs.h"
#include "merge/mcuboot.h"
#include "merge/overlaps.h"
#include "merge/slot.h"
#include "outputs/file.h"
#include "outputs/outputs.h"
#include "outputs/uf2_family.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

struct merge_options_t {
    int output_count;
    const char **outputs;
    output_target_t *targets; // each output with its format
    output_split_t *splits;   // each output's --split
    output_format_t format;   // -O
    uint32_t verilog_width;
    bool verilog_big_endian;
    const char *c_name;
    bool force_s3;
    const char *family_name;
    bool family_given;
    uint32_t family;
    overlap_policy_t overlap;
    record_options_t records;
    bool no_start;
    bool info_only;
    int input_count;
    input_t *inputs;
    input_filter_t *filters; // of every input, in the order given
    int filter_count;
    section_choice_t sections;
    slot_t slot;
    mcuboot_t mcuboot;
};

static const char usage_text[] =
    "Usage: tesslar-merge [OPTION]... -o OUTPUT INPUT...\n"
    "Merges Intel HEX files, S-records, linked ELF files and raw binaries into one\n"
    "image, can fill flash slots and stamp them with CRCs, sums or digests, and\n"
    "writes it as Intel HEX, S-records, a binary, UF2, Verilog, TI-TXT or C. An\n"
    "INPUT is an IHEX, S-record, TI-TXT, UF2 or ELF file, told by its first\n"
    "bytes; - is standard input.\n"
    "\n"
    "  -o FILE                    an output, in the format its name says: .hex,\n"
    "                             .srec .s19 .s28 .s37 .mot, .bin, .uf2, .vh or\n"
    "                             .c; - is standard output; may be given again\n"
    "  -O FORMAT                  ihex (the default), srec, binary, uf2, verilog,\n"
    "                             ti-txt or c: the format of an output whose name\n"
    "                             has no ending or one of no format\n"
    "      --split N,byte=B[,width=W]\n"
    "                             after an output: only lane B of every N lanes of\n"
    "                             W bytes, for interleaved memories\n"
    "      --verilog-width N      bytes a Verilog word: 1 (the default), 2, 4 or 8\n"
    "      --verilog-endian ORDER little (the default) or big\n"
    "      --c-name NAME          the C array's name (default: the output's)\n"
    "      --binary FILE@ADDRESS  a raw binary file, its first byte at ADDRESS\n"
    "      --crop RANGE           after an input: keep only its bytes in RANGE\n"
    "      --exclude RANGE        after an input: leave its bytes in RANGE out\n"
    "      --offset [-]N          after an input: move its bytes by N\n"
    "      --swap N               after an input: reverse each group of N bytes\n"
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
    "      --pad VALUE            the pad of --fill, --align and a binary's gaps\n"
    "                             (default 0xFF)\n"
    "      --pad-width N          the pad's bytes, 1 (the default), 2 or 4, laid\n"
    "                             down little-endian from address 0\n"
    "      --align N              widen every run of the data to whole N-byte\n"
    "                             blocks of the pad\n"
    "      --stamp KIND@ADDRESS[,range=RANGE][,endian=ORDER][,width=N][,value=V]\n"
    "                             store a CRC, sum, sum-neg, sum-not, adler32,\n"
    "                             sha256, length or const there, in the order\n"
    "                             given; --stamp list lists every kind. ADDRESS\n"
    "                             may be after (past the data, align=N), a RANGE\n"
    "                             end in end; sums take unit=2 or 4 for words\n"
    "      --crc NAME             a CRC to store after every stamp: CRC-32,\n"
    "                             CRC-16/MODBUS, STM32...; --crc list lists them\n"
    "      --crc-at ADDRESS       where the CRC goes\n"
    "      --crc-range RANGE      the bytes it covers; by default the --fill range\n"
    "                             before the CRC (or after it, when the CRC begins\n"
    "                             the range), else from the lowest address up to it\n"
    "      --crc-endian ORDER     little (the default) or big\n"
    "      --mcuboot SLOT,version=MAJ.MIN.REV+BUILD[,key=FILE][,pad|confirm|test]...\n"
    "                             make the image an MCUboot image of the slot\n"
    "                             RANGE: header, TLVs, signature and trailer; the\n"
    "                             man page lists every setting\n"
    "  -i                         report the inputs, the merged regions and every\n"
    "                             overlap; write nothing\n"
    "  -q, --quiet                print nothing on success\n"
    "      --sync                 flush the outputs to the disk before they take\n"
    "                             the old ones' place, to outlive a power cut\n"
    "      --help                 print this text and exit\n"
    "      --version              print the name and version and exit\n"
    "\n"
    "A RANGE is FIRST:LAST, both included, or FIRST+SIZE. Numbers are decimal,\n"
    "0x hexadecimal, 0b binary or 0 octal. Errors and warnings go to standard\n"
    "error; the report of a successful run to standard output.\n";

// ---------------------------------------------------------------------------
// Command line

// The options' codes beyond those the commands share and the slot's.
enum merge_option_t { OPTION_OVERLAP = 0x200, OPTION_NO_START, OPTION_BINARY, OPTION_SREC_S3, OPTION_UF2_FAMILY,
                      OPTION_CROP, OPTION_EXCLUDE, OPTION_OFFSET, OPTION_SWAP, OPTION_SPLIT, OPTION_VERILOG_WIDTH,
                      OPTION_VERILOG_ENDIAN, OPTION_C_NAME, OPTION_MCUBOOT };

static void free_options(merge_options_t *options)
{
    slot_free(&options->slot);
    free(options->outputs);
    free(options->targets);
    free(options->splits);
    free(options->inputs);
    free(options->filters);
    free(options->sections.only);
    free(options->sections.removed);
}

// --crop, --exclude or --offset, for the input before it; an input's
// filters lie one after another in options->filters.
static void read_filter(merge_options_t *options, int option, char *value)
{
    const char *name = option == OPTION_CROP      ? "--crop"
                       : option == OPTION_EXCLUDE ? "--exclude"
                       : option == OPTION_SWAP    ? "--swap"
                                                  : "--offset";
    if (options->input_count == 0)
        command_usage_error("%s applies to the input before it, and none comes before it", name);
    input_t *input = &options->inputs[options->input_count - 1];
    if (input->filters == nullptr)
        input->filters = options->filters + options->filter_count;
    input_filter_read(&input->filters[input->filter_count++], name, value);
    options->filter_count++;
}

static void read_command_line(int argc, char **argv, merge_options_t *options)
{
    *options = merge_options_t{0, nullptr, nullptr, nullptr, FORMAT_NONE, 1, false, nullptr, false, nullptr, false,
                               0, OVERLAP_ERROR, record_options_default, false, false, 0, nullptr, nullptr, 0, {},
                               slot_t{}, mcuboot_t{}};
    options->outputs = static_cast<const char **>(allocate(argc * sizeof(char *)));
    options->splits = static_cast<output_split_t *>(allocate(argc * sizeof(output_split_t)));
    options->inputs = static_cast<input_t *>(allocate(argc * sizeof(input_t)));
    options->filters = static_cast<input_filter_t *>(allocate(argc * sizeof(input_filter_t)));
    section_choice_t *sections = &options->sections;
    sections->only = static_cast<const char **>(allocate(argc * sizeof(char *)));
    sections->removed = static_cast<const char **>(allocate(argc * sizeof(char *)));
    static const option_row_t rows[] = {{nullptr, 'o', true, false},
                                        {nullptr, 'O', true, true},
                                        {nullptr, 'i', false, true},
                                        {"quiet", 'q', false, false},
                                        {"only-section", 'j', true, false},
                                        {"remove-section", 'R', true, false},
                                        {"binary", OPTION_BINARY, true, false},
                                        {"crop", OPTION_CROP, true, false},
                                        {"exclude", OPTION_EXCLUDE, true, false},
                                        {"offset", OPTION_OFFSET, true, false},
                                        {"swap", OPTION_SWAP, true, false},
                                        {"split", OPTION_SPLIT, true, false},
                                        {"verilog-width", OPTION_VERILOG_WIDTH, true, true},
                                        {"verilog-endian", OPTION_VERILOG_ENDIAN, true, true},
                                        {"c-name", OPTION_C_NAME, true, true},
                                        {"mcuboot", OPTION_MCUBOOT, true, true},
                                        {"overlap", OPTION_OVERLAP, true, true},
                                        {"no-start", OPTION_NO_START, false, true},
                                        {"srec-s3", OPTION_SREC_S3, false, true},
                                        {"uf2-family", OPTION_UF2_FAMILY, true, true},
                                        OPTION_ROWS_RECORDS,
                                        SLOT_OPTION_ROWS,
                                        OPTION_ROWS_COMMON};
    option_reader_t reader;
    // every input comes back in its place, as code 1
    options_begin(&reader, rows, std::size(rows), argc, argv, true);
    char *value;
    for (int c; (c = options_next(&reader, &value)) != -1;) {
        if (options_read_records(&options->records, c, value))
            continue;
        switch (c) {
        case 1:
            options->inputs[options->input_count++] = input_t{value, INPUT_IHEX, 0, nullptr, 0, 0};
            break;
        case OPTION_BINARY:
            options->inputs[options->input_count++] = input_binary_read(value);
            break;
        case 'j':
            sections->only[sections->only_count++] = value;
            break;
        case 'R':
            sections->removed[sections->removed_count++] = value;
            break;
        case 'o':
            options->splits[options->output_count] = output_split_t{};
            options->outputs[options->output_count++] = value;
            break;
        case OPTION_SPLIT:
            if (options->output_count == 0)
                command_usage_error("--split applies to the output before it, and none comes before it");
            if (options->splits[options->output_count - 1].count != 0)
                command_usage_error("duplicate --split option for the output '%s'",
                                    options->outputs[options->output_count - 1]);
            output_split_read(&options->splits[options->output_count - 1], value);
            break;
        case OPTION_VERILOG_WIDTH:
            options->verilog_width = read_power_of_two("--verilog-width", value, 1, 8);
            break;
        case OPTION_VERILOG_ENDIAN:
            options->verilog_big_endian = read_big_endian("--verilog-endian", value);
            break;
        case OPTION_C_NAME:
            options->c_name = value;
            break;
        case OPTION_MCUBOOT:
            mcuboot_read(&options->mcuboot, value);
            break;
        case 'O':
            if (!output_format_read(value, &options->format))
                command_usage_error("invalid value for -O: '%s'. Must be ihex, srec, binary, uf2, verilog, ti-txt "
                                    "or c", value);
            break;
        case OPTION_SREC_S3:
            options->force_s3 = true;
            break;
        case OPTION_CROP:
        case OPTION_EXCLUDE:
        case OPTION_OFFSET:
        case OPTION_SWAP:
            read_filter(options, c, value);
            break;
        case 'q':
            report_discard();
            break;
        case OPTION_UF2_FAMILY:
            if (strcmp(value, "list") == 0) {
                free_options(options);
                uf2_list_families();
            }
            uf2_family_read(value, &options->family_name, &options->family);
            options->family_given = true;
            break;
        case 'i':
            options->info_only = true;
            break;
        case OPTION_OVERLAP:
            if (!overlap_policy_read(value, &options->overlap))
                command_usage_error("invalid value for --overlap: '%s'. Must be error, same, first or last", value);
            break;
        case OPTION_NO_START:
            options->no_start = true;
            break;
        case OPTION_HELP:
            free_options(options);
            command_help();
        case OPTION_VERSION:
            free_options(options);
            command_version_exit();
        default:
            if ((c == SLOT_CRC || c == SLOT_STAMP) && strcmp(value, "list") == 0)
                free_options(options); // and the list ends the run
            slot_read_option(&options->slot, c, value);
        }
    }
    while (optind < argc) // after "--"
        options->inputs[options->input_count++] = input_t{argv[optind++], INPUT_IHEX, 0, nullptr, 0, 0};
    for (int i = 0, standard = 0; i < options->input_count; i++)
        if (strcmp(options->inputs[i].path, "-") == 0 && ++standard == 2)
            command_usage_error("'-' is given twice as an input: standard input is read once");

    if (options->input_count == 0)
        command_usage_error("missing input file");
    if (options->output_count == 0 && !options->info_only && options->mcuboot.digest_path == nullptr)
        command_usage_error("missing output file: -o names it");
    options->mcuboot.info_only = options->info_only;
    const record_options_t *records = &options->records;
    if (records->start_given && options->no_start)
        command_usage_error("--start and --no-start exclude each other");
    bool ihex, binary;
    options->targets = static_cast<output_target_t *>(allocate(argc * sizeof(output_target_t)));
    outputs_resolve(options->outputs, options->output_count, options->format, options->family_given,
                    options->targets, &ihex, &binary);
    for (int i = 0; i < options->output_count; i++)
        options->targets[i].split = options->splits[i];
    if (records->start_given && ihex)
        check_start_address(records->mode, records->start_address);
    slot_check_options(&options->slot, ihex ? records->mode : IHEX_ADDRESS_MODE_LINEAR, binary);
}

// ---------------------------------------------------------------------------
// The pipeline

int main(int argc, char **argv)
{
    merge_options_t options;
    command_begin("tesslar-merge", usage_text);
    platform_arguments(&argc, &argv);
    read_command_line(argc, argv, &options);
    if (options.records.sync)
        output_sync_to_disk();
    // Every data byte takes at least two characters of an IHEX file and
    // every record 14, so the inputs' sizes also bound what the image keeps.
    uint64_t input_bytes = 0;
    for (int i = 0; i < options.input_count; i++)
        input_bytes += outputs_spare_input(options.outputs, options.info_only ? 0 : options.output_count,
                                           options.inputs[i].path, true);
    image_t image;
    image_init(&image, input_bytes + 1, input_bytes / 13 + 1);
    // the start address to write: --start's, none with --no-start, else the inputs'
    const record_options_t *records = &options.records;
    start_address_t start{records->start_given && !options.no_start, records->start_address, nullptr};
    bool inputs_choose = !options.info_only && !records->start_given && !options.no_start;
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
    bool slot_given = slot->fills.count != 0 || slot->stamps.count != 0 || slot->align > 1 || options.mcuboot.given;
    if (!options.info_only || slot_given) {
        slot_check_places(slot, &image, options.inputs);
        image_paint_t paint = options.overlap == OVERLAP_FIRST ? IMAGE_FIRST_WINS : IMAGE_LAST_WINS;
        if (!image_view_of(&image, paint, slot->pad, &view))
            command_error("cannot allocate memory");
        if (slot_given)
            slot_build(slot, &view);
    }
    bool writes = !options.info_only;
    if (options.mcuboot.given)
        writes = mcuboot_build(&options.mcuboot, &view) && writes;
    if (writes) {
        input_names_t names{&image, options.inputs};
        view.name = input_name_piece;
        view.name_context = &names;
        output_settings_t settings{records->mode,        records->record_bytes,      options.force_s3,
                                   options.family_name,  options.family,             options.verilog_width,
                                   options.verilog_big_endian, options.c_name,       start};
        outputs_write(options.targets, options.output_count, &settings, &view);
    }

    image_view_free(&view);
    mcuboot_free();
    image_free(&image);
    free_options(&options);
    report_flush();
    return 0;
}
