// SPDX-License-Identifier: MIT
// tesslar-merge: merges Intel HEX files, linked ELF files and raw binaries
// into one Intel HEX file.
// The run goes command line, inputs, overlaps, slot and output; every
// error leaves through command_usage_error or command_error.
#include "command.h"
#include "data_sections.h"
#include "elf_input.h"
#include "slot.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <getopt.h>

enum overlap_policy_t { OVERLAP_ERROR, OVERLAP_SAME, OVERLAP_FIRST, OVERLAP_LAST };
static const char *const overlap_policy_names[] = {"error", "same", "first", "last"};

// An input: an IHEX or ELF file (told by its first bytes), or a raw binary
// placed at an address.
enum input_kind_t { INPUT_IHEX, INPUT_ELF, INPUT_BINARY };
struct input_t {
    const char *path;
    input_kind_t kind;
    uint32_t address; // of a binary's first byte
};

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
    int only_count, removed_count; // -j and -R: the ELF sections to take, or to leave out
    const char **only_sections, **removed_sections;
    slot_t slot;
};

// One data record of an input, or up to 255 bytes of an ELF section or a
// binary. Records are kept in the order they were read, input after input;
// their bytes lie in one store, in the same order.
struct record_t {
    uint32_t address;
    uint32_t line;        // its line; of an ELF section, where its name lies in the names
    uint64_t offset : 56; // of its bytes in the store
    uint64_t size : 8;
};

// A run of records that overlap or touch, written as one block.
struct region_t {
    uint32_t address;
    uint64_t end;
    size_t first, count; // its records, in address order
    bool overlapped;
    bool in_store;       // its bytes lie in the store already, one after the other
    uint8_t *bytes;
};

// Two records that give some byte twice; `later` was read after `earlier`.
struct overlap_t {
    const record_t *earlier, *later;
    uint32_t address;
    uint64_t end;
};

// An array that doubles as it fills.
template <typename T> struct growing_t {
    T *items = nullptr;
    size_t count = 0, capacity = 0;
};

// Room for `capacity` items up front, in memory that the system may back with
// large pages: an estimate from the inputs' sizes saves the copies of growing.
template <typename T> static void reserve(growing_t<T> *array, uint64_t capacity)
{
    array->items = static_cast<T *>(data_sections_alloc_bulk(capacity * sizeof(T)));
    array->capacity = array->items == nullptr ? 0 : capacity;
}

template <typename T> static T *grow(growing_t<T> *array, size_t more)
{
    if (array->count + more > array->capacity) {
        array->capacity = std::max(2 * array->capacity, array->count + more + 1024);
        array->items = static_cast<T *>(realloc(array->items, array->capacity * sizeof(T)));
        if (array->items == nullptr)
            command_error("cannot allocate memory");
    }
    array->count += more;
    return array->items + array->count - more;
}

struct merge_t {
    const merge_options_t *options;
    growing_t<record_t> records;
    growing_t<uint8_t> store;
    growing_t<region_t> regions;
    growing_t<overlap_t> overlaps;
    const record_t **sorted;
    size_t *first_record;   // the first record of each input
    growing_t<char> names;  // the names of the ELF sections read, each ended by a NUL
    int start_input;        // the first input that carries a start address, or -1
    uint32_t start_address;
    uint32_t input;            // the input being read
    const ihex_input_t *state; // and its reading state
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
    free(options->only_sections);
    free(options->removed_sections);
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
                               nullptr, 0, 0, nullptr, nullptr, slot_t{}};
    options->inputs = static_cast<input_t *>(allocate(argc * sizeof(input_t)));
    options->only_sections = static_cast<const char **>(allocate(argc * sizeof(char *)));
    options->removed_sections = static_cast<const char **>(allocate(argc * sizeof(char *)));
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
            options->only_sections[options->only_count++] = optarg;
            break;
        case 'R':
            options->removed_sections[options->removed_count++] = optarg;
            break;
        case 'o':
            options->output_path = optarg;
            break;
        case 'i':
            if (options->info_only)
                command_usage_error("duplicate -i option");
            options->info_only = true;
            break;
        case OPTION_OVERLAP: {
            int policy = 0;
            while (policy < 4 && strcmp(optarg, overlap_policy_names[policy]) != 0)
                policy++;
            if (policy == 4)
                command_usage_error("invalid value for --overlap: '%s'. Must be error, same, first or last", optarg);
            options->overlap = overlap_policy_t(policy);
            break;
        }
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
// Inputs

