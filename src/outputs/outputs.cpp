// SPDX-License-Identifier: MIT
// outputs.cpp: a run's outputs, each in the format its name says, checked
// first, written beside their targets, and put in place together.
#include "outputs/outputs.h"

#include "cli/command.h"

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

output_format_t output_format_of(const char *path, output_format_t otherwise)
{
    static const struct {
        const char *ending;
        output_format_t format;
    } endings[] = {{".hex", FORMAT_IHEX},  {".ihex", FORMAT_IHEX}, {".ihx", FORMAT_IHEX}, {".h86", FORMAT_IHEX},
                   {".srec", FORMAT_SREC}, {".s19", FORMAT_SREC},  {".s28", FORMAT_SREC}, {".s37", FORMAT_SREC},
                   {".mot", FORMAT_SREC},  {".s", FORMAT_SREC},    {".sx", FORMAT_SREC},  {".bin", FORMAT_BINARY},
                   {".uf2", FORMAT_UF2}};
    const char *dot = strrchr(path, '.');
    for (const auto &e : endings)
        if (dot != nullptr && strchr(dot, '/') == nullptr && strcasecmp(dot, e.ending) == 0)
            return e.format;
    return otherwise != FORMAT_NONE ? otherwise : FORMAT_IHEX;
}

void outputs_check(const char *const *paths, int count, output_format_t otherwise, bool family_given, bool *ihex,
                   bool *binary)
{
    *ihex = *binary = false;
    for (int i = 0; i < count; i++) {
        output_format_t format = output_format_of(paths[i], otherwise);
        *ihex = *ihex || format == FORMAT_IHEX;
        *binary = *binary || format == FORMAT_BINARY;
        if (format == FORMAT_UF2 && !family_given)
            command_usage_error("the UF2 output '%s' needs --uf2-family: RP2040, NRF52840, SAMD51...; "
                                "'%s --uf2-family list' lists every one", paths[i], command_name);
    }
}

static void report_start(const output_settings_t *settings)
{
    if (settings->start_present)
        report("start address %08Xh\n", settings->start_address);
    else
        report("no start address\n");
}

// What an IHEX output in the settings' mode cannot hold ends the run.
static void check_ihex(const output_settings_t *settings, const image_view_t *view)
{
    ihex_address_mode_t mode = settings->mode;
    uint32_t limit = address_mode_limit(mode);
    const growing_t<image_piece_t> &pieces = view->pieces;
    // a --start value was checked with the command line: only an input's can be out of reach
    const char *from = settings->start_from;
    if (pieces.count != 0 && pieces.items[pieces.count - 1].end - 1 > limit)
        command_error("the data ends beyond %08Xh, the highest address of the %s mode%s", limit,
                      address_mode_name(mode), mode == IHEX_ADDRESS_MODE_LINEAR ? "" : "; --mode linear reaches FFFFFFFFh");
    if (settings->start_present && mode == IHEX_ADDRESS_MODE_16BIT)
        command_error("the 16bit mode has no start address record for %08Xh of '%s'; --no-start leaves it out",
                      settings->start_address, from);
    if (settings->start_present && settings->start_address > limit)
        command_error("the start address %08Xh of '%s' lies beyond %08Xh, the highest of the %s mode; --start "
                      "or --no-start overrides it", settings->start_address, from, limit, address_mode_name(mode));
}

void outputs_write(const char *const *paths, int count, output_format_t otherwise, const output_settings_t *settings,
                   const image_view_t *view, const image_t *image, const input_t *inputs)
{
    srec_format_t srec{settings->record_bytes != 0 ? settings->record_bytes : 16, settings->force_s3,
                       settings->start_present, settings->start_address, nullptr};
    int srec_record_type = srec_type(view, &srec);
    output_format_t *formats = static_cast<output_format_t *>(allocate(count * sizeof(output_format_t)));
    for (int i = 0; i < count; i++) {
        formats[i] = output_format_of(paths[i], otherwise);
        if (formats[i] == FORMAT_IHEX)
            check_ihex(settings, view);
        if (formats[i] == FORMAT_SREC && srec.record_bytes > srec_most_bytes(srec_record_type))
            command_error("S%d records hold at most %u data bytes, not the %u of --record-bytes", srec_record_type,
                          srec_most_bytes(srec_record_type), srec.record_bytes);
        if (formats[i] == FORMAT_BINARY)
            binary_check(view, image, inputs, paths[i]);
    }
    // Every output whole in a temporary file, standard output last, then all
    // of them in place.
    output_t *outputs = static_cast<output_t *>(allocate(count * sizeof(output_t)));
    ihex_writer_t *writers = static_cast<ihex_writer_t *>(allocate(count * sizeof(ihex_writer_t)));
    uint64_t *sizes = static_cast<uint64_t *>(allocate(count * sizeof(uint64_t)));
    uint32_t *records = static_cast<uint32_t *>(allocate(count * sizeof(uint32_t)));
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < count; i++) {
            if ((strcmp(paths[i], "-") == 0) != (pass == 1))
                continue;
            output_t *output = &outputs[i];
            if (!output_open(output, paths[i]))
                file_error("cannot open output file", paths[i]);
            if (formats[i] == FORMAT_IHEX) {
                ihex_format_t format{settings->mode, settings->record_bytes != 0 ? settings->record_bytes : 32, false,
                                     0, settings->start_present, settings->start_address};
                output_ihex(view, output, &format, &writers[i]);
            } else if (formats[i] == FORMAT_SREC) {
                srec.header = paths[i];
                output_srec(view, output, &srec, &records[i], &sizes[i]);
            } else if (formats[i] == FORMAT_BINARY) {
                output_binary(view, output, &sizes[i]);
            } else {
                output_uf2(view, output, settings->family, &records[i]);
            }
            if (!output_close(output))
                file_error("cannot write output file", paths[i]);
        }
    for (int i = 0; i < count; i++)
        if (!output_commit(&outputs[i]))
            file_error("cannot write output file", paths[i]);

    for (int i = 0; i < count; i++) {
        report("Wrote '%s': ", paths[i]);
        if (formats[i] == FORMAT_IHEX) {
            report("%u %s, %u data %s, %s mode, ", writers[i].line_count, plural(writers[i].line_count, "line", "lines"),
                   writers[i].data_byte_count, plural(writers[i].data_byte_count, "byte", "bytes"),
                   address_mode_name(settings->mode));
            report_start(settings);
        } else if (formats[i] == FORMAT_SREC) {
            report("%u records, %llu data %s, S%d, ", records[i], static_cast<unsigned long long>(sizes[i]),
                   plural(sizes[i], "byte", "bytes"), srec_record_type);
            report_start(settings);
        } else if (formats[i] == FORMAT_BINARY) {
            report("%llu %s", static_cast<unsigned long long>(sizes[i]), plural(sizes[i], "byte", "bytes"));
            report(sizes[i] == 0 ? "\n" : " at %08Xh - %08Xh\n", view->pieces.items[0].address,
                   uint32_t(view->pieces.items[0].address + sizes[i] - 1));
        } else {
            report("%u %s, family ", records[i], plural(records[i], "block", "blocks"));
            if (settings->family_name != nullptr)
                report("%s (%08Xh)\n", settings->family_name, settings->family);
            else
                report("%08Xh\n", settings->family);
        }
    }
    free(formats);
    free(outputs);
    free(writers);
    free(sizes);
    free(records);
}
