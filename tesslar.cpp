// SPDX-License-Identifier: MIT
// tesslar: converts an Intel HEX memory image into a flat binary file.
// The run goes banner, command line, input pass, consolidation, report and
// image; every error leaves through usage_error or fatal_error.
#include "cli/version.h"
#include "data_sections.h"
#include "inputs/file.h"
#include "platform/platform.h"
#include "quillkit.h"

#include <algorithm>
#include <cassert>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>


struct conversion_options_t {
    uint32_t pad_value;
    uint32_t pad_granularity;
    uint32_t offset;
    bool offset_subtract;
    uint32_t top_address;
    bool info_only;
    int positional_count;
    const char *input_path;
    const char *output_path;
};

const char command_name[] = "tesslar";
const char command_usage_text[] =
    "\n\nUSAGE: tesslar [<options>] <input .hex file> <output .bin file> ..."
    "\n\twhere: <options> can be"
    "\n\t\t-i\t\t\t-\tParse the HEX file and display information about data content"
    "\n\t\t--pad <value>\t\t-\tvalue for padding the binary file with (default 0xFF)"
    "\n\t\t--padgran <value>\t-\tpadding granularity in bytes: 1, 2 or 4 (default 1)"
    "\n\t\t--offset [-]<value>\t-\toffset to add to or subtract from the IHEX addresses\n\n"
    "\n\t\t--top <value>\t-\tmaximum address to read from the IHEX file\n\n";

// ---------------------------------------------------------------------------
// The ways out

// Prints the usage text, "\nERROR: ", the message and "\n\n"; exit status 1.
[[noreturn]] __attribute__((format(printf, 1, 2))) static void usage_error(const char *format, ...)
{
    printf("%s", command_usage_text);
    printf("\nERROR: ");
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    printf("\n\n");
    exit(1);
}

// Prints "\nERROR: ", the message, " at line N" when line is not 0, and
// "\n\n"; exit status 1.
[[noreturn]] __attribute__((format(printf, 2, 3))) static void fatal_error(uint32_t line, const char *format, ...)
{
    printf("\nERROR: ");
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    if (line != 0)
        printf(" at line %u", line);
    printf("\n\n");
    exit(1);
}

// ---------------------------------------------------------------------------
// Command line

// A value as C23's strtoul reads it with base 0, of which the low 32 bits are
// kept; characters left after the number are a usage error.
static uint32_t read_value(const char *text, const char *bad_message)
{
    const char *end;
    uint64_t value = qkit_parse_unsigned(text, &end);
    if (*end != '\0')
        usage_error("%s", bad_message);
    return uint32_t(value);
}