// Keeps `size` bytes at `address` as records of up to 255 bytes.
static void keep_bytes(merge_t *merge, uint32_t address, const uint8_t *bytes, uint64_t size, uint32_t line)
{
    for (uint64_t at = 0; at < size; at += 255) {
        uint32_t length = uint32_t(std::min<uint64_t>(255, size - at));
        *grow(&merge->records, 1) = {uint32_t(address + at), line, merge->store.count, length};
        memcpy(grow(&merge->store, length), bytes + at, length);
    }
}

static bool keep_record(void *context, uint32_t address, uint32_t length, const uint8_t *data)
{
    merge_t *merge = static_cast<merge_t *>(context);
    if (uint64_t(address) + length > (uint64_t(1) << 32))
        command_error("%s at line %u of '%s'", reader_message(IHEX_RESULT_ADDRESS_OUT_OF_RANGE),
                      merge->state->line_number, merge->options->inputs[merge->input].path);
    keep_bytes(merge, address, data, length, merge->state->line_number);
    return true;
}

static void report_start(bool present, uint32_t address)
{
    if (present)
        report("start address %08Xh\n", address);
    else
        report("no start address\n");
}

// Reads an IHEX input with tesslar's rules. Returns its start address.
static ihex_reader_t read_ihex_input(merge_t *merge, FILE *file, const char *path, char *line, uint8_t *data)
{
    ihex_input_t input;
    merge->state = &input;
    read_ihex(file, &input, line, data, keep_record, merge);
    if (ferror(file))
        file_error("cannot read input file", path);
    if (input.error != IHEX_RESULT_OK)
        command_error("%s at line %u of '%s'", reader_message(input.error), input.line_number, path);
    if (!input.end_of_file_seen)
        command_warning("End-of-file record not detected in '%s'", path);
    if (input.extra_data)
        command_warning("Extra data after the end-of-file record in '%s'", path);
    report("'%s': %u records, %u bytes of data, ", path, input.reader.record_count, input.reader.data_byte_count);
    report_start(input.reader.start_address_present, input.reader.start_address);
    return input.reader;
}

static bool named(const char *name, const char *const *names, int count)
{
    for (int i = 0; i < count; i++)
        if (strcmp(name, names[i]) == 0)
            return true;
    return false;
}

// The sections of an ELF input that go into the image, until they are kept.
struct elf_pieces_t {
    const merge_options_t *options;
    growing_t<elf_piece_t> taken;
};

static void take_piece(void *context, const elf_piece_t *piece)
{
    elf_pieces_t *pieces = static_cast<elf_pieces_t *>(context);
    const merge_options_t *options = pieces->options;
    if ((options->only_count == 0 || named(piece->name, options->only_sections, options->only_count)) &&
        !named(piece->name, options->removed_sections, options->removed_count))
        *grow(&pieces->taken, 1) = *piece;
}

