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

static const char *const format_names[] = {"", "ihex", "srec", "binary", "uf2"};

bool output_format_read(const char *text, output_format_t *format)
{
    for (int f = FORMAT_IHEX; f <= FORMAT_UF2; f++)
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
                   {".uf2", FORMAT_UF2}};
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
        targets[i] = {paths[i], format_of(paths[i], &ending)};
        if (targets[i].format == FORMAT_NONE && ending != nullptr && otherwise == FORMAT_NONE)
            command_usage_error("unknown output extension '%s' for '%s': -O names the format", ending, paths[i]);
        if (targets[i].format == FORMAT_NONE)
            targets[i].format = otherwise != FORMAT_NONE ? otherwise : FORMAT_IHEX;
        *ihex = *ihex || targets[i].format == FORMAT_IHEX;
        *binary = *binary || targets[i].format == FORMAT_BINARY;
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
};

static void report_written(const output_target_t *target, const written_t *written, const output_settings_t *settings,
                           int srec_record_type, const image_view_t *view)
{
    report("Wrote '%s': ", target->path);
    switch (target->format) {
    case FORMAT_IHEX:
        report("%u %s, %u data %s, %s mode, ", written->writer.line_count,
               plural(written->writer.line_count, "line", "lines"), written->writer.data_byte_count,
               plural(written->writer.data_byte_count, "byte", "bytes"), address_mode_name(settings->mode));
        report_start_address(settings->start.present, settings->start.address);
        break;
    case FORMAT_SREC:
        report("%u records, %llu data %s, S%d, ", written->records, static_cast<unsigned long long>(written->size),
               plural(written->size, "byte", "bytes"), srec_record_type);
        report_start_address(settings->start.present, settings->start.address);
        break;
    case FORMAT_BINARY:
        report("%llu %s", static_cast<unsigned long long>(written->size), plural(written->size, "byte", "bytes"));
        report(written->size == 0 ? "\n" : " at %08Xh - %08Xh\n", view->pieces.items[0].address,
               uint32_t(view->pieces.items[0].address + written->size - 1));
        break;
    default:
        report("%u %s, family ", written->records, plural(written->records, "block", "blocks"));
        if (settings->family_name != nullptr)
            report("%s (%08Xh)\n", settings->family_name, settings->family);
        else
            report("%08Xh\n", settings->family);
    }
}

void outputs_write(const output_target_t *targets, int count, const output_settings_t *settings,
                   const image_view_t *view)
{
    srec_format_t srec{settings->record_bytes != 0 ? settings->record_bytes : 16, settings->force_s3,
                       settings->start.present, settings->start.address, nullptr};
    int srec_record_type = srec_type(view, &srec);
    for (int i = 0; i < count; i++) {
        if (targets[i].format == FORMAT_IHEX)
            check_ihex(settings, view);
        if (targets[i].format == FORMAT_SREC && srec.record_bytes > srec_most_bytes(srec_record_type))
            command_error("S%d records hold at most %u data bytes, not the %u of --record-bytes", srec_record_type,
                          srec_most_bytes(srec_record_type), srec.record_bytes);
        if (targets[i].format == FORMAT_BINARY)
            binary_check(view, targets[i].path);
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
            output_t *output = &outputs[i];
            if (!output_open(output, path))
                file_error("cannot open output file", path);
            if (targets[i].format == FORMAT_IHEX) {
                hex_records_t format{settings->mode, settings->record_bytes != 0 ? settings->record_bytes : 32, false,
                                     0, settings->start.present, settings->start.address};
                output_ihex(view, output, &format, &written[i].writer);
            } else if (targets[i].format == FORMAT_SREC) {
                srec.header = path;
                output_srec(view, output, &srec, &written[i].records, &written[i].size);
            } else if (targets[i].format == FORMAT_BINARY) {
                output_binary(view, output, &written[i].size);
            } else {
                output_uf2(view, output, settings->family, &written[i].records);
            }
            if (!output_close(output))
                file_error("cannot write output file", path);
        }
    for (int i = 0; i < count; i++)
        if (!output_commit(&outputs[i]))
            file_error("cannot write output file", targets[i].path);
    for (int i = 0; i < count; i++)
        report_written(&targets[i], &written[i], settings, srec_record_type, view);
    free(outputs);
    free(written);
}
