// SPDX-License-Identifier: MIT
// outputs.cpp: a run's outputs, each in the format its name says, checked
// first, written beside their targets, and put in place together.
#include "outputs/outputs.h"

#include "cli/command.h"
#include "cli/report.h"
#include "cli/values.h"
#include "outputs/hex.h"
#include "outputs/writers.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

static const char *const format_names[] = {"", "ihex", "srec", "binary", "uf2", "verilog", "ti-txt", "c"};

bool output_format_read(const char *text, output_format_t *format)
{
    for (int f = FORMAT_IHEX; f <= FORMAT_C; f++)
        if (strcmp(text, format_names[f]) == 0) {
            *format = output_format_t(f);
            return true;
        }
    return false;
}

// The format an output's name says, FORMAT_NONE for a name without an
// ending; *ending receives the ending, null for none.
static output_format_t format_of(const char *path, const char **ending)
{
    static const struct {
        const char *ending;
        output_format_t format;
    } endings[] = {{".hex", FORMAT_IHEX},  {".ihex", FORMAT_IHEX}, {".ihx", FORMAT_IHEX}, {".h86", FORMAT_IHEX},
                   {".srec", FORMAT_SREC}, {".s19", FORMAT_SREC},  {".s28", FORMAT_SREC}, {".s37", FORMAT_SREC},
                   {".mot", FORMAT_SREC},  {".s", FORMAT_SREC},    {".sx", FORMAT_SREC},  {".bin", FORMAT_BINARY},
                   {".uf2", FORMAT_UF2},   {".vh", FORMAT_VERILOG}, {".c", FORMAT_C}};
    *ending = strrchr(path, '.');
    if (*ending != nullptr && (strchr(*ending, '/') != nullptr || strchr(*ending, '\\') != nullptr))
        *ending = nullptr; // a dot of a folder's name
    for (const auto &e : endings)
        if (*ending != nullptr && strcasecmp(*ending, e.ending) == 0)
            return e.format;
    return FORMAT_NONE;
}

// The folder of `path`, "." for none.
static const char *folder_of(const char *path, char (&folder)[4096])
{
    const char *slash = strrchr(path, '/');
    snprintf(folder, sizeof folder, "%.*s", slash == nullptr ? 1 : slash == path ? 1 : int(slash - path),
             slash == nullptr ? "." : path);
    return folder;
}

// Whether two outputs name the same file: an existing one under any name,
// or one still to be made by the same name in the same folder.
static bool same_output(const char *a, const char *b)
{
    if (strcmp(a, "-") == 0 || strcmp(b, "-") == 0)
        return strcmp(a, b) == 0;
    platform_file_t status;
    if (platform_stat(a, &status))
        return platform_same_file(b, &status);
    const char *name_a = strrchr(a, '/'), *name_b = strrchr(b, '/');
    char folder_a[4096], folder_b[4096];
    return strcmp(name_a != nullptr ? name_a + 1 : a, name_b != nullptr ? name_b + 1 : b) == 0 &&
           platform_stat(folder_of(a, folder_a), &status) && platform_same_file(folder_of(b, folder_b), &status);
}

void outputs_resolve(const char *const *paths, int count, output_format_t otherwise, bool family_given,
                     output_target_t *targets, bool *ihex, bool *binary)
{
    *ihex = *binary = false;
    for (int i = 0; i < count; i++) {
        const char *ending;
        targets[i].path = paths[i];
        targets[i].format = format_of(paths[i], &ending);
        if (targets[i].format == FORMAT_NONE && ending != nullptr && otherwise == FORMAT_NONE)
            command_usage_error("unknown output extension '%s' for '%s': -O names the format", ending, paths[i]);
        if (targets[i].format == FORMAT_NONE)
            targets[i].format = otherwise != FORMAT_NONE ? otherwise : FORMAT_IHEX;
        *ihex = *ihex || targets[i].format == FORMAT_IHEX;
        *binary = *binary || targets[i].format == FORMAT_BINARY || targets[i].format == FORMAT_C;
        if (targets[i].format == FORMAT_UF2 && !family_given)
            command_usage_error("the UF2 output '%s' needs --uf2-family: RP2040, NRF52840, SAMD51...; "
                                "'%s --uf2-family list' lists every one", paths[i], command_name());
        for (int j = 0; j < i; j++)
            if (same_output(paths[j], paths[i]))
                command_usage_error(strcmp(paths[i], "-") == 0
                                        ? "-o %s and -o %s: standard output takes one output"
                                        : "-o %s and -o %s name the same file", paths[j], paths[i]);
    }
}