// Reads a linked ELF file that lies whole in `file`: its sections, as objcopy
// puts them into an IHEX file.
static ihex_reader_t read_elf_input(merge_t *merge, const char *path, const uint8_t *file, uint64_t size)
{
    elf_pieces_t pieces{merge->options, {}};
    elf_result_t result;
    if (!elf_read(file, size, &result, take_piece, &pieces))
        command_error("'%s': %s", path, result.error);
    uint64_t bytes = 0;
    for (size_t i = 0; i < pieces.taken.count; i++)
        bytes += pieces.taken.items[i].size;
    report("'%s': ELF, %llu sections, %llu bytes of data, ", path, static_cast<unsigned long long>(pieces.taken.count),
           static_cast<unsigned long long>(bytes));
    report_start(result.start_present, result.start_address);
    for (size_t i = 0; i < pieces.taken.count; i++) {
        const elf_piece_t &piece = pieces.taken.items[i];
        uint32_t name = uint32_t(merge->names.count);
        memcpy(grow(&merge->names, strlen(piece.name) + 1), piece.name, strlen(piece.name) + 1);
        keep_bytes(merge, piece.load_address, piece.bytes, piece.size, name);
        if (!merge->options->info_only)
            continue;
        report("\t%s at %08Xh, %u bytes", piece.name, piece.load_address, piece.size);
        if (piece.run_address != piece.load_address)
            report(", runs at %08Xh", piece.run_address);
        report("\n");
    }
    free(pieces.taken.items);
    ihex_reader_t reader{};
    reader.start_address_present = result.start_present;
    reader.start_address = result.start_address;
    return reader;
}

// Reads every input in turn and tells what each held: IHEX with tesslar's
// rules, ELF as objcopy reads it, a binary at its address.
static void read_inputs(merge_t *merge, char *line, uint8_t *data)
{
    const merge_options_t *options = merge->options;
    for (merge->input = 0; merge->input < uint32_t(options->input_count); merge->input++) {
        input_t *input = &options->inputs[merge->input];
        merge->first_record[merge->input] = merge->records.count;
        platform_file_t status;
        FILE *file = open_input(input->path, &status);
        if (file == nullptr)
            file_error("cannot open input file", input->path);
        // An ELF file begins with 7Fh, which no IHEX line does.
        int first = input->kind == INPUT_BINARY ? EOF : getc(file);
        ungetc(first, file);
        ihex_reader_t reader{};
        uint64_t size;
        if (input->kind == INPUT_BINARY || first == 0x7F) {
            uint8_t *bytes = read_all(file, input->path, &size);
            if (input->kind == INPUT_BINARY) {
                if (size > (uint64_t(1) << 32) - input->address)
                    command_error("'%s' at %08Xh ends beyond FFFFFFFFh", input->path, input->address);
                keep_bytes(merge, input->address, bytes, size, 0);
                report("'%s': %llu bytes", input->path, static_cast<unsigned long long>(size));
                report(size == 0 ? "\n" : " at %08Xh - %08Xh\n", input->address, uint32_t(input->address + size - 1));
            } else if (elf_is_elf(bytes, size)) {
                input->kind = INPUT_ELF;
                reader = read_elf_input(merge, input->path, bytes, size);
            } else {
                command_error("%s at line 1 of '%s'", reader_message(IHEX_RESULT_INVALID_START_CODE), input->path);
            }
            free(bytes);
        } else {
            reader = read_ihex_input(merge, file, input->path, line, data);
        }
        fclose(file);
        if (!reader.start_address_present || options->info_only || options->start_given || options->no_start)
            continue;
        if (merge->start_input < 0) {
            merge->start_input = int(merge->input);
            merge->start_address = reader.start_address;
        } else if (reader.start_address != merge->start_address) {
            command_error("the start addresses differ: '%s' gives %08Xh, '%s' gives %08Xh; --start <address> "
                          "chooses one, --no-start writes none",
                          options->inputs[merge->start_input].path, merge->start_address, input->path,
                          reader.start_address);
        }
    }
}

// ---------------------------------------------------------------------------
// Regions and overlaps

// The input a record came from.
static const input_t *input_of(const merge_t *merge, const record_t *record)
{
    size_t index = size_t(record - merge->records.items);
    size_t *after = std::upper_bound(merge->first_record, merge->first_record + merge->options->input_count, index);
    return &merge->options->inputs[after - merge->first_record - 1];
}

