// SPDX-License-Identifier: MIT
// Fuzz target: any blocks, in any order, through the image's regions, painted
// bytes, view and overlap policies, against a byte map (README.md).
#include "image.h"
#include "overlaps.h"

#include <cstdlib>
#include <map>
#include <vector>

extern const char command_name[] = "fuzz_image", command_usage_text[] = "";
#define CHECK(condition) ((condition) ? void() : abort())

struct model_block_t {
    uint32_t address;
    std::vector<uint8_t> bytes;
    size_t input;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Four bytes a block: flags (1: a new input begins; 2: at the top of the
    // address space; 4: bytes that differ more), a 12-bit address, a size of
    // 1 to 64 and a seed for its bytes.
    std::vector<model_block_t> blocks;
    std::map<uint64_t, std::vector<uint8_t>> given; // every value given at each address, in order
    image_t image;
    image_init(&image, 0, 0);
    for (size_t at = 0, input = 0; at + 4 <= size && blocks.size() < 200; at += 4) {
        const uint8_t *b = data + at;
        input += (b[0] & 1) != 0 && !blocks.empty();
        uint32_t address = (b[1] | uint32_t(b[2] & 0x0F) << 8) + ((b[0] & 2) ? 0xFFFFF000 : 0);
        uint64_t length = std::min<uint64_t>(1 + (b[2] >> 4) * 4 + (b[3] & 3), (1ull << 32) - address);
        if (blocks.empty() || input != blocks.back().input)
            CHECK(image_begin_input(&image));
        blocks.push_back({address, std::vector<uint8_t>(length), input});
        uint8_t *room = image_room(&image, length);
        for (size_t i = 0; i < length; i++) {
            room[i] = blocks.back().bytes[i] = uint8_t((b[0] & 4) ? (address + i) * b[3] : address + i);
            given[address + i].push_back(room[i]);
        }
        CHECK(image_add(&image, address, image_keep(&image, length), length, uint32_t(blocks.size() - 1)));
    }
    bool first_only = size % 2 == 1;
    CHECK(image_find_regions(&image, first_only));
    uint64_t twice = UINT64_MAX, differing = UINT64_MAX; // the lowest such addresses
    for (const auto &[address, values] : given)
        for (uint8_t value : values) {
            twice = values.size() > 1 ? std::min(twice, address) : twice;
            differing = value != values[0] ? std::min(differing, address) : differing;
        }

    // Regions: the runs of addresses given, each painted both ways.
    const image_region_t *r = image.regions.items, *regions_end = r + image.regions.count;
    uint64_t widest = 0;
    for (auto it = given.begin(); it != given.end(); r++) {
        uint64_t first = it->first, end = first;
        for (; it != given.end() && it->first == end; ++it)
            end++;
        CHECK(r < regions_end && r->address == first && r->end == end);
        const uint8_t *last = image_region_bytes(&image, r, IMAGE_LAST_WINS);
        const uint8_t *earliest = image_region_bytes(&image, r, IMAGE_FIRST_WINS);
        for (uint64_t a = first; a < end; a++)
            CHECK(last[a - first] == given[a].back() && earliest[a - first] == given[a].front());
        widest = std::max(widest, end - first);
    }
    CHECK(r == regions_end);

    // Overlaps: every pair of blocks that share an address, or the lowest one.
    size_t pairs = 0;
    for (size_t i = 0; i < blocks.size(); i++)
        for (size_t j = i + 1; j < blocks.size(); j++)
            pairs += std::max(blocks[i].address, blocks[j].address) <
                     std::min(blocks[i].address + blocks[i].bytes.size(),
                              blocks[j].address + blocks[j].bytes.size());
    CHECK(image.overlaps.count == (first_only ? std::min<size_t>(pairs, 1) : pairs));
    for (const image_overlap_t &o : std::vector<image_overlap_t>(
             image.overlaps.items, image.overlaps.items + image.overlaps.count)) {
        const model_block_t &earlier = blocks[o.earlier->place], &later = blocks[o.later->place];
        CHECK(o.earlier->place < o.later->place && o.address == std::max(earlier.address, later.address));
        CHECK(o.end == std::min(image_block_end(o.earlier), image_block_end(o.later)));
        CHECK(image_input_of(&image, o.earlier) == earlier.input);
        CHECK(image_input_of(&image, o.later) == later.input);
    }
    uint64_t at;
    CHECK(!overlaps_refused(&image, OVERLAP_FIRST, &at) && !overlaps_refused(&image, OVERLAP_LAST, &at));
    CHECK(overlaps_refused(&image, OVERLAP_ERROR, &at) ? at == twice : twice == UINT64_MAX);
    if (!first_only)
        CHECK(overlaps_refused(&image, OVERLAP_SAME, &at) ? at == differing : differing == UINT64_MAX);

    // The view reads each region; with the gaps filled, the whole span reads
    // in chunks of any size across pieces, the pad byte in the gaps.
    image_view_t view;
    CHECK(image_view_of(&image, IMAGE_LAST_WINS, &view));
    std::vector<uint8_t> scratch(widest + 97);
    size_t cursor = 0;
    for (r = image.regions.items; r < regions_end; r++) {
        const uint8_t *bytes = image_view_bytes(&view, &cursor, r->address, r->end - r->address, scratch.data());
        for (uint64_t a = r->address; a < r->end; a++)
            CHECK(bytes[a - r->address] == given[a].back());
    }
    uint64_t first = given.empty() ? 0 : given.begin()->first;
    uint64_t end = given.empty() ? 0 : given.rbegin()->first + 1;
    CHECK(given.empty() || image_view_hole(&view, first, end) == image.regions.items[0].end);
    for (size_t i = 1; i < image.regions.count && end - first <= 8192; i++)
        CHECK(image_view_add(&view, uint32_t(image.regions.items[i - 1].end), image.regions.items[i].address,
                             nullptr));
    image_view_sort(&view);
    view.pad = 0xA5;
    cursor = 0;
    for (uint64_t a = first, step = 1 + size % 97; a < end && end - first <= 8192; a += step) {
        const uint8_t *bytes = image_view_bytes(&view, &cursor, a, std::min(step, end - a), scratch.data());
        for (uint64_t i = 0; i < std::min(step, end - a); i++)
            CHECK(bytes[i] == (given.count(a + i) ? given[a + i].back() : 0xA5));
    }
    image_view_free(&view);
    image_free(&image);
    return 0;
}
