// SPDX-License-Identifier: MIT
// elf_input.cpp: a linked ELF file, kept whole in the image's store, whose
// chosen sections become blocks where objcopy would load them.
#include "inputs/elf.h"
#include "inputs/readers.h"

#include <cstdlib>
#include <cstring>

static bool named(const char *name, const char *const *names, int count)
{
    for (int i = 0; i < count; i++)
        if (strcmp(name, names[i]) == 0)
            return true;
    return false;
}

struct elf_reading_t {
    image_t *image;
    const section_choice_t *choice;
    uint64_t offset; // of the file in the store
    const uint8_t *file, *file_end;
    input_summary_t *summary;
    bool out_of_memory;
};

static void take_piece(void *context, const elf_piece_t *piece)
{
    elf_reading_t *reading = static_cast<elf_reading_t *>(context);
    const section_choice_t *choice = reading->choice;
    if ((choice->only_count != 0 && !named(piece->name, choice->only, choice->only_count)) ||
        named(piece->name, choice->removed, choice->removed_count) || reading->out_of_memory)
        return;
    // the name lies in the file's name table, or the file names no section
    const uint8_t *name = reinterpret_cast<const uint8_t *>(piece->name);
    uint64_t name_at = name >= reading->file && name < reading->file_end
                           ? reading->offset + uint64_t(name - reading->file) : image_unnamed;
    int64_t section = image_add_section(reading->image, name_at, piece->load_address, piece->run_address, piece->size);
    reading->out_of_memory = section < 0 ||
                             !image_add(reading->image, piece->load_address,
                                        reading->offset + uint64_t(piece->bytes - reading->file), piece->size,
                                        uint32_t(section));
    reading->summary->section_count++;
    reading->summary->size += piece->size;
}

bool input_read_elf(image_t *image, uint64_t offset, uint64_t size, const section_choice_t *choice,
                    input_summary_t *summary, input_error_t *error)
{
    elf_file_t elf;
    const uint8_t *file = image->store.items + offset; // stays put: nothing more is kept in the store
    if (!elf_open(&elf, file, size, error))
        return false;
    elf_segment_t *segments = static_cast<elf_segment_t *>(malloc((3 * elf.phnum + 1) * sizeof(elf_segment_t)));
    summary->first_section = image->sections.count;
    elf_reading_t reading{image, choice, offset, file, file + size, summary,
                          segments == nullptr || !image_expect_sections(image, size_t(elf.shnum))};
    bool read = segments != nullptr && elf_sections(&elf, segments, take_piece, &reading);
    free(segments);
    if (reading.out_of_memory)
        return input_no_memory(error);
    if (!read)
        return false;
    summary->start_present = elf.start_present;
    summary->start_address = elf.start_address;
    return true;
}