// Where records lie in their input, from the one at `first` to the one at
// `last`: "'app.hex' line 3", "'app.hex' lines 3-9", "'app.elf' section
// .text", "'app.elf' sections .text-.data", or "'boot.bin'".
static const char *locate(const merge_t *merge, const input_t *input, uint32_t first, uint32_t last, char (&text)[4500])
{
    const char *names = merge->names.items;
    if (input->kind == INPUT_BINARY)
        snprintf(text, sizeof text, "'%.4096s'", input->path);
    else if (input->kind == INPUT_ELF && first == last)
        snprintf(text, sizeof text, "'%.4096s' section %.180s", input->path, names + first);
    else if (input->kind == INPUT_ELF)
        snprintf(text, sizeof text, "'%.4096s' sections %.180s-%.180s", input->path, names + first, names + last);
    else if (first == last)
        snprintf(text, sizeof text, "'%.4096s' line %u", input->path, first);
    else
        snprintf(text, sizeof text, "'%.4096s' lines %u-%u", input->path, first, last);
    return text;
}

static uint64_t end_of(const record_t *record)
{
    return uint64_t(record->address) + record->size;
}

// Puts the records in address order (of equal addresses, the one read first
// first), then sweeps over them: records that overlap or touch make one
// region, and every two records that share an address make an overlap.
static void find_regions(merge_t *merge, bool stop_at_first_overlap)
{
    size_t count = merge->records.count;
    const record_t *records = merge->records.items;
    merge->sorted = static_cast<const record_t **>(allocate(count * sizeof(record_t *)));
    size_t in_order = 1;
    while (in_order < count && records[in_order - 1].address <= records[in_order].address)
        in_order++;
    if (in_order >= count) {
        for (size_t i = 0; i < count; i++)
            merge->sorted[i] = records + i;
    } else {
        data_section_key_t *keys = static_cast<data_section_key_t *>(allocate(2 * count * sizeof(data_section_key_t)));
        for (size_t i = 0; i < count; i++)
            keys[i] = {records[i].address, records + i};
        const data_section_key_t *sorted = data_sections_sort_keys(keys, keys + count, count);
        for (size_t i = 0; i < count; i++)
            merge->sorted[i] = static_cast<const record_t *>(sorted[i].item);
        free(keys);
    }

    // The records whose bytes reach beyond the address swept so far.
    growing_t<const record_t *> active;
    region_t *region = nullptr;
    for (size_t i = 0; i < count; i++) {
        const record_t *r = merge->sorted[i];
        size_t kept = 0;
        for (size_t a = 0; a < active.count; a++)
            if (end_of(active.items[a]) > r->address)
                active.items[kept++] = active.items[a];
        active.count = kept;
        for (size_t a = 0; a < kept && !(stop_at_first_overlap && merge->overlaps.count != 0); a++) {
            const record_t *other = active.items[a];
            *grow(&merge->overlaps, 1) = {std::min(other, r), std::max(other, r), r->address,
                                          std::min(end_of(other), end_of(r))};
        }
        *grow(&active, 1) = r;

        if (region == nullptr || r->address > region->end) {
            region = grow(&merge->regions, 1);
            *region = {r->address, end_of(r), i, 1, false, true, nullptr};
            continue;
        }
        const record_t *before = merge->sorted[i - 1];
        region->overlapped = region->overlapped || r->address < region->end;
        region->in_store = region->in_store && r->address == end_of(before) && r->offset == before->offset + before->size;
        region->end = std::max(region->end, end_of(r));
        region->count++;
    }
    free(active.items);
}

// The first address at which the two records of an overlap differ, or its
// end when they agree throughout.
static uint64_t first_difference(const merge_t *merge, const overlap_t *overlap)
{
    const uint8_t *a = merge->store.items + overlap->earlier->offset + (overlap->address - overlap->earlier->address);
    const uint8_t *b = merge->store.items + overlap->later->offset + (overlap->address - overlap->later->address);
    uint64_t length = overlap->end - overlap->address, i = 0;
    while (i < length && a[i] == b[i])
        i++;
    return overlap->address + i;
}