uint64_t outputs_spare_input(const char *const *outputs, int output_count, const char *path, bool one_of_many)
{
    platform_file_t status;
    if (strcmp(path, "-") == 0 || !platform_stat(path, &status))
        return 0;
    for (int o = 0; o < output_count; o++)
        if (platform_same_file(outputs[o], &status))
            command_error(one_of_many ? "the output file is one of the inputs: '%s'"
                                      : "the output file is the input file: '%s'", outputs[o]);
    return status.size;
}

// What an IHEX output in the settings' mode cannot hold ends the run.
static void check_ihex(const output_settings_t *settings, const image_view_t *view)
{
    ihex_address_mode_t mode = settings->mode;
    uint32_t limit = address_mode_limit(mode);
    const growing_t<image_piece_t> &pieces = view->pieces;
    // a --start value was checked with the command line: only an input's can be out of reach
    const start_address_t *start = &settings->start;
    if (pieces.count != 0 && !address_mode_reaches(mode, pieces.items[pieces.count - 1].end - 1))
        command_error("the data ends beyond %08Xh, the highest address of the %s mode%s", limit,
                      address_mode_name(mode), mode == IHEX_ADDRESS_MODE_LINEAR ? "" : "; --mode linear reaches FFFFFFFFh");
    if (start->present && mode == IHEX_ADDRESS_MODE_16BIT)
        command_error("the 16bit mode has no start address record for %08Xh of '%s'; --no-start leaves it out",
                      start->address, start->from);
    if (start->present && !address_mode_reaches(mode, start->address))
        command_error("the start address %08Xh of '%s' lies beyond %08Xh, the highest of the %s mode; --start "
                      "or --no-start overrides it", start->address, start->from, limit, address_mode_name(mode));
}

// What an output holds, for its line of the report.
struct written_t {
    ihex_writer_t writer;
    uint64_t size;
    uint32_t records;
    int srec_type;
    char c_name[128];
};

static void report_written(const output_target_t *target, const written_t *written, const output_settings_t *settings,
                           const image_view_t *view)
{
    report("Wrote '%s': ", target->path);
    const char *bytes = plural(written->size, "byte", "bytes");
    switch (target->format) {
    case FORMAT_IHEX:
        report("%u %s, %u data %s, %s mode, ", written->writer.line_count,
               plural(written->writer.line_count, "line", "lines"), written->writer.data_byte_count,
               plural(written->writer.data_byte_count, "byte", "bytes"), address_mode_name(settings->mode));
        report_start_address(settings->start.present, settings->start.address);
        break;
    case FORMAT_SREC:
        report("%u records, %llu data %s, S%d, ", written->records, static_cast<unsigned long long>(written->size),
               bytes, written->srec_type);
        report_start_address(settings->start.present, settings->start.address);
        break;
    case FORMAT_BINARY:
    case FORMAT_C:
        report("%llu %s", static_cast<unsigned long long>(written->size), bytes);
        report(written->size == 0 ? "" : " at %08Xh - %08Xh", view->pieces.items[0].address,
               uint32_t(view->pieces.items[0].address + written->size - 1));
        report(target->format == FORMAT_C ? ", array %s\n" : "\n", written->c_name);
        break;
    case FORMAT_VERILOG:
        report("%llu data %s, %u-byte %s-endian words\n", static_cast<unsigned long long>(written->size), bytes,
               settings->verilog_width, settings->verilog_big_endian ? "big" : "little");
        break;
    case FORMAT_TITXT:
        report("%llu data %s, TI-TXT\n", static_cast<unsigned long long>(written->size), bytes);
        break;
    default:
        report("%u %s, family ", written->records, plural(written->records, "block", "blocks"));
        if (settings->family_name != nullptr)
            report("%s (%08Xh)\n", settings->family_name, settings->family);
        else
            report("%08Xh\n", settings->family);
    }
}

// How an output's S-records are written: 16 data bytes a record unless
// --record-bytes says, its name in the S0 header.
static srec_format_t srec_of(const output_settings_t *settings, const char *path)
{
    return srec_format_t{settings->record_bytes != 0 ? settings->record_bytes : 16, settings->force_s3,
                         settings->start.present, settings->start.address, path};
}

