// SPDX-License-Identifier: MIT
// Fuzz target: any bytes as an ELF file (README.md says what must hold).
#include "inputs/elf.h"

#include <cstdlib>
#include <vector>

struct span_t {
    const uint8_t *first, *end;
};

static void check_piece(void *context, const elf_piece_t *piece)
{
    const span_t *file = static_cast<const span_t *>(context);
    if (piece->bytes < file->first || piece->size > size_t(file->end - piece->bytes) || piece->size == 0 ||
        uint64_t(piece->load_address) + piece->size > (uint64_t(1) << 32))
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    std::vector<uint8_t> file(bytes, bytes + size); // a block of its own size: reads past it show
    span_t span{file.data(), file.data() + size};
    elf_file_t elf;
    input_error_t error{"fuzz.elf", 0, 0, 0, ""};
    bool read = elf_open(&elf, file.data(), size, &error);
    if (read) {
        std::vector<elf_segment_t> segments(3 * elf.phnum); // exactly the room it asks for
        read = elf_sections(&elf, segments.data(), check_piece, &span);
    }
    if (read != (error.text[0] == '\0'))
        abort();
    return 0;
}