// Overlaps of the same two inputs that follow one another in address order
// (two files that carry the same block overlap record by record), told as
// one: the first and last lines of each side, and the range they share.
struct overlap_group_t {
    const input_t *inputs[2];   // the earlier input, then the later one
    uint32_t lines[2][2];       // the first and last line of each side
    uint64_t address, end;
    bool same;                  // the bytes given twice agree throughout
};

// A group of one overlap.
static overlap_group_t group_of(const merge_t *merge, const overlap_t *overlap)
{
    overlap_group_t group;
    const record_t *sides[2] = {overlap->earlier, overlap->later};
    for (int side = 0; side < 2; side++) {
        group.inputs[side] = input_of(merge, sides[side]);
        group.lines[side][0] = group.lines[side][1] = sides[side]->line;
    }
    group.address = overlap->address;
    group.end = overlap->end;
    group.same = first_difference(merge, overlap) == overlap->end;
    return group;
}

// Gathers the group that begins at overlaps[i]; returns the index after it.
static size_t group_overlaps(const merge_t *merge, size_t i, overlap_group_t *group)
{
    *group = group_of(merge, &merge->overlaps.items[i]);
    for (i++; i < merge->overlaps.count; i++) {
        overlap_group_t next = group_of(merge, &merge->overlaps.items[i]);
        if (next.address > group->end || next.inputs[0] != group->inputs[0] || next.inputs[1] != group->inputs[1])
            break;
        for (int side = 0; side < 2; side++) {
            group->lines[side][0] = std::min(group->lines[side][0], next.lines[side][0]);
            group->lines[side][1] = std::max(group->lines[side][1], next.lines[side][1]);
        }
        group->end = std::max(group->end, next.end);
        group->same = group->same && next.same;
    }
    return i;
}

// "'app.hex' line 3 overlaps 'boot.hex' line 1 at 00000002h", or for a
// group "'b.hex' lines 2-9 overlap 'a.hex' lines 2-9 at ...", into `text`.
static const char *describe(const merge_t *merge, const overlap_group_t *group, uint64_t at, char (&text)[9100])
{
    char sides[2][4500];
    for (int side = 0; side < 2; side++)
        locate(merge, group->inputs[side], group->lines[side][0], group->lines[side][1], sides[side]);
    bool several = group->lines[1][0] != group->lines[1][1];
    snprintf(text, sizeof text, "%s overlap%s %s at %08Xh", sides[1], several ? "" : "s", sides[0], uint32_t(at));
    return text;
}

// Applies the overlap policy: an error ends the run at the lowest address
// given twice (with "same", given twice with different values); with "first"
// and "last" each group of overlaps is a warning.
static void resolve_overlaps(const merge_t *merge)
{
    overlap_policy_t policy = merge->options->overlap;
    const overlap_t *worst = nullptr;
    uint64_t worst_at = UINT64_MAX;
    char text[9100];
    overlap_group_t group;
    for (size_t i = 0; i < merge->overlaps.count;) {
        const overlap_t *overlap = &merge->overlaps.items[i];
        if (policy == OVERLAP_FIRST || policy == OVERLAP_LAST) {
            i = group_overlaps(merge, i, &group);
            command_warning("%s - %08Xh", describe(merge, &group, group.address, text), uint32_t(group.end - 1));
            continue;
        }
        uint64_t at = policy == OVERLAP_ERROR ? overlap->address : first_difference(merge, overlap);
        if (at < overlap->end && at < worst_at) {
            worst = overlap;
            worst_at = at;
        }
        i++;
    }
    if (worst == nullptr)
        return;
    group = group_of(merge, worst);
    command_error("%s%s", describe(merge, &group, worst_at, text),
                  policy == OVERLAP_SAME ? " with another value"
                  : group.same ? " with the same bytes; --overlap same accepts them"
                               : "; --overlap first or last chooses which one stays");
}

