// SPDX-License-Identifier: MIT
// Fuzz target: any blocks, in any order, through the image's regions, painted
// bytes, view and overlap policies, against a byte map (README.md).
#include "image/image.h"
#include "merge/overlaps.h"

#include <cstdlib>
#include <map>
#include <vector>

#define CHECK(condition) ((condition) ? void() : abort())

struct model_block_t {
    uint64_t address, end;
    size_t input;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Four bytes a block: flags (1: a new input begins; 2: at the top of the
    // address space; 4: bytes that differ more), a 12-bit address, a size of
    // 1 to 64 and a seed for its bytes.
    std::vector<model_block_t> blocks;
    std::map<uint64_t, std::vector<uint8_t>> given; // each address's values, in order
    image_t image;
    image_init(&image, 0, 0);
    for (size_t at = 0, input = 0; at + 4 <= size && blocks.size() < 200; at += 4) {
        const uint8_t *b = data + at;
        input += (b[0] & 1) != 0 && !blocks.empty();
        uint64_t address = (b[1] | (b[2] & 0x0F) << 8) + ((b[0] & 2) ? 0xFFFFF000 : 0);
        uint64_t length = std::min(1ull + (b[2] >> 4) * 4 + (b[3] & 3), (1ull << 32) - address);
        if (blocks.empty() || input != blocks.back().input)
            CHECK(image_begin_input(&image));
        blocks.push_back({address, address + length, input});
        uint8_t *room = image_room(&image, length);
        for (size_t i = 0; i < length; i++)
            given[address + i].push_back(room[i] = uint8_t((address + i) * (b[0] & 4 ? b[3] : 1)));
        uint64_t offset = image_keep(&image, length);
        CHECK(image_add(&image, uint32_t(address), offset, length, uint32_t(blocks.size() - 1)));
    }
    bool first_only = size % 2 == 1;
    CHECK(image_find_regions(&image, first_only));
    uint64_t twice = UINT64_MAX, differing = UINT64_MAX, widest = 0; // the lowest such addresses
    for (const auto &[address, values] : given)
        for (uint8_t value : values) {
            twice = values.size() > 1 ? std::min(twice, address) : twice;
            differing = value != values[0] ? std::min(differing, address) : differing;
        }

    // Regions: the runs of addresses given, each painted both ways.
    const image_region_t *r = image.regions.items, *regions_end = r + image.regions.count;
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
                     std::min(blocks[i].end, blocks[j].end);
    CHECK(image.overlaps.count == (first_only ? std::min<size_t>(pairs, 1) : pairs));
    for (size_t i = 0; i < image.overlaps.count; i++) {
        const image_overlap_t *o = &image.overlaps.items[i];
        const model_block_t &a = blocks[o->earlier->place], &b = blocks[o->later->place];
        CHECK(o->earlier->place < o->later->place && o->address == std::max(a.address, b.address));
        CHECK(o->end == std::min(a.end, b.end) && image_input_of(&image, o->earlier) == a.input);
        CHECK(image_input_of(&image, o->later) == b.input);
    }
    uint64_t at;
    CHECK(!overlaps_refused(&image, OVERLAP_FIRST, &at));
    CHECK(!overlaps_refused(&image, OVERLAP_LAST, &at));
    CHECK(overlaps_refused(&image, OVERLAP_ERROR, &at) ? at == twice : twice == UINT64_MAX);
    if (!first_only)
        CHECK(overlaps_refused(&image, OVERLAP_SAME, &at) ? at == differing : ~differing == 0);

    // The view reads each region; with the gaps filled, the whole span reads
    // in chunks of any size across pieces, the pad's pattern in the gaps.
    image_view_t view;
    CHECK(image_view_of(&image, IMAGE_LAST_WINS, image_pad_t{0xFF, 1}, &view));
    std::vector<uint8_t> scratch(widest + 97);
    size_t cursor = 0;
    for (r = image.regions.items; r < regions_end; r++) {
        uint64_t n = r->end - r->address;
        const uint8_t *bytes = image_view_bytes(&view, &cursor, r->address, n, scratch.data());
        for (uint64_t a = r->address; a < r->end; a++)
            CHECK(bytes[a - r->address] == given[a].back());
    }
    uint64_t first = given.empty() ? 0 : given.begin()->first;
    uint64_t end = given.empty() ? 0 : given.rbegin()->first + 1;
    CHECK(given.empty() || image_view_hole(&view, first, end) == image.regions.items[0].end);
    for (size_t k = 1; k < image.regions.count && end - first <= 8192; k++)
        CHECK(image_view_add(&view, uint32_t(image.regions.items[k - 1].end), image.regions.items[k].address,
                             nullptr));
    image_view_sort(&view);
    view.pad = image_pad_t{0xA5B6C7D8, 4}; // in phase with address 0
    cursor = 0;
    for (uint64_t a = first, step = 1 + size % 97, n; a < end && end - first <= 8192; a += step) {
        n = std::min(step, end - a);
        const uint8_t *bytes = image_view_bytes(&view, &cursor, a, n, scratch.data());
        for (uint64_t i = 0; i < n; i++)
            CHECK(bytes[i] == (given.count(a + i) ? given[a + i].back() : uint8_t(0xA5B6C7D8 >> 8 * ((a + i) % 4))));
    }
    image_view_free(&view);
    image_free(&image);
    return 0;
}