// What each format needs of the view before anything is written.
static void check(const output_target_t *target, const output_settings_t *settings, const image_view_t *view)
{
    srec_format_t srec = srec_of(settings, target->path);
    int type = srec_type(view, &srec);
    uint32_t address;
    if (target->format == FORMAT_IHEX)
        check_ihex(settings, view);
    if (target->format == FORMAT_SREC && srec.record_bytes > srec_most_bytes(type))
        command_error("S%d records hold at most %u data bytes, not the %u of --record-bytes", type,
                      srec_most_bytes(type), srec.record_bytes);
    if (target->format == FORMAT_BINARY || target->format == FORMAT_C)
        binary_check(view, target->path);
    if (target->format == FORMAT_VERILOG && !verilog_check(view, settings->verilog_width, &address))
        command_error("the data of '%s' begins or ends inside a %u-byte word at %08Xh; --align %u makes the words "
                      "whole", target->path, settings->verilog_width, address, settings->verilog_width);
}

static void write(const output_target_t *target, const output_settings_t *settings, const image_view_t *view,
                  output_t *output, written_t *written)
{
    srec_format_t srec = srec_of(settings, target->path);
    switch (target->format) {
    case FORMAT_IHEX: {
        hex_records_t format{settings->mode, settings->record_bytes != 0 ? settings->record_bytes : 32, false, 0,
                             settings->start.present, settings->start.address};
        output_ihex(view, output, &format, &written->writer);
        break;
    }
    case FORMAT_SREC:
        written->srec_type = srec_type(view, &srec);
        output_srec(view, output, &srec, &written->records, &written->size);
        break;
    case FORMAT_BINARY:
        output_binary(view, output, &written->size);
        break;
    case FORMAT_VERILOG:
        output_verilog(view, output, settings->verilog_width, settings->verilog_big_endian, &written->size);
        break;
    case FORMAT_TITXT:
        output_titxt(view, output, &written->size);
        break;
    case FORMAT_C:
        output_c_array(view, output, c_array_name(settings->c_name, target->path, written->c_name), &written->size);
        break;
    default:
        output_uf2(view, output, settings->family, &written->records);
    }
}

void outputs_write(const output_target_t *targets, int count, const output_settings_t *settings,
                   const image_view_t *view)
{
    // each output's view: the image's, or one lane of it
    image_view_t *views = static_cast<image_view_t *>(allocate(count * sizeof(image_view_t)));
    uint8_t **lanes = static_cast<uint8_t **>(allocate(count * sizeof(uint8_t *)));
    for (int i = 0; i < count; i++) {
        views[i] = *view;
        lanes[i] = nullptr;
        if (targets[i].split.count != 0 && !split_view(view, &targets[i].split, &views[i], &lanes[i]))
            command_error("cannot allocate memory");
        check(&targets[i], settings, &views[i]);
    }
    // Every output whole in a temporary file, standard output last, then all
    // of them in place.
    output_t *outputs = static_cast<output_t *>(allocate(count * sizeof(output_t)));
    written_t *written = static_cast<written_t *>(allocate(count * sizeof(written_t)));
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < count; i++) {
            const char *path = targets[i].path;
            if ((strcmp(path, "-") == 0) != (pass == 1))
                continue;
            if (!output_open(&outputs[i], path))
                file_error("cannot open output file", path);
            write(&targets[i], settings, &views[i], &outputs[i], &written[i]);
            if (!output_close(&outputs[i]))
                file_error("cannot write output file", path);
        }
    for (int i = 0; i < count; i++)
        if (!output_commit(&outputs[i]))
            file_error("cannot write output file", targets[i].path);
    for (int i = 0; i < count; i++) {
        report_written(&targets[i], &written[i], settings, &views[i]);
        if (lanes[i] != nullptr)
            image_view_free(&views[i]);
        free(lanes[i]);
    }
    free(views);
    free(lanes);
    free(outputs);
    free(written);
}

void output_split_read(output_split_t *split, const char *value)
{
    char text[128];
    snprintf(text, sizeof text, "%s", value);
    char *field = strtok(text, ",");
    *split = output_split_t{read_bounded("--split", field != nullptr ? field : "", 2, 256), 0, 1};
    bool byte_given = false;
    while ((field = strtok(nullptr, ",")) != nullptr) {
        if (strncmp(field, "byte=", 5) == 0) {
            split->byte = read_bounded("--split byte=", field + 5, 0, split->count - 1);
            byte_given = true;
        } else if (strncmp(field, "width=", 6) == 0) {
            split->width = read_bounded("--split width=", field + 6, 1, 256);
        } else {
            command_usage_error("invalid value for --split: '%s'. Must be N,byte=B[,width=W]", value);
        }
    }
    if (!byte_given)
        command_usage_error("--split needs byte=, the lane of the output: --split %u,byte=0", split->count);
}
