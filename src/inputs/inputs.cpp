// SPDX-License-Identifier: MIT
// inputs.cpp: an input told by its first bytes and handed to its reader, a
// binary kept whole, and every input of a run read in turn.
#include "inputs/inputs.h"

#include "cli/command.h"
#include "inputs/elf.h"
#include "inputs/file.h"
#include "inputs/readers.h"

#include <cerrno>
#include <cstring>

bool input_load(image_t *image, FILE *file, uint64_t *offset, uint64_t *size, input_error_t *error)
{
    // A file's own size is read in one go; one that grows is read on.
    platform_file_t status;
    uint64_t chunk = platform_stat_open(file, &status) && status.regular ? status.size + 1 : 1 << 16;
    *size = 0;
    for (;;) {
        uint8_t *room = image_room(image, chunk);
        if (room == nullptr)
            return input_no_memory(error);
        size_t got = fread(room, 1, size_t(chunk), file);
        image_keep(image, got);
        *size += got;
        if (got < chunk)
            break;
        chunk = 1 << 20;
    }
    if (ferror(file))
        return input_system_error(error, "cannot read input file");
    *offset = image->store.count - *size;
    return true;
}

bool input_read_binary(image_t *image, uint64_t offset, uint64_t size, uint32_t address, input_summary_t *summary,
                       input_error_t *error)
{
    if (size > (uint64_t(1) << 32) - address)
        return input_error(error, 0, "'%s' at %08Xh ends beyond FFFFFFFFh", error->path, address);
    summary->size = size;
    return image_add(image, address, offset, size, 0) || input_no_memory(error);
}

bool input_read(image_t *image, input_t *input, const section_choice_t *choice, input_summary_t *summary,
                input_error_t *error)
{
    *summary = input_summary_t{};
    *error = input_error_t{input->path, 0, 0, 0, ""};
    if (!image_begin_input(image))
        return input_no_memory(error);
    platform_file_t status;
    FILE *file = open_input(input->path, &status, true);
    if (file == nullptr)
        return input_system_error(error, "cannot open input file");
    // An ELF file begins with 7Fh and UF2 with "UF2", which no IHEX line does;
    // TI-TXT with '@'.
    int first = input->kind == INPUT_BINARY ? EOF : getc(file);
    ungetc(first, file);
    uint64_t offset, size;
    bool read;
    if (input->kind != INPUT_BINARY && first == 'S') {
        input->kind = INPUT_SREC;
        read = input_read_srec(image, file, summary, error);
    } else if (input->kind != INPUT_BINARY && first == '@') {
        input->kind = INPUT_TITXT;
        read = input_read_titxt(image, file, summary, error);
    } else if (input->kind != INPUT_BINARY && first != 0x7F && first != 'U') {
        read = input_read_ihex(image, file, summary, error);
    } else if (!input_load(image, file, &offset, &size, error)) {
        read = false;
    } else if (input->kind == INPUT_BINARY) {
        read = input_read_binary(image, offset, size, input->address, summary, error);
    } else if (input_is_uf2(image->store.items + offset, size)) {
        input->kind = INPUT_UF2;
        read = input_read_uf2(image, offset, size, summary, error);
    } else if (elf_is_elf(image->store.items + offset, size)) {
        input->kind = INPUT_ELF;
        read = input_read_elf(image, offset, size, choice, summary, error);
    } else {
        read = input_no_format(error);
    }
    fclose(file);
    return read;
}

void inputs_read_all(image_t *image, input_t *inputs, int count, const section_choice_t *choice, bool list_sections,
                     start_address_t *start)
{
    bool elf = false;
    for (int i = 0; i < count; i++) {
        input_t *input = &inputs[i];
        input_summary_t summary;
        input_error_t error;
        if (!input_read(image, input, choice, &summary, &error) ||
            !input_filter(image, input, image->input_starts.items[i], &summary, &error))
            input_fail(&error);
        if (image->blocks.count == image->input_starts.items[i])
            command_error("'%s' holds no data%s", input->path, input->filter_count != 0 ? " that its filters leave" : "");
        input_report(input, &summary, image, list_sections);
        elf = elf || input->kind == INPUT_ELF;
        if (start == nullptr || !summary.start_present)
            continue;
        if (!start->present) {
            *start = start_address_t{true, summary.start_address, input->path};
        } else if (summary.start_address != start->address) {
            command_warning("the start addresses differ: '%s' gives %08Xh, '%s' gives %08Xh; the first is written, "
                            "--start <address> chooses one, --no-start writes none",
                            start->from, start->address, input->path, summary.start_address);
        }
    }
    if (!elf && choice->only_count + choice->removed_count != 0)
        command_warning("-j and -R choose sections of ELF files, and no input is one");
}

