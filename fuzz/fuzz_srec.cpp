// SPDX-License-Identifier: MIT
// Fuzz target: any bytes as S-records (README.md says what must hold).
#include "inputs/readers.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (file == nullptr)
        return 0;
    image_t image;
    image_init(&image, 0, 0);
    input_summary_t summary{};
    input_error_t error{"fuzz.srec", 0, 0, 0, ""};
    bool read = image_begin_input(&image) && input_read_srec(&image, file, &summary, &error);
    uint64_t bytes = 0;
    for (size_t i = 0; i < image.blocks.count; i++) {
        const image_block_t *b = &image.blocks.items[i];
        bytes += b->size;
        // every block below 4 GiB, its bytes in the store, its line one of the input's
        if (image_block_end(b) > (uint64_t(1) << 32) || b->offset + b->size > image.store.count || b->place == 0 ||
            b->place > size)
            abort();
    }
    if (read ? bytes != summary.data_bytes || summary.records == 0 && bytes != 0
             : error.text[0] == '\0')
        abort();
    image_free(&image);
    fclose(file);
    return 0;
}
