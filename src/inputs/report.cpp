// SPDX-License-Identifier: MIT
// report.cpp: what an input held, in the report, and the words that name a
// place in an input.
#include "inputs/inputs.h"

#include "cli/command.h"
#include "cli/report.h"
#include "inputs/readers.h"

#include <cstdio>
#include <cstring>

// The line of the report that tells what an input held, and its warnings.
static void report_input(const input_t *input, const input_summary_t *summary, const image_t *image,
                         bool list_sections)
{
    const char *path = input->path;
    if (input->kind == INPUT_BINARY) {
        report("'%s': %llu %s", path, static_cast<unsigned long long>(summary->size), plural(summary->size, "byte", "bytes"));
        report(summary->size == 0 ? "\n" : " at %08Xh - %08Xh\n", input->address,
               uint32_t(input->address + summary->size - 1));
        return;
    }
    if (input->kind == INPUT_UF2) {
        if (summary->other_family_block != 0)
            command_warning("'%s' block %u is of family %08Xh, the blocks before it of %08Xh", path,
                            summary->other_family_block, summary->other_family, summary->family);
        report("'%s': UF2, %u %s, %u %s of data, ", path, summary->records, plural(summary->records, "block", "blocks"),
               summary->data_bytes, plural(summary->data_bytes, "byte", "bytes"));
        report(summary->family_present ? "family %08Xh\n" : "no family\n", summary->family);
        return;
    }
    if (input->kind != INPUT_ELF) {
        bool srec = input->kind == INPUT_SREC, titxt = input->kind == INPUT_TITXT;
        if (!summary->end_of_file_seen)
            command_warning(srec    ? "End record (S7, S8 or S9) not detected in '%s'"
                            : titxt ? "End record (q) not detected in '%s'"
                                    : "End-of-file record not detected in '%s'", path);
        if (summary->extra_data)
            command_warning(srec || titxt ? "Extra data after the end record in '%s'"
                                          : "Extra data after the end-of-file record in '%s'", path);
        report("'%s': %s%u %s, %u %s of data, ", path, srec ? "S-records, " : titxt ? "TI-TXT, " : "",
               summary->records, plural(summary->records, titxt ? "line" : "record", titxt ? "lines" : "records"),
               summary->data_bytes, plural(summary->data_bytes, "byte", "bytes"));
        report_start_address(summary->start_present, summary->start_address);
        if (srec && list_sections && summary->header[0] != '\0')
            report("\theader \"%s\"\n", summary->header);
        return;
    }
    report("'%s': ELF, %llu %s, %llu %s of data, ", path, static_cast<unsigned long long>(summary->section_count),
           plural(summary->section_count, "section", "sections"), static_cast<unsigned long long>(summary->size),
           plural(summary->size, "byte", "bytes"));
    report_start_address(summary->start_present, summary->start_address);
    for (size_t i = 0; i < summary->section_count && list_sections; i++) {
        const image_section_t *section = &image->sections.items[summary->first_section + i];
        report("\t%s at %08Xh, %u %s", image_section_name(image, uint32_t(summary->first_section + i)),
               section->load_address, section->size, plural(section->size, "byte", "bytes"));
        if (section->run_address != section->load_address)
            report(", runs at %08Xh", section->run_address);
        report("\n");
    }
}

void input_report(const input_t *input, const input_summary_t *summary, const image_t *image, bool list_sections)
{
    report_input(input, summary, image, list_sections);
    for (int f = 0; f < input->filter_count && list_sections; f++) {
        const input_filter_t *filter = &input->filters[f];
        report("\t%s %s leaves %llu %s, %llu %s\n", filter->option, filter->value,
               static_cast<unsigned long long>(filter->regions), plural(filter->regions, "region", "regions"),
               static_cast<unsigned long long>(filter->bytes), plural(filter->bytes, "byte", "bytes"));
    }
}

const char *input_place(const input_t *input, const image_t *image, uint32_t first, uint32_t last, uint64_t at,
                        char (&text)[input_place_size])
{
    char from[32] = "";
    if (input->moved != 0)
        snprintf(from, sizeof from, " (from %08Xh)", uint32_t(at - input->moved));
    if (input->kind == INPUT_BINARY)
        snprintf(text, sizeof text, "'%.4096s'", input->path);
    else if (input->kind == INPUT_ELF && first == last)
        snprintf(text, sizeof text, "'%.4096s' section %.180s", input->path, image_section_name(image, first));
    else if (input->kind == INPUT_ELF)
        snprintf(text, sizeof text, "'%.4096s' sections %.180s-%.180s", input->path, image_section_name(image, first),
                 image_section_name(image, last));
    else if (first == last)
        snprintf(text, sizeof text, "'%.4096s' %s %u", input->path, input->kind == INPUT_UF2 ? "block" : "line", first);
    else
        snprintf(text, sizeof text, "'%.4096s' %s %u-%u", input->path, input->kind == INPUT_UF2 ? "blocks" : "lines",
                 first, last);
    strcat(text, from);
    return text;
}

const char *input_name_piece(const void *context, const image_piece_t *piece, bool lower, char *text, size_t size)
{
    // the block of the piece's region that reaches furthest (the lower end of
    // a gap) or begins first (its upper end)
    const input_names_t *names = static_cast<const input_names_t *>(context);
    const image_t *image = names->image;
    const image_region_t *region = piece->region;
    const image_block_t *block = image_sorted(image, region->first);
    for (size_t i = region->first; i < region->first + region->count && lower; i++)
        if (image_block_end(image_sorted(image, i)) > image_block_end(block))
            block = image_sorted(image, i);
    char place[input_place_size];
    input_place(&names->inputs[image_input_of(image, block)], image, block->place, block->place,
                lower ? piece->end - 1 : piece->address, place);
    snprintf(text, size, "%s", place);
    return text;
}
