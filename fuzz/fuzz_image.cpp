// SPDX-License-Identifier: MIT
// Fuzz target: any blocks, in any order, through the image's regions, its
// painted bytes and view, and each overlap policy, against a byte map
// (README.md says what must hold).
#include "image.h"
#include "overlaps.h"

#include <cstdlib>
#include <map>
#include <vector>

const char command_name[] = "fuzz_image";
const char command_usage_text[] = "";

#define CHECK(condition)                                                                                              \
    if (!(condition))                                                                                                 \
    abort()

struct model_block_t {
    uint32_t address;
    std::vector<uint8_t> bytes;
    size_t input;
};

// Every block given in `data`: a flag byte (bit 0: a new input begins; bit
// 1: at the top of the address space), a 12-bit address, a size of 1 to 64
// and a seed for its bytes, which are mostly equal so that overlaps agree.
static std::vector<model_block_t> blocks_of(const uint8_t *data, size_t size)
{
    std::vector<model_block_t> blocks;
    size_t input = 0;
    for (size_t at = 0; at + 4 <= size && blocks.size() < 200; at += 4) {
        uint8_t flags = data[at];
        input += (flags & 1) != 0 && !blocks.empty();
        uint32_t address = (data[at + 1] | uint32_t(data[at + 2] & 0x0F) << 8) + ((flags & 2) ? 0xFFFFF000 : 0);
        size_t length = std::min<uint64_t>(1 + (data[at + 2] >> 4) * 4 + (data[at + 3] & 3), (uint64_t(1) << 32) - address);
        model_block_t block{address, std::vector<uint8_t>(length), input};
        for (size_t i = 0; i < length; i++)
            block.bytes[i] = uint8_t((flags & 4) ? (address + i) * data[at + 3] : address + i);
        blocks.push_back(block);
    }
    return blocks;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<model_block_t> blocks = blocks_of(data, size);
    image_t image;
    image_init(&image, 0, 0);
    std::vector<uint8_t> store;
    for (size_t i = 0; i < blocks.size(); i++) {
        if (i == 0 || blocks[i].input != blocks[i - 1].input)
            CHECK(image_begin_input(&image));
        uint8_t *room = image_room(&image, blocks[i].bytes.size());
        std::copy(blocks[i].bytes.begin(), blocks[i].bytes.end(), room);
        uint64_t offset = image_keep(&image, blocks[i].bytes.size());
        CHECK(image_add(&image, blocks[i].address, offset, blocks[i].bytes.size(), uint32_t(i)));
    }
    bool first_only = size % 2 == 1;
    CHECK(image_find_regions(&image, first_only));

    // The model: every value given at each address, in the order given.
    std::map<uint64_t, std::vector<uint8_t>> given;
    for (const model_block_t &block : blocks)
        for (size_t i = 0; i < block.bytes.size(); i++)
            given[block.address + i].push_back(block.bytes[i]);
    uint64_t lowest_twice = UINT64_MAX, lowest_differing = UINT64_MAX;
    for (const auto &[address, values] : given) {
        if (values.size() > 1 && lowest_twice == UINT64_MAX)
            lowest_twice = address;
        if (lowest_differing == UINT64_MAX)
            for (uint8_t value : values)
                if (value != values[0])
                    lowest_differing = address;
    }

    // Regions: the runs of addresses given, in order, each painted both ways.
    size_t region = 0;
    for (auto it = given.begin(); it != given.end(); region++) {
        uint64_t first = it->first, end = first;
        for (; it != given.end() && it->first == end; ++it)
            end++;
        CHECK(region < image.regions.count);
        const image_region_t *r = &image.regions.items[region];
        CHECK(r->address == first && r->end == end);
        const uint8_t *last = image_region_bytes(&image, r, IMAGE_LAST_WINS);
        const uint8_t *earliest = image_region_bytes(&image, r, IMAGE_FIRST_WINS);
        for (uint64_t a = first; a < end; a++)
            CHECK(last[a - first] == given[a].back() && earliest[a - first] == given[a].front());
    }
    CHECK(region == image.regions.count);

    // Overlaps: every pair of blocks that share an address, or the lowest one.
    size_t pairs = 0;
    for (size_t i = 0; i < blocks.size(); i++)
        for (size_t j = i + 1; j < blocks.size(); j++)
            pairs += std::max(blocks[i].address, blocks[j].address) <
                     std::min<uint64_t>(blocks[i].address + blocks[i].bytes.size(), blocks[j].address + blocks[j].bytes.size());
    CHECK(image.overlaps.count == (first_only ? std::min<size_t>(pairs, 1) : pairs));
    for (size_t i = 0; i < image.overlaps.count; i++) {
        const image_overlap_t *o = &image.overlaps.items[i];
        size_t earlier = o->earlier->place, later = o->later->place;
        CHECK(earlier < later && image_input_of(&image, o->earlier) == blocks[earlier].input &&
              image_input_of(&image, o->later) == blocks[later].input);
        CHECK(o->address == std::max(blocks[earlier].address, blocks[later].address) &&
              o->end == std::min(image_block_end(o->earlier), image_block_end(o->later)));
    }
    uint64_t at;
    CHECK(overlaps_refused(&image, OVERLAP_FIRST, &at) == nullptr && overlaps_refused(&image, OVERLAP_LAST, &at) == nullptr);
    CHECK(overlaps_refused(&image, OVERLAP_ERROR, &at) == nullptr ? lowest_twice == UINT64_MAX : at == lowest_twice);
    if (!first_only)
        CHECK(overlaps_refused(&image, OVERLAP_SAME, &at) == nullptr ? lowest_differing == UINT64_MAX
                                                                     : at == lowest_differing);

    // The view reads what the last block gave, across pieces, and finds holes.
    image_view_t view;
    CHECK(image_view_of(&image, IMAGE_LAST_WINS, &view));
    if (!given.empty()) {
        uint64_t first = given.begin()->first, end = given.rbegin()->first + 1;
        CHECK(image_view_hole(&view, first, end) == (given.size() == end - first ? end : image.regions.items[0].end));
        std::vector<uint8_t> scratch(end - first);
        size_t cursor = 0;
        for (const image_region_t *r = image.regions.items; r < image.regions.items + image.regions.count; r++) {
            const uint8_t *bytes = image_view_bytes(&view, &cursor, r->address, r->end - r->address, scratch.data());
            for (uint64_t a = r->address; a < r->end; a++)
                CHECK(bytes[a - r->address] == given[a].back());
        }
    }
    image_view_free(&view);
    image_free(&image);
    return 0;
}
