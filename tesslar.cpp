// tesslar: converts an Intel HEX memory image into a flat binary file.
// The run goes banner, command line, input pass, consolidation, report and
// image; every error leaves through usage_error or fatal_error.
#include "data_sections.h"
#include "ihex.h"
#include "quillkit.h"

#include <cassert>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

static const char *const version = "v1.02";

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

// ---------------------------------------------------------------------------
// Ways out

[[noreturn]] __attribute__((format(printf, 1, 2))) static void usage_error(const char *format, ...)
{
    printf("\n\nUSAGE: tesslar [<options>] <input .hex file> <output .bin file> ...");
    printf("\n\twhere: <options> can be");
    printf("\n\t\t-i\t\t\t-\tParse the HEX file and display information about data content");
    printf("\n\t\t--pad <value>\t\t-\tvalue for padding the binary file with (default 0xFF)");
    printf("\n\t\t--padgran <value>\t-\tpadding granularity in bytes: 1, 2 or 4 (default 1)");
    printf("\n\t\t--offset [-]<value>\t-\toffset to add to or subtract from the IHEX addresses\n\n");
    printf("\n\t\t--top <value>\t-\tmaximum address to read from the IHEX file\n\n");
    printf("\nERROR: ");
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    printf("\n\n");
    exit(1);
}

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

// Reads an option's value; only the low 32 bits are kept. A value is bad only
// when characters are left after the number.
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
        // Options that take a value consume the next argument, whatever it is.
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;

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

// One read holds at most 522 characters: a record of the longest kind
// (521 characters) with its LF.
constexpr int line_buffer_size = 523;
constexpr int data_buffer_size = 256;

// The input is read front to back exactly once, in 64 KiB reads. A bigger
// buffer reads no faster and costs a page fault per 4 KiB on every run: on
// a 1 MiB input, 256 KiB of buffer cost more than half a millisecond.
static char input_stream_buffer[1 << 16];

static const char *skip_line_end(const char *p)
{
    while (*p == '\r' || *p == '\n')
        p++;
    return p;
}

static const char *reader_message(int result)
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
#ifdef __GLIBC__
    // Only this thread reads the stream; the locking of fgets buys nothing.
    return fgets_unlocked(line, line_buffer_size, input) != nullptr;
#else
    return fgets(line, line_buffer_size, input) != nullptr;
#endif
}

// After the end-of-file record only blank lines are expected; the first
// other line earns a warning and ends the reading. Nothing here is parsed.
static void read_after_end_of_file(char *line, FILE *input)
{
    while (read_line(line, input)) {
        if (*skip_line_end(line) != '\0') {
            printf("WARNING: Extra data after the end-of-file record");
            return;
        }
    }
}

// Reads the whole input into `sections`, one section per data record, in
// ascending address order.
static void read_input(const conversion_options_t *options, ihex_reader_t *reader, char *line, uint8_t *data,
                       data_section_list_t *sections)
{
    printf("\nInput file: %s\n", options->input_path);
    // A folder opens for reading here but holds no lines: it is refused as
    // a file that cannot be opened.
    FILE *input = fopen(options->input_path, "r");
    struct stat status;
    if (input != nullptr && (fstat(fileno(input), &status) != 0 || S_ISDIR(status.st_mode)))
        input = nullptr;
    if (input == nullptr)
        fatal_error(0, "cannot open input file: '%s'", options->input_path);
    setvbuf(input, input_stream_buffer, _IOFBF, sizeof input_stream_buffer);

    ihex_reader_init(reader);
    data_sections_list_init(sections);
    uint32_t line_number = 0;
    uint32_t address = 0;
    bool end_of_file_seen = false;

    while (read_line(line, input)) {
        line_number++;
        const char *record = skip_line_end(line);
        if (*record == '\0')
            continue;

        uint32_t length;
        int result = ihex_parse_line(reader, record, &address, &length, data);
        if (result == IHEX_RESULT_EOF) {
            printf("\nEnd-of-file record detected at line %u", line_number);
            read_after_end_of_file(line, input);
            end_of_file_seen = true;
            break;
        }
        if (result != IHEX_RESULT_OK)
            fatal_error(line_number, "%s", reader_message(result));

        // Data beyond the top address ends the reading as if the file ended.
        if (address > options->top_address)
            break;
        if (length == 0)
            continue;
        if (uint64_t(address) + length > (uint64_t(1) << 32))
            fatal_error(line_number, "%s", reader_message(IHEX_RESULT_ADDRESS_OUT_OF_RANGE));
        if (address + length - 1 > options->top_address)
            length = options->top_address - address + 1;

        data_section_t *new_line = data_section_alloc(length);
        assert(new_line);
        new_line->address = address;
        new_line->size = length;
        memcpy(data_section_bytes(new_line), data, length);
        data_sections_append(sections, new_line);
    }

    if (!end_of_file_seen)
        printf("\nWARNING: End-of-file record not detected");
    fclose(input);
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
// it in one piece. Frees the regions.
static void write_image(const conversion_options_t *options, data_section_t *regions)
{
    printf("\n\nOutput file: %s", options->output_path);
    FILE *output = fopen(options->output_path, "wb");
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
        if (uint64_t(s->address) + s->size > image_end)
            image_end = uint64_t(s->address) + s->size;

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
        fatal_error(0, "%s", reader_message(IHEX_RESULT_ADDRESS_OUT_OF_RANGE));

    fflush(stdout);
    uint64_t rounded_size = (image_size + 3) & ~uint64_t(3);
    uint8_t *image = static_cast<uint8_t *>(data_sections_alloc_bulk(rounded_size));
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
    ihex_reader_t reader;
    char line[line_buffer_size];
    uint8_t data[data_buffer_size];
    data_section_list_t sections;

    printf("\nTESSLAR %s.\n", version);
    read_command_line(argc, argv, &options);
    read_input(&options, &reader, line, data, &sections);

    data_section_t *regions = sections.head != nullptr ? data_sections_consolidate(sections.head) : nullptr;
#ifdef __GLIBC__
    // The per-record sections are gone; hand their memory back before the
    // image is built, so that the two never count together.
    malloc_trim(0);
#endif
    report(&options, &reader, regions);
    write_image(&options, regions);
    return 0;
}
