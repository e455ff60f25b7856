// SPDX-License-Identifier: MIT
// uf2.cpp: a UF2 file, kept whole in the image's store: every block's
// payload at its target address, but those not meant for the main flash.
#include "inputs/readers.h"

constexpr uint64_t block_size = 512;
constexpr uint32_t payload_room = 476, not_main_flash = 0x00000001, family_given = 0x00002000;

static uint32_t get32(const uint8_t *at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool input_is_uf2(const uint8_t *bytes, uint64_t size)
{
    return size >= 8 && get32(bytes) == 0x0A324655 && get32(bytes + 4) == 0x9E5D5157;
}

bool input_read_uf2(image_t *image, uint64_t offset, uint64_t size, input_summary_t *summary, input_error_t *error)
{
    if (size % block_size != 0)
        return input_error(error, 0, "'%s' ends inside block %llu: UF2 blocks are 512 bytes", error->path,
                           static_cast<unsigned long long>(size / block_size));
    const uint8_t *file = image->store.items + offset; // stays put: nothing more is kept in the store
    for (uint64_t index = 0; index < size / block_size; index++) {
        const uint8_t *block = file + index * block_size;
        uint32_t flags = get32(block + 8), target = get32(block + 12), payload = get32(block + 16);
        uint32_t number = get32(block + 20), count = get32(block + 24), family = get32(block + 28);
        unsigned long long at = index;
        if (!input_is_uf2(block, block_size) || get32(block + block_size - 4) != 0x0AB16F30)
            return input_error(error, 0, "'%s' block %llu: bad magic number, not a UF2 block", error->path, at);
        if (payload > payload_room)
            return input_error(error, 0, "'%s' block %llu holds %u bytes, more than the %u a block has", error->path,
                               at, payload, payload_room);
        if (number >= count)
            return input_error(error, 0, "'%s' block %llu is numbered %u of %u", error->path, at, number, count);
        if ((flags & not_main_flash) != 0)
            continue;
        if ((flags & family_given) != 0 && !summary->family_present) {
            summary->family_present = true;
            summary->family = family;
        } else if ((flags & family_given) != 0 && family != summary->family && summary->other_family_block == 0) {
            summary->other_family = family;
            summary->other_family_block = uint32_t(index);
        }
        if (uint64_t(target) + payload > (uint64_t(1) << 32))
            return input_error(error, 0, "'%s' block %llu at %08Xh reaches beyond FFFFFFFFh", error->path, at, target);
        if (!image_add(image, target, offset + index * block_size + 32, payload, uint32_t(index)))
            return input_no_memory(error);
        summary->records++;
        summary->data_bytes += payload;
    }
    return true;
}