// Gives every region its bytes: those in the store where they already lie
// in order, else a copy in which the records are laid down in the order they
// were read, so that in an overlap the last one read stays, or, with
// "first", in the opposite order.
static void build_regions(merge_t *merge)
{
    for (size_t i = 0; i < merge->regions.count; i++) {
        region_t *region = &merge->regions.items[i];
        const record_t **records = merge->sorted + region->first;
        if (region->in_store) {
            region->bytes = merge->store.items + records[0]->offset;
            continue;
        }
        region->bytes = static_cast<uint8_t *>(allocate(region->end - region->address));
        if (region->overlapped)
            std::sort(records, records + region->count);
        bool first_wins = merge->options->overlap == OVERLAP_FIRST;
        for (size_t j = 0; j < region->count; j++) {
            const record_t *r = records[first_wins ? region->count - 1 - j : j];
            memcpy(region->bytes + (r->address - region->address), merge->store.items + r->offset, r->size);
        }
    }
}

// ---------------------------------------------------------------------------
// Report and output

static void report(const merge_t *merge)
{
    report("Data regions:\n");
    for (size_t i = 0; i < merge->regions.count; i++) {
        const region_t *region = &merge->regions.items[i];
        report("\tRegion at %08Xh, %u bytes\n", region->address, uint32_t(region->end - region->address));
    }
    if (merge->regions.count == 0)
        report("\tnone\n");
    report("Overlaps:\n");
    char text[9100];
    overlap_group_t group;
    for (size_t i = 0; i < merge->overlaps.count;) {
        i = group_overlaps(merge, i, &group);
        report("\t%s - %08Xh, %s\n", describe(merge, &group, group.address, text), uint32_t(group.end - 1),
               group.same ? "the same bytes" : "different bytes");
    }
    if (merge->overlaps.count == 0)
        report("\tnone\n");
}

// An input byte may not lie where the CRC goes: the first record in address
// order that reaches into it is named.
static void check_crc_place(const merge_t *merge)
{
    const slot_t *slot = &merge->options->slot;
    if (slot->crc == nullptr)
        return;
    for (size_t i = 0; i < merge->records.count && merge->sorted[i]->address < slot_crc_end(slot); i++)
        if (end_of(merge->sorted[i]) > slot->crc_at) {
            char text[4500];
            const record_t *record = merge->sorted[i];
            command_error("%s overlaps the CRC at %08Xh",
                          locate(merge, input_of(merge, record), record->line, record->line, text), slot->crc_at);
        }
}

// Lays the regions out with the slot's fill and CRC.
static void build_slot(merge_t *merge, slot_t *slot)
{
    slot_piece_t *blocks = static_cast<slot_piece_t *>(allocate(merge->regions.count * sizeof(slot_piece_t)));
    for (size_t i = 0; i < merge->regions.count; i++)
        blocks[i] = {merge->regions.items[i].address, merge->regions.items[i].end, merge->regions.items[i].bytes};
    slot_build(slot, blocks, merge->regions.count);
    free(blocks);
}

