// SPDX-License-Identifier: MIT
// inputs.cpp: an input told by its first bytes and handed to its reader; a
// binary kept whole; a reader's verdict and findings put into words.
#include "inputs/inputs.h"

#include "cli/command.h"
#include "inputs/elf.h"
#include "inputs/file.h"

#include <cerrno>
#include <cstring>

static bool no_memory(input_verdict_t *verdict)
{
    verdict->failure = INPUT_NO_MEMORY;
    return false;
}

bool input_load(image_t *image, FILE *file, uint64_t *offset, uint64_t *size, input_verdict_t *verdict)
{
    // A file's own size is read in one go; one that grows is read on.
    platform_file_t status;
    uint64_t chunk = platform_stat_open(file, &status) && status.regular ? status.size + 1 : 1 << 16;
    *size = 0;
    for (;;) {
        uint8_t *room = image_room(image, chunk);
        if (room == nullptr)
            return no_memory(verdict);
        size_t got = fread(room, 1, size_t(chunk), file);
        image_keep(image, got);
        *size += got;
        if (got < chunk)
            break;
        chunk = 1 << 20;
    }
    if (ferror(file)) {
        *verdict = {INPUT_NOT_READ, 0, 0, errno, ""};
        return false;
    }
    *offset = image->store.count - *size;
    return true;
}

bool input_read_binary(image_t *image, uint64_t offset, uint64_t size, uint32_t address, input_summary_t *summary,
                       input_verdict_t *verdict)
{
    if (size > (uint64_t(1) << 32) - address) {
        verdict->failure = INPUT_TOO_HIGH;
        return false;
    }
    summary->size = size;
    return image_add(image, address, offset, size, 0) || no_memory(verdict);
}

bool input_read(image_t *image, input_t *input, const section_choice_t *choice, input_summary_t *summary,
                input_verdict_t *verdict)
{
    *summary = input_summary_t{};
    *verdict = input_verdict_t{};
    if (!image_begin_input(image))
        return no_memory(verdict);
    platform_file_t status;
    FILE *file = open_input(input->path, &status);
    if (file == nullptr) {
        *verdict = {INPUT_NOT_OPENED, 0, 0, errno, ""};
        return false;
    }
    // An ELF file begins with 7Fh, which no IHEX line does.
    int first = input->kind == INPUT_BINARY ? EOF : getc(file);
    ungetc(first, file);
    uint64_t offset, size;
    bool read;
    if (input->kind != INPUT_BINARY && first == 'S') {
        input->kind = INPUT_SREC;
        read = input_read_srec(image, file, summary, verdict);
    } else if (input->kind != INPUT_BINARY && first != 0x7F) {
        read = input_read_ihex(image, file, summary, verdict);
    } else if (!input_load(image, file, &offset, &size, verdict)) {
        read = false;
    } else if (input->kind == INPUT_BINARY) {
        read = input_read_binary(image, offset, size, input->address, summary, verdict);
    } else if (elf_is_elf(image->store.items + offset, size)) {
        input->kind = INPUT_ELF;
        read = input_read_elf(image, offset, size, choice, summary, verdict);
    } else {
        *verdict = {INPUT_NO_FORMAT, IHEX_RESULT_INVALID_START_CODE, 1, 0, ""};
        read = false;
    }
    fclose(file);
    return read;
}

void inputs_read_all(image_t *image, input_t *inputs, int count, const section_choice_t *choice, bool list_sections,
                     input_start_t *start)
{
    bool elf = false;
    for (int i = 0; i < count; i++) {
        input_t *input = &inputs[i];
        input_summary_t summary;
        input_verdict_t verdict;
        if (!input_read(image, input, choice, &summary, &verdict) ||
            !input_filter(image, input, image->input_starts.items[i], &summary, &verdict))
            input_fail(input, &verdict);
        if (image->blocks.count == image->input_starts.items[i])
            command_error("'%s' holds no data%s", input->path, input->filter_count != 0 ? " that its filters leave" : "");
        input_report(input, &summary, image, list_sections);
        elf = elf || input->kind == INPUT_ELF;
        if (start == nullptr || !summary.start_present)
            continue;
        if (start->input < 0) {
            *start = input_start_t{true, summary.start_address, i};
        } else if (summary.start_address != start->address) {
            command_warning("the start addresses differ: '%s' gives %08Xh, '%s' gives %08Xh; the first is written, "
                            "--start <address> chooses one, --no-start writes none",
                            inputs[start->input].path, start->address, input->path, summary.start_address);
        }
    }
    if (!elf && choice->only_count + choice->removed_count != 0)
        command_warning("-j and -R choose sections of ELF files, and no input is one");
}

void input_fail(const input_t *input, const input_verdict_t *verdict)
{
    errno = verdict->system_error;
    switch (verdict->failure) {
    case INPUT_NOT_OPENED:
        file_error("cannot open input file", input->path);
    case INPUT_NOT_READ:
        file_error("cannot read input file", input->path);
    case INPUT_BAD_RECORD:
        command_error("%s at line %u of '%s'", ihex_result_text(verdict->result), verdict->line, input->path);
    case INPUT_BAD_LINE:
        command_error("%s at line %u of '%s'", verdict->reason, verdict->line, input->path);
    case INPUT_BAD_FILE:
        command_error("'%s': %s", input->path, verdict->reason);
    case INPUT_TOO_HIGH:
        command_error("'%s' at %08Xh ends beyond FFFFFFFFh", input->path, input->address);
    case INPUT_MOVED_OUT:
        command_error("%s", verdict->reason);
    case INPUT_NO_FORMAT:
        command_error("'%s' is neither Intel HEX, S-records nor ELF (line %u begins with none of them); a raw binary "
                      "goes with --binary %s@ADDRESS", input->path, verdict->line, input->path);
    default:
        command_error("cannot allocate memory");
    }
}

static void report_start(const input_summary_t *summary)
{
    if (summary->start_present)
        report("start address %08Xh\n", summary->start_address);
    else
        report("no start address\n");
}

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
    if (input->kind != INPUT_ELF) {
        bool srec = input->kind == INPUT_SREC;
        if (!summary->end_of_file_seen)
            command_warning(srec ? "End record (S7, S8 or S9) not detected in '%s'"
                                 : "End-of-file record not detected in '%s'", path);
        if (summary->extra_data)
            command_warning(srec ? "Extra data after the end record in '%s'"
                                 : "Extra data after the end-of-file record in '%s'", path);
        report("'%s': %s%u %s, %u %s of data, ", path, srec ? "S-records, " : "", summary->records,
               plural(summary->records, "record", "records"), summary->data_bytes,
               plural(summary->data_bytes, "byte", "bytes"));
        report_start(summary);
        if (srec && list_sections && summary->header[0] != '\0')
            report("\theader \"%s\"\n", summary->header);
        return;
    }
    report("'%s': ELF, %llu %s, %llu %s of data, ", path, static_cast<unsigned long long>(summary->section_count),
           plural(summary->section_count, "section", "sections"), static_cast<unsigned long long>(summary->size),
           plural(summary->size, "byte", "bytes"));
    report_start(summary);
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
        snprintf(text, sizeof text, "'%.4096s' line %u", input->path, first);
    else
        snprintf(text, sizeof text, "'%.4096s' lines %u-%u", input->path, first, last);
    strcat(text, from);
    return text;
}