static void read_command_line(int argc, char **argv, conversion_options_t *options)
{
    *options = conversion_options_t{0xFF, 1, 0, false, 0xFFFFFFFF, false, 0, nullptr, nullptr};

    if (argc < 2)
        usage_error("missing input file");

    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        // Options that take a value consume the next argument, whatever it is
        // (after the last one, argv[argc]: a null pointer).
        const char *value = argv[i + 1];

        if (strcmp(argument, "--pad") == 0) {
            if (value == nullptr)
                usage_error("missing value for --pad");
            options->pad_value = read_value(value, "invalid value for --pad");
            i++;
        } else if (strcmp(argument, "--padgran") == 0) {
            if (value == nullptr)
                usage_error("missing value for --padgran");
            options->pad_granularity = read_value(value, "invalid value for --padgran. Must be 1, 2 or 4");
            i++;
        } else if (strcmp(argument, "--offset") == 0) {
            if (value == nullptr)
                usage_error("missing value for --offset");
            options->offset_subtract = value[0] == '-';
            options->offset = read_value(value + (options->offset_subtract ? 1 : 0), "invalid value for --offset");
            i++;
        } else if (strcmp(argument, "--top") == 0) {
            if (value == nullptr)
                usage_error("missing value for --top");
            options->top_address = read_value(value, "invalid value for --top");
            i++;
        } else if (strcmp(argument, "-i") == 0) {
            if (options->info_only)
                usage_error("duplicate -i option");
            options->info_only = true;
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
    if (options->positional_count == 1 && !options->info_only)
        usage_error("missing output file");

    switch (options->pad_granularity) {
    case 1:
        if (options->pad_value > 0xFF)
            printf("\nWARNING: Padding value does not fit on 8 bits. Truncating to %02X", options->pad_value & 0xFF);
        break;
    case 2:
        if (options->pad_value > 0xFFFF)
            printf("\nWARNING: Padding value does not fit on 16 bits. Truncating to %02X", options->pad_value & 0xFFFF);
        break;
    case 4:
        break;
    default:
        usage_error("invalid value for --padgran. Must be 1, 2 or 4");
    }
}

// ---------------------------------------------------------------------------
// Input pass

constexpr int data_buffer_size = 256;

// One accepted record, cut at the top address and kept as a section; false
// when it ends the reading.
static bool keep_record(const conversion_options_t *options, const hex_text_t *text, data_section_list_t *sections,
                        uint32_t address, uint32_t length, const uint8_t *data)
{
    uint32_t top_address = options->top_address;
    // Data beyond the top address ends the reading as if the file ended.
    if (address > top_address)
        return false;
    if (length == 0)
        return true;
    if (uint64_t(address) + length > (uint64_t(1) << 32))
        fatal_error(text->line_number, "%s", ihex_result_text(IHEX_RESULT_ADDRESS_OUT_OF_RANGE));
    if (address + length - 1 > top_address)
        length = top_address - address + 1;

    data_section_t *new_line = data_section_alloc(length);
    assert(new_line);
    new_line->address = address;
    new_line->size = length;
    memcpy(data_section_bytes(new_line), data, length);
    data_sections_append(sections, new_line);
    return true;
}

// Reads the whole input into `sections`, one section per data record, in
// ascending address order.
static void read_input(const conversion_options_t *options, hex_text_t *input, char *line, uint8_t *data,
                       data_section_list_t *sections, platform_file_t *input_file)
{
    printf("\nInput file: %s\n", options->input_path);
    FILE *file = open_input(options->input_path, input_file, false);
    if (file == nullptr)
        fatal_error(0, "cannot open input file: '%s'", options->input_path);

    data_sections_list_init(sections);
    hex_text_begin(input, file, line);
    uint32_t address = 0, length;
    while (hex_text_next(input, data, &address, &length) &&
           keep_record(options, input, sections, address, length, data)) {
    }
    if (input->error != IHEX_RESULT_OK)
        fatal_error(input->line_number, "%s", ihex_result_text(input->error));
    if (input->end_of_file_seen) {
        printf("\nEnd-of-file record detected at line %u", input->line_number);
        if (input->extra_data)
            printf("WARNING: Extra data after the end-of-file record");
    } else {
        printf("\nWARNING: End-of-file record not detected");
    }
    fclose(file);
    data_sections_list_finish(sections);
}

// ---------------------------------------------------------------------------
// Report

static void free_sections(data_section_t *sections)
{
    while (sections != nullptr) {
        data_section_t *next = sections->next;
        data_section_free(sections);
        sections = next;
    }
}

// Prints what the input held. Ends the run when there is nothing to write.
static void report(const conversion_options_t *options, const ihex_reader_t *reader, data_section_t *regions)
{
    printf("\nParsed %u records", reader->record_count);
    printf("\nParsed %u bytes of data", reader->data_byte_count);
    printf("\nStart address: ");
    if (reader->start_address_present)
        printf("%08Xh", reader->start_address);
    else
        printf("not present");
    printf("\nData regions:");

    if (regions == nullptr) {
        printf("\nThe HEX file does not contain any data\n\n");
        exit(0);
    }
    for (const data_section_t *s = regions; s != nullptr; s = s->next)
        printf("\n\tRegion at %08Xh, %u bytes", s->address, s->size);

    if (options->info_only) {
        free_sections(regions);
        printf("\n\n");
        exit(0);
    }
}

// ---------------------------------------------------------------------------
// Image

static const char *granularity_name(uint32_t pad_granularity)
{
    return pad_granularity == 1 ? "byte" : pad_granularity == 2 ? "word" : "dword";
}

// Builds the padded image of every region, shifted by the offset, and writes
// it in one piece. Frees the regions. An output that is the input itself
// cannot be opened: writing it would destroy the input.
static void write_image(const conversion_options_t *options, data_section_t *regions,
                        const platform_file_t *input_file)
{
    printf("\n\nOutput file: %s", options->output_path);
    bool is_input = platform_same_file(options->output_path, input_file);
    FILE *output = is_input ? nullptr : platform_open(options->output_path, "wb");
    if (output == nullptr) {
        free_sections(regions);
        fatal_error(0, "cannot open output file: '%s'", options->output_path);
    }
    // The image goes out in one write straight to the file, so a failing
    // write is seen here and not lost in a stream buffer at closing.
    setvbuf(output, nullptr, _IONBF, 0);

    printf("\nPadding output with: %0*Xh / %s granularity ...", int(2 * options->pad_granularity),
           options->pad_value, granularity_name(options->pad_granularity));

    // Regions may overlap: the image ends where the furthest one ends.
    uint64_t image_end = 0;
    for (const data_section_t *s = regions; s != nullptr; s = s->next)
        image_end = std::max(image_end, uint64_t(s->address) + s->size);

    uint32_t offset = options->offset;
    bool subtract = options->offset_subtract && offset != 0;
    if (offset != 0)
        printf("\nOffset will be %s: %08Xh", subtract ? "SUBTRACTED" : "ADDED", offset);
    if (subtract) {
        if (regions->address < offset)
            printf("\nWARNING: IHEX file contains data at addresses lower than the address offset");
        if (image_end - 1 < offset) {
            free_sections(regions);
            fatal_error(0, "address offset is higher than the highest address in the IHEX file. No data will be "
                           "written.");
        }
    }

    uint64_t image_size = subtract ? image_end - offset : image_end + offset;
    if (image_end > UINT32_MAX || image_size > UINT32_MAX)
        fatal_error(0, "%s", ihex_result_text(IHEX_RESULT_ADDRESS_OUT_OF_RANGE));

    fflush(stdout);
    uint64_t rounded_size = (image_size + 3) & ~uint64_t(3);
    uint8_t *image = static_cast<uint8_t *>(platform_alloc_large(size_t(rounded_size)));
    if (image == nullptr) {
        free_sections(regions);
        fatal_error(0, "cannot allocate memory");
    }
    qkit_pad(image, rounded_size, options->pad_value, int32_t(options->pad_granularity));

    // In list order, so where regions overlap the later one wins.
    while (regions != nullptr) {
        data_section_t *region = regions;
        const uint8_t *bytes = data_section_bytes(region);
        if (!subtract) {
            memcpy(image + region->address + offset, bytes, region->size);
        } else if (region->address >= offset) {
            memcpy(image + (region->address - offset), bytes, region->size);
        } else if (uint64_t(region->address) + region->size > offset) {
            uint32_t dropped = offset - region->address;
            memcpy(image, bytes + dropped, region->size - dropped);
        }
        regions = region->next;
        data_section_free(region);
    }

    if (fwrite(image, 1, image_size, output) != image_size) {
        free(image);
        fatal_error(0, "cannot write output file");
    }
    free(image);
    printf("\nWrote %lu bytes", static_cast<unsigned long>(image_size));
    fclose(output);
    printf("\n\n");
}

// ---------------------------------------------------------------------------

int main(int argc, char **argv)
{
    conversion_options_t options;
    hex_text_t input;
    char line[hex_line_size];
    uint8_t data[data_buffer_size];
    data_section_list_t sections;
    platform_file_t input_file;

    printf("\nTESSLAR %s.\n", command_version);
    platform_arguments(&argc, &argv);
    read_command_line(argc, argv, &options);
    read_input(&options, &input, line, data, &sections, &input_file);

    data_section_t *regions = sections.head != nullptr ? data_sections_consolidate(sections.head) : nullptr;
    // The per-record sections are gone; hand their memory back before the
    // image is built, so that the two never count together.
    platform_trim_memory();
    report(&options, &input.reader, regions);
    write_image(&options, regions, &input_file);
    return 0;
}