static void write_merged(const merge_t *merge, const slot_t *slot)
{
    const merge_options_t *options = merge->options;
    bool start_present = !options->no_start && (options->start_given || merge->start_input >= 0);
    uint32_t start_address = options->start_given ? options->start_address : merge->start_address;
    // a --start value was checked with the command line: only an input's can be out of reach
    const char *start_from = options->inputs[std::max(0, merge->start_input)].path;
    uint32_t limit = address_mode_limit(options->mode);
    if (merge->regions.count != 0 && merge->regions.items[merge->regions.count - 1].end - 1 > limit)
        command_error("the data ends beyond %08Xh, the highest address of the %s mode%s", limit,
                      address_mode_name(options->mode),
                      options->mode == IHEX_ADDRESS_MODE_LINEAR ? "" : "; --mode linear reaches FFFFFFFFh");
    if (start_present && options->mode == IHEX_ADDRESS_MODE_16BIT)
        command_error("the 16bit mode has no start address record for %08Xh of '%s'; --no-start leaves it out",
                      start_address, start_from);
    if (start_present && start_address > limit)
        command_error("the start address %08Xh of '%s' lies beyond %08Xh, the highest of the %s mode; --start "
                      "or --no-start overrides it", start_address, start_from, limit, address_mode_name(options->mode));
    output_t output;
    ihex_writer_t writer;
    open_ihex_output(&output, options->output_path, &writer, options->mode, options->record_bytes);
    writer.skip_fill = 0; // every byte given is written
    writer.start_address_present = start_present;
    writer.start_address = start_address;
    // Pieces that touch make one block. It goes to the writer in chunks of
    // whole records, which give the same lines as the block at once.
    uint64_t chunk = 1024 * options->record_bytes;
    uint8_t *scratch = static_cast<uint8_t *>(allocate(chunk));
    size_t cursor = 0;
    for (size_t i = 0; i < slot->piece_count;) {
        uint64_t first = slot->pieces[i].address, end = slot->pieces[i].end;
        while (++i < slot->piece_count && slot->pieces[i].address == end)
            end = slot->pieces[i].end;
        for (uint64_t at = first; at < end; at += chunk) {
            writer.remaining = uint32_t(std::min(chunk, end - at));
            writer.data = slot_bytes(slot, &cursor, at, writer.remaining, scratch);
            writer.address = uint32_t(at);
            write_ihex_block(&writer, &output, 0);
        }
    }
    free(scratch);
    write_ihex_block(&writer, &output, 1);
    if (!output_close(&output))
        file_error("cannot write output file", options->output_path);
    report("Wrote '%s': %u lines, %u data bytes, %s mode, ", options->output_path, writer.line_count,
           writer.data_byte_count, address_mode_name(options->mode));
    if (start_present)
        report("start address %08Xh\n", start_address);
    else
        report("no start address\n");
}

// ---------------------------------------------------------------------------

int main(int argc, char **argv)
{
    merge_options_t options;
    merge_t merge{};
    char line[ihex_line_size];
    uint8_t data[256];

    platform_arguments(&argc, &argv);
    read_command_line(argc, argv, &options);
    // Writing over an input would destroy it before it was read. Every data
    // byte takes two characters and every record at least 13, so the inputs'
    // sizes also bound what is kept of them.
    bool writes = options.output_path != nullptr && !options.info_only;
    uint64_t input_bytes = 0;
    for (int i = 0; i < options.input_count; i++) {
        platform_file_t status;
        if (!platform_stat(options.inputs[i].path, &status))
            continue;
        if (writes && is_same_file(options.output_path, &status))
            command_error("the output file is one of the inputs: '%s'", options.output_path);
        input_bytes += status.size;
    }
    reserve(&merge.records, input_bytes / 13 + 1);
    merge.first_record = static_cast<size_t *>(allocate(options.input_count * sizeof(size_t)));
    reserve(&merge.store, input_bytes / 2 + 1);
    merge.options = &options;
    merge.start_input = -1;
    read_inputs(&merge, line, data);
    find_regions(&merge, options.overlap == OVERLAP_ERROR && !options.info_only);
    slot_t *slot = &options.slot;
    if (options.info_only)
        report(&merge);
    else
        resolve_overlaps(&merge);
    if (!options.info_only || slot->fill || slot->crc != nullptr) {
        check_crc_place(&merge);
        build_regions(&merge);
        build_slot(&merge, slot);
    }
    if (!options.info_only)
        write_merged(&merge, slot);

    for (size_t i = 0; i < merge.regions.count; i++)
        if (!merge.regions.items[i].in_store)
            free(merge.regions.items[i].bytes);
    free(merge.regions.items);
    free(merge.overlaps.items);
    free(merge.sorted);
    free(merge.first_record);
    free(merge.records.items);
    free(merge.store.items);
    free(merge.names.items);
    slot_free(slot);
    free_options(&options);
    report_flush();
    return 0;
}
